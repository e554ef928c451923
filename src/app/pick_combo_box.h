#pragma once
// A combo box that tells its owner before its list drops down, and reports a
// change on every change of its text and on every pick from its list, once
// each: a pick of the entry already shown is a pick too (a port picked again
// is opened again, after an unplug or a failed start). The main window's .ui
// file uses it for its port and serial-number boxes.

#include <QComboBox>

class PickComboBox : public QComboBox {
    Q_OBJECT

public:
    explicit PickComboBox(QWidget* parent = nullptr);

    void showPopup() override;

signals:
    // Before the list drops down, so the owner can fill it anew.
    void droppingDown();
    // The text changed, or an entry was picked.
    void changed();

private:
    bool m_changed = false;
};
