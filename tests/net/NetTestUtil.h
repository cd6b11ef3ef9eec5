#pragma once
// Helpers for loopback tests: run the event loop until something holds, and a
// plain non-blocking client socket to stand for the far end.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

inline bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 20000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

inline void RunEventsFor(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
}

class RawPeer {
public:
    RawPeer() = default;
    // A small receive buffer makes the sender queue early.
    explicit RawPeer(int port, int receiveBuffer = 0) { Connect(port, receiveBuffer); }
    ~RawPeer() { Close(); }
    RawPeer(const RawPeer&) = delete;
    RawPeer& operator=(const RawPeer&) = delete;

    bool Connect(int port, int receiveBuffer = 0)
    {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        if (receiveBuffer > 0)
            setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(uint16_t(port));
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bool ok = connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
        fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
        return ok;
    }
    // Small writes on loopback go straight into the kernel's buffers.
    bool Send(const std::string& bytes)
    {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            done += size_t(n);
        }
        return true;
    }
    // Reads what is there now; false once the connection has ended.
    bool Poll()
    {
        char buf[65536];
        for (;;) {
            ssize_t n = recv(fd_, buf, sizeof buf, 0);
            if (n > 0) {
                received.append(buf, size_t(n));
                continue;
            }
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
                ended = true;
            return !ended;
        }
    }
    bool WaitReceived(size_t count, int timeoutMs = 20000)
    {
        return WaitFor(
                   [&] {
                       Poll();
                       return received.size() >= count || ended;
                   },
                   timeoutMs) &&
               received.size() >= count;
    }
    bool WaitEnded(int timeoutMs = 20000)
    {
        return WaitFor(
            [&] {
                Poll();
                return ended;
            },
            timeoutMs);
    }
    void Close()
    {
        if (fd_ >= 0)
            close(fd_);
        fd_ = -1;
    }
    int fd() const { return fd_; }

    std::string received;
    bool ended = false;

private:
    int fd_ = -1;
};
