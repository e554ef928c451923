#include "qt_serial_events.h"

#include "com_sync.h"
#include "handler.h"

#include <QCoreApplication>
#include <QMetaObject>

void InstallQtSerialEventDelivery()
{
    // The poster only queues; the serial library blocks its event thread until
    // the call ran, and Close cancels a call still queued while it joins.
    SetMainThreadPoster([](std::function<void()> call) {
        if (QCoreApplication* app = QCoreApplication::instance())
            QMetaObject::invokeMethod(app, std::move(call), Qt::QueuedConnection);
    });
    SetApplicationExceptionHandler([](std::exception_ptr error) {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            ShowStandardError(e);
        } catch (...) {
        }
    });
}
