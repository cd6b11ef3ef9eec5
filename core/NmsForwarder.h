#pragma once
// NMS forwarding: a copy of all PBX output to a management host over telnet,
// kept while the link is down and sent ahead of the next output once it is up.
// No timer drives it: a reconnection is tried when output arrives, at most
// once every seven seconds.
#include "support/Clock.h"

#include <QDateTime>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TTnCnx;

struct TNmsSettings {
    std::string Host;  // used only when a dotted quad
    std::string Port;  // used only when it has hexadecimal digits
};

class TNmsForwarder {
public:
    struct Hooks {
        std::function<bool()> Enabled;           // the NMS "Enable" box
        std::function<TNmsSettings()> Settings;  // host and port
        // A forwarding error, once until the link works or is set up again.
        std::function<void(const std::string& problem)> OnProblem;
    };

    explicit TNmsForwarder(Hooks hooks, NowFunction now = SystemNow);
    ~TNmsForwarder();
    TNmsForwarder(const TNmsForwarder&) = delete;
    TNmsForwarder& operator=(const TNmsForwarder&) = delete;

    // Start-up: connects when enabled. A connect error is thrown to the caller.
    void Start();
    // Save: drops what is kept and connects anew when enabled, else stops.
    void Apply();
    void Stop();
    // PBX output: sent when the link is up, else kept (bounded) for later.
    void Forward(const std::string& text);

    // Optional, for the event log: the link came up or went down ("HOST:PORT"
    // names it; down is told once until it is up again), and output the bound
    // dropped while it was down.
    std::function<void(const std::string& link)> OnUp;
    std::function<void(const std::string& link, const std::string& error)> OnDown;
    std::function<void(uint64_t bytes)> OnDropped;

    const std::string& NmsPending() const { return nmsPending_; }
    const QDateTime& NmsLastAttempt() const { return nmsLastAttempt_; }
    const TTnCnx& Link() const { return *TnCnx; }
    TTnCnx& Link() { return *TnCnx; }

    static constexpr qint64 kRetryMs = 7000;
    static constexpr size_t kPendingLimit = 16u * 1024 * 1024;
    // Dropping a megabyte at a time keeps a flood from moving 16 MiB per cluster.
    static constexpr size_t kPendingDropStep = 1024 * 1024;
    // More than this waiting in the link's own queue (telnet answers included)
    // means the host has stopped reading: new output is kept (and bounded)
    // here instead, and nothing more is read from the host.
    static constexpr size_t kLinkQueueLimit = 1024 * 1024;
    // What the host sends is dropped; it is read no faster than this.
    static constexpr size_t kHostReadRate = 1024 * 1024;

private:
    void ApplyHostAndPort();
    void ConnectReporting();
    void Keep(const std::string& text);
    std::string LinkName() const;
    void Down(const std::string& error);

    Hooks hooks_;
    NowFunction now_;
    std::unique_ptr<TTnCnx> TnCnx;
    std::string nmsPending_;
    QDateTime nmsLastAttempt_;
    uint64_t dropped_ = 0;       // output lost to the bound since the link was last up
    bool problemShown_ = false;  // one report until the link works or is set up again
    bool up_ = false;            // OnUp was told, OnDown not yet
    bool downTold_ = false;      // OnDown was told, OnUp not yet
};
