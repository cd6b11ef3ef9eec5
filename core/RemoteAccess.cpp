#include "core/RemoteAccess.h"

#include "net/WSocket.h"
#include "support/MyUtils.h"

#include <QTimer>
#include <algorithm>
#include <cstdlib>

namespace {

void SetFormSettings(TWSocket& socket)
{
    socket.SetAddr("127.0.0.1");
    socket.SetPort("2323");
    socket.SetProto("tcp");
    socket.SetLocalAddr("0.0.0.0");
    socket.SetLocalPort("0");
    socket.SetLingerOnOff(wsLingerOn);
    socket.SetLingerTimeout(0);
    socket.SetFlushTimeout(60);
}

// Ends a connection so that the text just sent reaches the client. The form's
// zero linger makes Close send a reset, which lets the client's system throw
// away text it has not handed to the client yet; Abort switches linger off, so
// the system sends what is queued and then an orderly end. Unread input would
// turn that end into a reset too, so it is read first.
void EndAfterText(TWSocket& socket)
{
    while (socket.State() == wsConnected && socket.RcvdCount() > 0 && !socket.ReceiveString().empty()) {
    }
    socket.Abort();
}

// An error of one connection ends that connection; whatever it throws while
// ending is of no further interest.
void EndQuietly(TWSocket& socket, const std::function<void(TWSocket&)>& end)
{
    try {
        end(socket);
    } catch (const std::exception&) {
        try {
            socket.Abort();
        } catch (const std::exception&) {
        }
    }
}

// The system is short of descriptors or memory: accepting may work again later.
bool IsResourceAcceptError(int code) { return code == SockApi::ErrTooManyFiles || code == SockApi::ErrNoBuffers; }

// Errors of the one connection being accepted (it was given up, or a network
// error was pending on it): the listener itself is fine, the next accept may work.
bool IsConnectionAcceptError(int code)
{
    switch (code) {
    case SockApi::ErrWouldBlock:
    case SockApi::ErrConnAborted:
    case SockApi::ErrNoProtocolOption:
    case SockApi::ErrOpNotSupported:
    case SockApi::ErrNetDown:
    case SockApi::ErrNetUnreachable:
    case SockApi::ErrHostDown:
    case SockApi::ErrHostUnreachable:
        return true;
    default:
        return false;
    }
}

}  // namespace

TRemoteAccess::TRemoteAccess(Hooks hooks, NowFunction now, QObject* parent)
    : QObject(parent),
      hooks_(std::move(hooks)),
      now_(std::move(now)),
      WSvr(std::make_unique<TWSocket>()),
      WCli(std::make_unique<TWSocket>()),
      WTmp(std::make_unique<TWSocket>())
{
    for (TWSocket* socket : {WSvr.get(), WCli.get(), WTmp.get()})
        SetFormSettings(*socket);
    WSvr->OnSessionAvailable = [this](TWSocket*, uint16_t) { WSvrSessionAvailable(); };
    WCli->OnDataAvailable = [this](TWSocket*, uint16_t) { WCliDataAvailable(); };
    WCli->OnSessionClosed = [this](TWSocket*, uint16_t) { WCliSessionClosed(); };

    // A refused client stays connected for a moment, which slows a password
    // guesser without blocking the window. Clients that arrive meanwhile wait in
    // the listen queue and are taken once it has gone; a guesser that hangs up
    // does not end the pause sooner.
    refusalTimer_ = new QTimer(this);
    refusalTimer_->setSingleShot(true);
    refusalTimer_->setInterval(kRefusalPauseMs);
    connect(refusalTimer_, &QTimer::timeout, this, [this] {
        if (WCli->State() == wsConnected)
            EndQuietly(*WCli, [](TWSocket& socket) { EndAfterText(socket); });
        UpdateAccepting();
    });

    graceTimer_ = new QTimer(this);
    graceTimer_->setInterval(1000);
    connect(graceTimer_, &QTimer::timeout, this, [this] { CheckLoginGrace(); });

    portCheck_ = new QTimer(this);
    portCheck_->setInterval(1000);
    connect(portCheck_, &QTimer::timeout, this, [this] { PortWriteDone(); });

    acceptRetry_ = new QTimer(this);
    acceptRetry_->setSingleShot(true);
    connect(acceptRetry_, &QTimer::timeout, this, [this] { UpdateAccepting(); });
}

TRemoteAccess::~TRemoteAccess()
{
    // No socket event may reach the service while its parts are taken down.
    WSvr->OnSessionAvailable = nullptr;
    WCli->OnDataAvailable = nullptr;
    WCli->OnSessionClosed = nullptr;
    WTmp.reset();
    WCli.reset();
    WSvr.reset();
}

void TRemoteAccess::Listen()
{
    const TRemoteSettings settings = hooks_.Settings();
    WSvr->SetAddr(IsDottedQuad(settings.Address) ? settings.Address : "127.0.0.1");
    WSvr->SetPort(HexDigitsOf(settings.Port).empty() ? "2323" : settings.Port);
    WSvr->Listen();
}

void TRemoteAccess::Start()
{
    remoteAuthorised_ = false;
    remoteFullAccess_ = false;
    remoteLoginText_.Clear();
    if (hooks_.Enabled())
        Listen();
}

void TRemoteAccess::Apply()
{
    if (hooks_.Enabled()) {
        if (WSvr->State() != wsClosed)
            WSvr->Close();
        Listen();
        return;
    }
    Stop();
}

void TRemoteAccess::Stop()
{
    portQueue_.clear();
    portCheck_->stop();
    acceptRetry_->stop();
    acceptDelayMs_ = 0;
    if (WSvr->State() != wsClosed)
        WSvr->Close();
    if (WCli->State() != wsClosed)
        WCli->Close();
    LoggedOut();
}

void TRemoteAccess::Relay(const std::string& text)
{
    if (!hooks_.Enabled() || WCli->State() != wsConnected || !remoteAuthorised_)
        return;
    try {
        WCli->SendString(text);
        if (WCli->State() == wsConnected && WCli->BufferedByteCount() > kClientQueueLimit) {
            WCli->Close();  // the capture file keeps everything the client missed
            LoggedOut();
        }
    } catch (const std::exception&) {
        // A failing session must not cost the display or the capture this cluster.
        try {
            WCli->Abort();
        } catch (const std::exception&) {
        }
        LoggedOut();
    }
}

void TRemoteAccess::UpdateAccepting()
{
    if (WSvr->State() != wsListening)
        return;
    // A resumed listener reports the clients that waited meanwhile.
    if (refusalTimer_->isActive() || acceptRetry_->isActive())
        WSvr->PauseReceive();
    else
        WSvr->ResumeReceive();
}

void TRemoteAccess::WSvrSessionAvailable()
{
    if (refusalTimer_->isActive() || acceptRetry_->isActive()) {
        UpdateAccepting();  // left in the listen queue until the pause ends
        return;
    }
    TSocketHandle h = INVALID_SOCKET;
    try {
        h = WSvr->Accept();
    } catch (const ESocketException&) {
        const int code = WSvr->LastError();
        if (IsConnectionAcceptError(code))
            return;
        if (!IsResourceAcceptError(code))
            throw;
        // Out of descriptors or memory: the client waits in the listen queue
        // while the system recovers, from 100 ms up to 2 s between tries.
        const bool first = acceptDelayMs_ == 0;
        acceptDelayMs_ = first ? kAcceptRetryFirstMs : std::min(2 * acceptDelayMs_, kAcceptRetryMaxMs);
        acceptRetry_->start(acceptDelayMs_);
        UpdateAccepting();
        if (first)
            Report({TRemoteEvent::AcceptPaused, {}});
        return;
    }
    acceptDelayMs_ = 0;
    Admit(h);
}

void TRemoteAccess::Admit(TSocketHandle h)
{
    uint32_t addr = 0;
    uint16_t port = 0;
    if (SockApi::GetPeerName(h, addr, port) < 0) {
        SockApi::CloseSocket(h);  // gone before it was taken
        return;
    }
    const std::string address = SockApi::IPv4ToText(addr);
    if (penalties_.PenaltyLeft(address, now_().toMSecsSinceEpoch()) > 0) {
        EndQuietly(*WTmp, [h](TWSocket& socket) {
            socket.Dup(h);
            socket.Close();  // the form's zero linger: a reset, nothing kept for the address
        });
        ++counts_.Refused;
        Report({TRemoteEvent::Refused, address});
        return;
    }
    if (WCli->State() == wsConnected) {
        EndQuietly(*WTmp, [h](TWSocket& socket) {
            socket.Dup(h);
            socket.SendString("Busy ! Try later...\r\n");
            EndAfterText(socket);
        });
        Report({TRemoteEvent::Busy, address});
        return;
    }
    remoteAuthorised_ = false;
    remoteFullAccess_ = false;
    remoteLoginText_.Clear();
    clientAddress_ = address;
    loginStart_ = now_();
    graceTimer_->start();
    EndQuietly(*WCli, [h](TWSocket& socket) {
        socket.Dup(h);
        socket.EnableKeepAlive(kKeepAliveIdleSeconds, kKeepAliveIntervalSeconds, kKeepAliveProbes);
        socket.SendString("\r\nWelcome to Morvel PBX.\r\n");
        socket.SendString("Enter password:");
    });
}

void TRemoteAccess::CheckLoginGrace()
{
    if (WCli->State() != wsConnected || remoteLoginText_.Decided()) {
        graceTimer_->stop();
        return;
    }
    if (std::llabs(loginStart_.msecsTo(now_())) < kLoginGraceMs)
        return;
    graceTimer_->stop();
    ++counts_.LoginTimeOuts;
    Report({TRemoteEvent::LoginTimeOut, clientAddress_});
    EndQuietly(*WCli, [](TWSocket& socket) {
        socket.SendString("Login time-out\r\n");
        EndAfterText(socket);
    });
}

void TRemoteAccess::TakeInput()
{
    if (portQueue_.empty() && !PortBusy()) {
        const std::string text = WCli->ReceiveString();
        if (!text.empty())
            hooks_.SendToPort(text);
        return;
    }
    const size_t room = kPortQueueLimit - portQueue_.size();
    if (room == 0) {
        WCli->PauseReceive();  // resumed when the port has taken the queue
        return;
    }
    std::string text(room, '\0');
    const int n = WCli->Receive(text.data(), int(room));
    if (n <= 0)
        return;
    portQueue_.append(text, 0, size_t(n));
    if (!portCheck_->isActive())
        portCheck_->start();
}

void TRemoteAccess::PortWriteDone()
{
    if (portQueue_.empty())
        portCheck_->stop();
    if (portQueue_.empty() || PortBusy())
        return;
    portCheck_->stop();
    std::string out;
    out.swap(portQueue_);
    hooks_.SendToPort(out);
    if (WCli->ReceivePaused())
        WCli->ResumeReceive();
}

void TRemoteAccess::WCliDataAvailable()
{
    if (remoteAuthorised_ && remoteFullAccess_) {
        TakeInput();
        return;
    }
    const std::string text = WCli->ReceiveString();
    if (text.empty() || remoteAuthorised_)
        return;  // a viewer's input goes nowhere
    if (remoteLoginText_.Decided())
        return;  // the one attempt is spent; the connection ends shortly
    const TLoginDecision decision = remoteLoginText_.Take(text, [this] {
        const TRemoteSettings settings = hooks_.Settings();
        return TLoginPasswords{settings.FullAccessPassword, settings.ViewerPassword};
    });
    switch (decision) {
    case TLoginDecision::Wait:
        return;
    case TLoginDecision::Full:
        penalties_.LoggedIn(clientAddress_);
        remoteAuthorised_ = true;
        remoteFullAccess_ = true;
        WCli->SendString("\r\nYou have Full Access to PBX.\r\n");
        Report({TRemoteEvent::LoggedIn, clientAddress_, 0, true});
        return;
    case TLoginDecision::Viewer:
        penalties_.LoggedIn(clientAddress_);
        remoteAuthorised_ = true;
        remoteFullAccess_ = false;
        WCli->SendString("\r\nYou have Access as Viewer to PBX.\r\n");
        Report({TRemoteEvent::LoggedIn, clientAddress_, 0, false});
        return;
    case TLoginDecision::Wrong:
    case TLoginDecision::TooLong:
        break;
    }
    Refuse(clientAddress_);
    WCli->SendString("\r\nWrong Password. Access denied.\r\n");
}

void TRemoteAccess::Refuse(const std::string& address)
{
    refusalTimer_->start();
    UpdateAccepting();
    ++counts_.WrongPasswords;
    const int64_t penalty = penalties_.Wrong(address, now_().toMSecsSinceEpoch());
    if (penalty > 0)
        ++counts_.Penalties;
    Report({TRemoteEvent::WrongPassword, address});
    if (penalty > 0)
        Report({TRemoteEvent::Penalty, address, penalty});
}

void TRemoteAccess::Report(const TRemoteEvent& event)
{
    if (hooks_.OnEvent)
        hooks_.OnEvent(event);
}

void TRemoteAccess::WCliSessionClosed() { LoggedOut(); }

void TRemoteAccess::LoggedOut()
{
    const bool wasIn = remoteAuthorised_;
    remoteAuthorised_ = false;
    remoteFullAccess_ = false;
    if (wasIn)
        Report({TRemoteEvent::LoggedOut, clientAddress_});
}
