#pragma once
// Helpers for loopback tests: run the event loop until something holds, a
// plain non-blocking client socket to stand for the far end, and a listener
// with the TWSocket that adopts each connection it accepts.
#include "net/WSocket.h"
#include "tests/WaitUntil.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

inline bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 20000)
{
    return WaitUntil(condition, timeoutMs);
}

// Runs what is ready now (posted events, readable or writable sockets) until
// nothing is left; never waits for more.
inline void RunReadyEvents()
{
    QEventLoop loop;
    for (int pass = 0; pass < 1000 && loop.processEvents(QEventLoop::AllEvents); ++pass) {
    }
}

class RawPeer {
public:
    RawPeer() = default;
    // A small receive buffer makes the sender queue early.
    explicit RawPeer(int port, int receiveBuffer = 0) { Connect(port, receiveBuffer); }
    ~RawPeer() { Close(); }
    RawPeer(const RawPeer&) = delete;
    RawPeer& operator=(const RawPeer&) = delete;

    // from: another loopback address (127.0.0.2 ...) to connect from.
    bool Connect(int port, int receiveBuffer = 0, const char* from = nullptr)
    {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        if (receiveBuffer > 0)
            setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        if (from) {
            sockaddr_in local{};
            local.sin_family = AF_INET;
            inet_pton(AF_INET, from, &local.sin_addr);
            if (bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
                return false;
        }
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

// The text of the ESocketException that action raises.
inline std::string ErrorText(const std::function<void()>& action)
{
    try {
        action();
    } catch (const ESocketException& e) {
        return e.what();
    }
    return "(no error)";
}

// A listener on 127.0.0.1 and the socket that adopts each accepted connection.
class Loopback : public ::testing::Test {
protected:
    void SetUp() override
    {
        srv.SetAddr("127.0.0.1");
        srv.SetPort("0");
        srv.OnSessionAvailable = [this](TWSocket* s, uint16_t error) {
            log.push_back("available:" + std::to_string(error));
            cli.Dup(s->Accept());
        };
        cli.OnDataAvailable = [this](TWSocket* s, uint16_t) {
            std::string text = s->ReceiveString();
            if (!text.empty()) {
                received += text;
                log.push_back("data");
            }
        };
        cli.OnSessionClosed = [this](TWSocket*, uint16_t error) {
            log.push_back("closed:" + std::to_string(error) + " after " + std::to_string(received.size()));
        };
        srv.Listen();
        port = std::stoi(srv.GetXPort());
    }

    // A peer connected and adopted by cli.
    std::unique_ptr<RawPeer> Admit(int receiveBuffer = 0)
    {
        auto peer = std::make_unique<RawPeer>(port, receiveBuffer);
        EXPECT_TRUE(WaitFor([&] { return cli.State() == wsConnected; }));
        return peer;
    }

    TWSocket srv, cli;
    std::vector<std::string> log;
    std::string received;
    int port = 0;
};
