#include "core/SilenceWatch.h"

#include <algorithm>

TSilenceWatch::TSilenceWatch(NowFunction now, QObject* parent) : QObject(parent), now_(std::move(now))
{
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &TSilenceWatch::Check);
}

void TSilenceWatch::SetQuietMinutes(int minutes)
{
    quietMinutes_ = std::max(0, minutes);
    Arm();
}

void TSilenceWatch::PortOpened()
{
    open_ = true;
    silent_ = false;
    lastHeard_ = now_();
    Arm();
}

void TSilenceWatch::PortClosed()
{
    open_ = false;
    silent_ = false;
    timer_.stop();
}

void TSilenceWatch::Heard()
{
    // Cheap on every cluster: the timer is not restarted, Check finds the newer time.
    lastHeard_ = now_();
    if (!silent_)
        return;
    silent_ = false;
    if (OnSilenceEnd)
        OnSilenceEnd();
    Arm();
}

void TSilenceWatch::Check()
{
    if (!open_ || silent_ || quietMinutes_ == 0)
        return;
    const QDateTime due = lastHeard_.addSecs(qint64(quietMinutes_) * 60);
    if (now_() < due) {
        Arm();
        return;
    }
    silent_ = true;
    if (OnSilence)
        OnSilence(lastHeard_);
}

void TSilenceWatch::Arm()
{
    if (!open_ || silent_ || quietMinutes_ == 0) {
        timer_.stop();
        return;
    }
    const qint64 left = now_().msecsTo(lastHeard_.addSecs(qint64(quietMinutes_) * 60));
    // At least a second apart: a clock that jumps must not make the timer spin.
    timer_.start(int(std::clamp<qint64>(left, 1000, 60 * 60 * 1000)));
}
