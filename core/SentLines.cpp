#include "core/SentLines.h"

#include <algorithm>

TSentLines::TSentLines(NowFunction now, int idleMs, QObject* parent)
    : QObject(parent), now_(std::move(now)), idleMs_(idleMs)
{
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &TSentLines::Check);
}

void TSentLines::Add(std::string_view bytes)
{
    for (const char c : bytes) {
        if (c == '\r' || c == '\n') {
            // The LF of a CR LF ends nothing more.
            if (c == '\n' && line_.empty() && lastEnd_ == '\r') {
                lastEnd_ = 0;
                continue;
            }
            lastEnd_ = c;
            const std::string line = std::move(line_);
            line_.clear();
            if (OnLine)
                OnLine(line);
            continue;
        }
        lastEnd_ = 0;
        line_.push_back(c);
    }
    last_ = now_();
    if (line_.empty())
        timer_.stop();
    else
        timer_.start(idleMs_);
}

void TSentLines::Flush()
{
    timer_.stop();
    if (line_.empty())
        return;
    const std::string line = std::move(line_);
    line_.clear();
    if (OnLine)
        OnLine(line);
}

void TSentLines::Check()
{
    if (line_.empty())
        return;
    const qint64 left = idleMs_ - last_.msecsTo(now_());
    if (left > 0) {
        timer_.start(int(std::min<qint64>(left, idleMs_)));
        return;
    }
    Flush();
}
