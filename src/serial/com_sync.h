#pragma once
// Delivering line events on the user-interface thread without tying the
// serial library to a toolkit.
//
// The application installs a poster: it queues a callable to run later on the
// UI thread and returns at once (a Qt program posts it with
// QMetaObject::invokeMethod(qApp, fn, Qt::QueuedConnection)). The library
// itself makes the call synchronous: the event thread posts a "serve" callable
// and blocks until the UI thread has run the dispatch, or until Close cancels
// it. Without a poster, events are dispatched on the event thread itself.

#include <exception>
#include <functional>

using TMainThreadPoster = std::function<void(std::function<void()>)>;

// Process-wide; an empty poster removes the installed one.
void SetMainThreadPoster(TMainThreadPoster poster);

// Errors that escape an event handler end that dispatch and are handed here,
// on the thread that ran the handler. EComAbort never arrives here.
// Default: the error's text goes to stderr and the error is dropped.
void SetApplicationExceptionHandler(std::function<void(std::exception_ptr)> handler);
