#pragma once
// Runs the event loop until a condition holds or the time-out passes, without
// spinning a core while nothing is ready. True when the condition holds.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <functional>

inline bool WaitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return true;
}
