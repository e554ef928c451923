#pragma once
// Answers a dialog from a test: acts on it each time it runs modally.

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <functional>

// Acts on a dialog each time it runs modally (inside its exec()).
class ModalAnswer {
public:
    ModalAnswer(QWidget* dialog, std::function<void(QWidget*)> act) : m_dialog(dialog), m_act(std::move(act))
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal != m_dialog) {
                m_acted = false;
                return;
            }
            if (m_acted)
                return;
            m_acted = true;
            ++m_count;
            m_act(m_dialog);
        });
        m_timer.start(5);
    }
    int count() const { return m_count; }

private:
    QWidget* m_dialog;
    std::function<void(QWidget*)> m_act;
    QTimer m_timer;
    bool m_acted = false;
    int m_count = 0;
};
