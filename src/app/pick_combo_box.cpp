#include "pick_combo_box.h"

#include <utility>

PickComboBox::PickComboBox(QWidget* parent) : QComboBox(parent)
{
    connect(this, &QComboBox::currentTextChanged, this, [this] {
        m_changed = true;
        emit changed();
    });
    // A pick that changed the text has reported it already.
    connect(this, &QComboBox::activated, this, [this] {
        if (!std::exchange(m_changed, false))
            emit changed();
    });
}

void PickComboBox::showPopup()
{
    m_changed = false;
    emit droppingDown();
    QComboBox::showPopup();
}
