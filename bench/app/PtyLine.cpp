#include "bench/app/PtyLine.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

PtyLine::PtyLine()
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[PATH_MAX] = {};
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, name, sizeof name) != 0) {
        std::perror("pty");
        std::abort();
    }
    slavePath_ = name;
    keeper_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios t{};
    if (keeper_ >= 0 && tcgetattr(keeper_, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(keeper_, TCSANOW, &t);
    }
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyLine::~PtyLine()
{
    Stop();
    close(keeper_);
    close(master_);
}

int PtyLine::Waiting() const
{
    int waiting = 0;
    return ioctl(keeper_, FIONREAD, &waiting) == 0 ? waiting : -1;
}

void PtyLine::Feed(std::function<std::string()> next, double bytesPerSecond)
{
    Stop();
    stop_ = false;
    feeding_ = true;
    thread_ = std::thread([this, next = std::move(next), bytesPerSecond] {
        Run(next, bytesPerSecond);
        feeding_ = false;
    });
}

void PtyLine::Stop()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
}

void PtyLine::Run(const std::function<std::string()>& next, double bytesPerSecond)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    long long sent = 0;
    while (!stop_) {
        const std::string piece = next();
        if (piece.empty())
            return;
        if (bytesPerSecond > 0) {
            const auto due = start + std::chrono::duration_cast<Clock::duration>(
                                         std::chrono::duration<double>(double(sent) / bytesPerSecond));
            // Sleep in short steps so that a stop is seen.
            while (!stop_ && Clock::now() < due)
                std::this_thread::sleep_for(
                    std::min<Clock::duration>(due - Clock::now(), std::chrono::milliseconds(50)));
        }
        if (!WriteAll(piece))
            return;
        sent += (long long)piece.size();
    }
}

bool PtyLine::WriteAll(const std::string& piece)
{
    size_t done = 0;
    char sink[4096];
    while (done < piece.size()) {
        const ssize_t n = write(master_, piece.data() + done, piece.size() - done);
        if (n > 0) {
            done += size_t(n);
            written_ += n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        pollfd p{master_, POLLOUT | POLLIN, 0};
        poll(&p, 1, 100);
        if (p.revents & POLLIN)
            while (read(master_, sink, sizeof sink) > 0) {
            }
        if (stop_)
            return false;
    }
    return true;
}
