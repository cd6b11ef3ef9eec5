#pragma once
// A pseudo-terminal standing in for the PBX: the test holds the master side,
// the program opens the slave path as its serial port.
#include <string>

class PtyPort {
public:
    PtyPort();
    ~PtyPort();
    PtyPort(const PtyPort&) = delete;
    PtyPort& operator=(const PtyPort&) = delete;

    const std::string& SlavePath() const { return slave_; }
    void Write(const std::string& bytes);
    // What the program sent, waiting (running the event loop) until count
    // bytes arrived or timeoutMs passed.
    std::string Read(size_t count, int timeoutMs = 5000);
    // Everything that arrives within quietMs.
    std::string Drain(int quietMs = 300);
    // The line speed the program set on its side, in bit/s.
    unsigned Speed() const;

private:
    int master_ = -1;
    std::string slave_;
};
