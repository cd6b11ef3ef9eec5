#pragma once
// A far host on 127.0.0.1 for the program's client connections and services:
// it takes one connection at a time (a new one replaces the old), greets it if
// asked, and keeps every byte the current connection sent.
#include "tests/net/NetTestUtil.h"

#include <string>

class LoopbackHost {
public:
    // A small receive buffer lets the sender's queue grow when this stops reading.
    explicit LoopbackHost(int port, std::string greeting = {}, int receiveBuffer = 0)
        : port_(port), greeting_(std::move(greeting))
    {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        int on = 1;
        setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (receiveBuffer > 0)
            setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sa.sin_port = htons(uint16_t(port));
        ok_ = bind(listener_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 && listen(listener_, 5) == 0;
    }
    ~LoopbackHost()
    {
        if (conn_ >= 0)
            close(conn_);
        close(listener_);
    }
    LoopbackHost(const LoopbackHost&) = delete;
    LoopbackHost& operator=(const LoopbackHost&) = delete;

    bool ok() const { return ok_; }
    int port() const { return port_; }

    // Ends the connection with a reset, as a host that crashes does.
    void Reset()
    {
        linger abort{1, 0};
        setsockopt(conn_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        close(conn_);
        conn_ = -1;
    }
    void Poll()
    {
        const int fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK);
        if (fd >= 0) {
            if (conn_ >= 0)
                close(conn_);
            conn_ = fd;
            ++accepted;
            received.clear();
            if (!greeting_.empty())
                send(conn_, greeting_.data(), greeting_.size(), MSG_NOSIGNAL);
        }
        if (conn_ < 0 || !reading)
            return;
        char buf[65536];
        ssize_t n = 0;
        while ((n = recv(conn_, buf, sizeof buf, 0)) > 0)
            received.append(buf, size_t(n));
        if (n == 0) {
            close(conn_);
            conn_ = -1;
            ++ended;
        }
    }
    // Runs the event loop, taking connections and bytes, until condition holds.
    bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 20000)
    {
        return ::WaitFor([&] { return Poll(), condition(); }, timeoutMs);
    }
    bool WaitReceived(size_t count, int timeoutMs = 20000)
    {
        return WaitFor([&] { return received.size() >= count; }, timeoutMs);
    }

    std::string received;
    int accepted = 0;
    int ended = 0;
    bool reading = true;

private:
    int port_;
    std::string greeting_;
    int listener_ = -1;
    int conn_ = -1;
    bool ok_ = false;
};
