#include "app/SessionEnd.h"

#include "support/SysCall.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int pipeFds[2] = {-1, -1};

void OnSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = RetryEintr([&] { return ::write(pipeFds[1], &byte, 1); });
    errno = saved;
}

}  // namespace

TSessionEndWatcher::TSessionEndWatcher(std::function<void()> onEnd, QObject* parent)
    : QObject(parent), onEnd_(std::move(onEnd))
{
    if (pipeFds[0] < 0 && ::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    notifier_ = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        char buf[64];
        while (RetryEintr([&] { return ::read(pipeFds[0], buf, sizeof buf); }) > 0) {
        }
        if (onEnd_)
            onEnd_();
    });
    // The session manager's commit request also comes for checkpoints and for
    // logouts that are cancelled later; only the quit that follows a real end counts.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        if (onEnd_)
            onEnd_();
    });
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGHUP, &sa, nullptr);
}

TSessionEndWatcher::~TSessionEndWatcher()
{
    ::signal(SIGTERM, SIG_DFL);
    ::signal(SIGHUP, SIG_DFL);
}
