#pragma once
// The remote access service: one TCP session at a time, admitted by password,
// with full access (its input goes to the PBX) or as a viewer. Settings are
// read at the moment of use through the functions the window supplies.
#include "core/RemoteLogin.h"
#include "core/SourcePenalties.h"
#include "net/SocketApi.h"
#include "support/Clock.h"

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QTimer;
class TWSocket;
using TSocketHandle = SockApi::Handle;

struct TRemoteSettings {
    std::string Address;  // a dotted quad, else 127.0.0.1 is used
    std::string Port;     // without hexadecimal digits 2323 is used
    std::string FullAccessPassword;
    std::string ViewerPassword;
};

// What the operator is to learn of clients: who logged in and out, who was refused.
struct TRemoteEvent {
    enum Kind {
        WrongPassword,  // a wrong password (or no line end within the limit)
        Penalty,        // the address is shut out for PenaltyMs
        Refused,        // a connection from a penalised address was closed unheard
        LoginTimeOut,   // no password line within the grace time
        AcceptPaused,   // out of descriptors or memory: accepting retries by itself
        LoggedIn,       // FullAccess says which level
        Busy,           // a second client was told the service is busy
        LoggedOut,      // the logged-in session ended
    };
    Kind kind;
    std::string Address;
    int64_t PenaltyMs = 0;
    bool FullAccess = false;
};

struct TRemoteCounts {
    uint64_t WrongPasswords = 0;
    uint64_t Penalties = 0;
    uint64_t Refused = 0;
    uint64_t LoginTimeOuts = 0;
};

class TRemoteAccess : public QObject {
    Q_OBJECT
public:
    struct Hooks {
        std::function<bool()> Enabled;              // the "Enable" box
        std::function<TRemoteSettings()> Settings;  // address, port and passwords
        std::function<void(const std::string&)> SendToPort;
        std::function<void(const TRemoteEvent&)> OnEvent;  // optional; Counts() are updated first
        // Optional: true while the port is still writing what it was last given;
        // input then waits until PortWriteDone.
        std::function<bool()> PortBusy;
    };

    explicit TRemoteAccess(Hooks hooks, NowFunction now = SystemNow, QObject* parent = nullptr);
    ~TRemoteAccess() override;

    // Start-up: listens when enabled. A listener failure is thrown to the caller.
    void Start();
    // Save: listens anew when enabled (a logged-in session stays), else stops.
    void Apply();
    // Ends the session and the listener.
    void Stop();
    // PBX output for a logged-in client.
    void Relay(const std::string& text);
    // The port finished a write: input that waited for it goes out.
    void PortWriteDone();

    bool RemoteAuthorised() const { return remoteAuthorised_; }
    bool RemoteFullAccess() const { return remoteFullAccess_; }
    // The address of the session being greeted or logged in.
    const std::string& ClientAddress() const { return clientAddress_; }
    const TWSocket& Server() const { return *WSvr; }
    const TWSocket& Client() const { return *WCli; }
    const TRemoteCounts& Counts() const { return counts_; }
    size_t PortQueueBytes() const { return portQueue_.size(); }

    static constexpr int kRefusalPauseMs = 600;
    // A client must complete its password line within this time.
    static constexpr int64_t kLoginGraceMs = 30 * 1000;
    // Keep-alive on a session: a client whose machine vanished is found in about two minutes.
    static constexpr int kKeepAliveIdleSeconds = 60;
    static constexpr int kKeepAliveIntervalSeconds = 10;
    static constexpr int kKeepAliveProbes = 3;
    static constexpr int kAcceptRetryFirstMs = 100;
    static constexpr int kAcceptRetryMaxMs = 2000;
    // Full-access input waiting for the port; past it the client's connection
    // holds the rest (its window closes), so nothing is lost.
    static constexpr size_t kPortQueueLimit = 64 * 1024;
    // A client that stops reading is dropped rather than buffered for without end.
    static constexpr size_t kClientQueueLimit = 1024 * 1024;

private:
    void Listen();
    void WSvrSessionAvailable();
    // Accepting pauses while a refused client is ended or the system is short
    // of resources; the clients meanwhile wait in the listen queue.
    void UpdateAccepting();
    // Greets the accepted connection, or tells it the service is busy. An error
    // ends that connection only.
    void Admit(TSocketHandle h);
    void WCliDataAvailable();
    void TakeInput();
    bool PortBusy() const { return hooks_.PortBusy && hooks_.PortBusy(); }
    void WCliSessionClosed();
    // The logged-in session is over, however it ended; reported once.
    void LoggedOut();
    void Refuse(const std::string& address);
    void CheckLoginGrace();
    void Report(const TRemoteEvent& event);

    Hooks hooks_;
    NowFunction now_;
    std::unique_ptr<TWSocket> WSvr, WCli, WTmp;
    QTimer* refusalTimer_ = nullptr;  // ends a refused session a moment later; accepting waits meanwhile
    bool remoteAuthorised_ = false;
    bool remoteFullAccess_ = false;
    TLoginLine remoteLoginText_;
    QTimer* acceptRetry_ = nullptr;  // the next accept after a shortage of resources
    int acceptDelayMs_ = 0;
    std::string clientAddress_;     // of the session on WCli
    QTimer* graceTimer_ = nullptr;  // looks at the clock while a client is at the prompt
    QDateTime loginStart_;
    TSourcePenalties penalties_;
    TRemoteCounts counts_;
    std::string portQueue_;
    QTimer* portCheck_ = nullptr;  // in case a write's end is not reported
};
