#include "core/PortReopen.h"

TPortReopen::TPortReopen(std::function<bool()> reopen, NowFunction now, int retryMs, QObject* parent)
    : QObject(parent), reopen_(std::move(reopen)), now_(std::move(now))
{
    timer_.setInterval(retryMs);
    connect(&timer_, &QTimer::timeout, this, &TPortReopen::Retry);
}

void TPortReopen::Lost(const std::string& cause)
{
    if (Retrying())
        return;
    lostAt_ = now_();
    timer_.start();
    if (OnLost)
        OnLost(lostAt_, cause);
}

void TPortReopen::Stop() { timer_.stop(); }

void TPortReopen::Retry()
{
    if (!reopen_())
        return;
    timer_.stop();
    if (OnBack)
        OnBack();
}
