#include "tests/app/PtyPort.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <asm/termbits.h>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <unistd.h>

PtyPort::PtyPort()
{
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
        throw std::runtime_error("no pseudo-terminal");
    slave_ = ::ptsname(master_);
    // Raw: the program's bytes arrive here untouched.
    termios2 tio{};
    ::ioctl(master_, TCGETS2, &tio);
    tio.c_iflag &= ~tcflag_t(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
    tio.c_oflag &= ~tcflag_t(OPOST);
    tio.c_lflag &= ~tcflag_t(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag = (tio.c_cflag & ~tcflag_t(CSIZE | PARENB)) | CS8;
    ::ioctl(master_, TCSETS2, &tio);
}

PtyPort::~PtyPort()
{
    if (master_ >= 0)
        ::close(master_);
}

void PtyPort::Write(const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += size_t(n);
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            throw std::runtime_error("pty write failed");
        else
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

std::string PtyPort::Read(size_t count, int timeoutMs)
{
    std::string out;
    QElapsedTimer timer;
    timer.start();
    while (out.size() < count && timer.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        pollfd pfd{master_, POLLIN, 0};
        if (::poll(&pfd, 1, 10) > 0 && (pfd.revents & POLLIN)) {
            char buf[4096];
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n > 0)
                out.append(buf, size_t(n));
        }
    }
    return out;
}

std::string PtyPort::Drain(int quietMs) { return Read(size_t(-1), quietMs); }

unsigned PtyPort::Speed() const
{
    termios2 tio{};
    return ::ioctl(master_, TCGETS2, &tio) == 0 ? tio.c_ospeed : 0;
}
