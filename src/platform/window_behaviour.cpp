#include "window_behaviour.h"

#include <QGuiApplication>
#include <QScreen>

#include <QEvent>
#include <QKeyEvent>
#include <QObject>
#include <QWidget>

namespace {

class EscapeFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
            return true;
        return QObject::eventFilter(watched, event);
    }
};

}  // namespace

void IgnoreEscape(QWidget* window)
{
    window->installEventFilter(new EscapeFilter(window));
}

void CentreOnScreen(QWidget& window)
{
    if (QScreen* screen = QGuiApplication::primaryScreen())
        window.move(screen->availableGeometry().center() - window.rect().center());
}
