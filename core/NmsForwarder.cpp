#include "core/NmsForwarder.h"

#include "net/TnCnx.h"
#include "net/WSocketErrors.h"
#include "support/MyUtils.h"

#include <cstdlib>

TNmsForwarder::TNmsForwarder(Hooks hooks, NowFunction now)
    : hooks_(std::move(hooks)), now_(std::move(now)), TnCnx(std::make_unique<TTnCnx>())
{
    TnCnx->SetHost("127.0.0.1");
    TnCnx->SetPort("23");
    TnCnx->SetTermType("VT100");
    TnCnx->SetLocation("TNCNX");
    TnCnx->SetLocalEcho(false);
    TnCnx->SetSendQueueLimit(kLinkQueueLimit);
    TnCnx->SetReceiveRateLimit(kHostReadRate);
    TnCnx->OnSessionConnected = [this](TTnCnx*, uint16_t error) {
        if (error != 0) {
            Down(WSocketErrorDesc(error));
            return;
        }
        up_ = true;
        downTold_ = false;
        if (OnUp)
            OnUp(LinkName());
    };
    TnCnx->OnSessionClosed = [this](TTnCnx*, uint16_t error) {
        Down(error != 0 ? WSocketErrorDesc(error) : "closed by the host");
    };
}

std::string TNmsForwarder::LinkName() const { return TnCnx->Host() + ":" + TnCnx->Port(); }

// Said once until the link is up again or set up anew, not at every retry.
void TNmsForwarder::Down(const std::string& error)
{
    up_ = false;
    if (downTold_)
        return;
    downTold_ = true;
    if (OnDown)
        OnDown(LinkName(), error);
}

TNmsForwarder::~TNmsForwarder()
{
    // Nothing is told while the link is taken down with the forwarder.
    TnCnx->OnSessionConnected = nullptr;
    TnCnx->OnSessionClosed = nullptr;
}

void TNmsForwarder::ApplyHostAndPort()
{
    const TNmsSettings settings = hooks_.Settings();
    if (IsDottedQuad(settings.Host))
        TnCnx->SetHost(settings.Host);
    if (!HexDigitsOf(settings.Port).empty())
        TnCnx->SetPort(settings.Port);
}

void TNmsForwarder::ConnectReporting()
{
    try {
        TnCnx->Connect();
    } catch (const std::exception& e) {
        // The caller's report shows it; forwarding need not repeat it.
        problemShown_ = true;
        Down(e.what());
        throw;
    }
}

void TNmsForwarder::Start()
{
    problemShown_ = false;
    downTold_ = false;
    if (!hooks_.Enabled())
        return;
    ApplyHostAndPort();
    ConnectReporting();
    nmsLastAttempt_ = now_();
}

void TNmsForwarder::Apply()
{
    problemShown_ = false;
    if (!hooks_.Enabled()) {
        Stop();
        return;
    }
    if (TnCnx->State() != wsClosed)
        TnCnx->Close();
    if (up_)
        Down("closed for new settings");
    downTold_ = false;
    ApplyHostAndPort();
    ConnectReporting();
    nmsLastAttempt_ = now_();
    nmsPending_.clear();
    dropped_ = 0;
}

void TNmsForwarder::Stop()
{
    if (TnCnx->State() != wsClosed)
        TnCnx->Close();
    if (up_)
        Down("stopped");
}

void TNmsForwarder::Keep(const std::string& text)
{
    nmsPending_ += text;
    if (nmsPending_.size() <= kPendingLimit)
        return;
    const size_t drop = nmsPending_.size() - (kPendingLimit - kPendingDropStep);
    nmsPending_.erase(0, drop);
    dropped_ += drop;
    if (OnDropped)
        OnDropped(drop);
}

void TNmsForwarder::Forward(const std::string& text)
{
    if (!hooks_.Enabled())
        return;
    bool kept = false;
    try {
        if (TnCnx->State() == wsConnected && TnCnx->BufferedByteCount() <= kLinkQueueLimit) {
            std::string out;
            if (dropped_ > 0)
                out = "\r\n*** " + std::to_string(dropped_) +
                      " bytes of PBX output were dropped while the NMS link was down ***\r\n";
            out += TelnetEscapeIAC(nmsPending_);
            out += TelnetEscapeIAC(text);
            TnCnx->SendString(out);
            // A link that went down while sending has not taken the text.
            if (TnCnx->State() == wsConnected) {
                nmsPending_.clear();
                dropped_ = 0;
                problemShown_ = false;
                return;
            }
        }
        Keep(text);
        kept = true;
        if (TnCnx->State() == wsConnected)
            return;  // up, but the host is not reading yet
        const QDateTime now = now_();
        if (nmsLastAttempt_.isValid() && std::llabs(nmsLastAttempt_.msecsTo(now)) < kRetryMs)
            return;
        // Counted as an attempt even when it fails, so a bad setting is retried
        // every 7 seconds like an unreachable host, not on every cluster.
        nmsLastAttempt_ = now;
        TnCnx->Connect();
    } catch (const std::exception& e) {
        // The cluster is kept and still goes to the display and the capture.
        if (!kept)
            Keep(text);
        Down(e.what());
        if (problemShown_)
            return;
        problemShown_ = true;
        if (hooks_.OnProblem)
            hooks_.OnProblem(std::string("NMS forwarding: ") + e.what());
    }
}
