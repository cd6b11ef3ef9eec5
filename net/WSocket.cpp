#include "net/WSocket.h"

#include "net/SocketWatcher.h"

using namespace SockApi;

TWSocket::TWSocket()
    : watcher_(std::make_unique<TSocketWatcher>([this](unsigned events, int error) { Dispatch(events, error); }))
{}

TWSocket::~TWSocket()
{
    destroying_ = true;
    OnChangeState = nullptr;
    try {
        if (state_ != wsClosed)
            InternalClose(true, 0);
    } catch (...) {
        // A failed close must not escape a destructor.
    }
    CloseHandleNow();
}

// --- properties ---

bool TWSocket::CanChange(const char* name)
{
    if (state_ == wsClosed)
        return true;
    RaiseException(std::string("Cannot change ") + name + " if not closed");
    return false;
}

bool TWSocket::Assign(std::string& field, bool& assigned, const std::string& value, const char* name)
{
    std::string text = WSocketTrim(value);
    if ((assigned && text == field) || !CanChange(name))
        return false;
    field = text;
    assigned = !text.empty();
    return true;
}

void TWSocket::SetAddr(const std::string& value)
{
    if (Assign(addr_, addrAssigned_, value, "Addr"))
        addrResolved_ = false;
}

void TWSocket::SetPort(const std::string& value)
{
    if (Assign(port_, portAssigned_, value, "Port"))
        portResolved_ = false;
}

void TWSocket::SetProto(const std::string& value)
{
    if (Assign(proto_, protoAssigned_, value, "Proto")) {
        protoResolved_ = false;
        portResolved_ = false;
    }
}

void TWSocket::SetLocalAddr(const std::string& value)
{
    std::string text = WSocketTrim(value);
    if (text.empty())
        text = "0.0.0.0";
    if (text == localAddr_ || !CanChange("LocalAddr"))
        return;
    localAddr_ = text;
}

void TWSocket::SetLocalPort(const std::string& value)
{
    std::string text = WSocketTrim(value);
    if (text == localPort_ || !CanChange("LocalPort"))
        return;
    localPort_ = text;
    localPortResolved_ = false;
}

void TWSocket::SetSendFlags(TSocketSendFlags value)
{
    if (value != wsSendNormal && value != wsSendUrgent) {
        RaiseException("Invalid SendFlags");
        return;
    }
    sendFlags_ = value;
}

int TWSocket::RcvdCount() const
{
    unsigned long count = 0;
    if (handle_ == INVALID_SOCKET || BytesWaiting(handle_, count) < 0)
        return -1;
    return int(count);
}

std::string TWSocket::PeerAddr() const
{
    uint32_t addr = 0;
    uint16_t port = 0;
    if (handle_ == INVALID_SOCKET || GetPeerName(handle_, addr, port) < 0)
        return {};
    return IPv4ToText(addr);
}

std::string TWSocket::PeerPort() const
{
    uint32_t addr = 0;
    uint16_t port = 0;
    if (handle_ == INVALID_SOCKET || GetPeerName(handle_, addr, port) < 0)
        return {};
    return std::to_string(port);
}

std::string TWSocket::GetXAddr() const
{
    uint32_t addr = 0;
    uint16_t port = 0;
    if (handle_ == INVALID_SOCKET || GetSockName(handle_, addr, port) < 0)
        return {};
    return IPv4ToText(addr);
}

std::string TWSocket::GetXPort() const
{
    uint32_t addr = 0;
    uint16_t port = 0;
    if (handle_ == INVALID_SOCKET || GetSockName(handle_, addr, port) < 0)
        return {};
    return std::to_string(port);
}

size_t TWSocket::BufferedByteCount() const
{
    size_t total = 0;
    for (const TBuffer& block : sendQueue_)
        total += size_t(block.Waiting());
    return total;
}

// --- errors ---

void TWSocket::RaiseException(const std::string& text)
{
    if (OnError)
        OnError(this);
    else
        throw ESocketException(text);
}

void TWSocket::SocketError(const std::string& operation)
{
    int code = SockApi::LastError();
    std::string text = "Error " + std::to_string(code) + " in function " + operation + "\r\n" + WSocketErrorDesc(code);
    if (code == ErrConnReset || code == ErrNotConnected) {
        bool wasOpen = state_ != wsClosed;
        CloseHandleNow();
        if (wasOpen) {
            ChangeState(wsClosed);
            if (!closeInvoked_) {
                closeInvoked_ = true;
                NotifyClosed(code);
            }
        }
    }
    lastError_ = code;
    RaiseException(text);
}

// --- state ---

void TWSocket::ChangeState(TSocketState state)
{
    TSocketState old = state_;
    state_ = state;
    if (old != state && OnChangeState)
        OnChangeState(this, old, state);
}

void TWSocket::CloseHandleNow()
{
    if (handle_ == INVALID_SOCKET)
        return;
    watcher_->Stop();
    CloseSocket(handle_);
    handle_ = INVALID_SOCKET;
    ++serial_;
}

void TWSocket::DiscardSendQueue() { sendQueue_.clear(); }

void TWSocket::RestoreDefaults()
{
    addrAssigned_ = addrResolved_ = false;
    portAssigned_ = portResolved_ = false;
    proto_ = "tcp";
    protoAssigned_ = true;
    protoResolved_ = false;
    localPort_ = "0";
    localPortResolved_ = false;
    localAddr_ = "0.0.0.0";
    lingerOnOff_ = wsLingerOn;
    lingerTimeout_ = 0;
    state_ = wsClosed;
    // Nothing queued for this connection may go to the next one.
    DiscardSendQueue();
    allSent_ = true;
    readCount_ = 0;
    closeInvoked_ = false;
    flushTimeout_ = 60;
}

bool TWSocket::SetLingerOption()
{
    if (lingerOnOff_ == wsLingerNoSet)
        return true;
    if (handle_ == INVALID_SOCKET) {
        RaiseException("Cannot set linger option at this time");
        return false;
    }
    if (SetLinger(handle_, lingerOnOff_ == wsLingerOn, lingerTimeout_) < 0) {
        SocketError("setsockopt(SO_LINGER)");
        return false;
    }
    return true;
}

// --- operations ---

void TWSocket::Listen()
{
    if (!portAssigned_ || !protoAssigned_ || !addrAssigned_) {
        SockApi::SetLastError(ErrInvalidArgument);
        SocketError(!portAssigned_    ? "listen: port not assigned"
                    : !protoAssigned_ ? "listen: protocol not assigned"
                                      : "listen: address not assigned");
        return;
    }
    try {
        if (!protoResolved_) {
            protocol_ = WSocketResolveProto(proto_);
            protoResolved_ = true;
        }
        if (!portResolved_) {
            sinPort_ = WSocketResolvePort(port_, proto_);
            portResolved_ = true;
        }
        if (!addrResolved_) {
            sinAddr_ = WSocketResolveHost(addr_);
            addrResolved_ = true;
        }
    } catch (const ESocketException& e) {
        RaiseException(std::string("listen: ") + e.what());
        return;
    }
    // A second Listen would otherwise leak the first handle.
    if (handle_ != INVALID_SOCKET)
        Close();
    DiscardSendQueue();
    handle_ = OpenStream(protocol_, true);
    if (handle_ == INVALID_SOCKET) {
        SocketError("socket");
        return;
    }
    ++serial_;
    closeInvoked_ = false;
    if (Bind(handle_, sinAddr_, sinPort_) < 0) {
        int code = SockApi::LastError();
        CloseHandleNow();
        SockApi::SetLastError(code);
        SocketError("Bind");
        return;
    }
    ChangeState(wsBound);
    if (SockApi::Listen(handle_, 5) < 0) {
        SocketError("Listen");
        return;
    }
    ChangeState(wsListening);
    if (watcher_->Watch(handle_, TSocketWatcher::Mode::Listening) < 0)
        SocketError("WSAASyncSelect");
}

TSocketHandle TWSocket::Accept()
{
    if (state_ != wsListening) {
        SockApi::SetLastError(ErrInvalidArgument);
        SocketError("not a listening socket");
        return INVALID_SOCKET;
    }
    TSocketHandle h = SockApi::Accept(handle_);
    watcher_->ReadDone();
    if (h == INVALID_SOCKET) {
        SocketError("Accept");
        return INVALID_SOCKET;
    }
    return h;
}

void TWSocket::Dup(TSocketHandle handle)
{
    if (handle == 0 || handle == INVALID_SOCKET) {
        SockApi::SetLastError(ErrInvalidArgument);
        SocketError("Dup");
        return;
    }
    if (handle_ != INVALID_SOCKET) {
        watcher_->Stop();
        int r = CloseSocket(handle_);
        handle_ = INVALID_SOCKET;
        ++serial_;
        if (r < 0) {
            SocketError("Dup (closesocket)");
            return;
        }
    }
    if (state_ != wsClosed)
        ChangeState(wsClosed);
    DiscardSendQueue();
    allSent_ = true;
    handle_ = handle;
    ++serial_;
    closeInvoked_ = false;
    if (!SetLingerOption())
        return;
    if (watcher_->Watch(handle_, TSocketWatcher::Mode::Connected) < 0) {
        SocketError("WSAAsyncSelect");
        return;
    }
    ChangeState(wsConnected);
}

void TWSocket::Connect()
{
    if (handle_ != INVALID_SOCKET && state_ != wsClosed) {
        RaiseException("Connect: Socket already in use");
        return;
    }
    if (!portAssigned_) {
        RaiseException("Connect: No Port Specified");
        return;
    }
    if (!addrAssigned_) {
        RaiseException("Connect: No IP Address Specified");
        return;
    }
    if (!protoAssigned_) {
        RaiseException("Connect: No Protocol Specified");
        return;
    }
    try {
        if (!protoResolved_) {
            protocol_ = WSocketResolveProto(proto_);
            protoResolved_ = true;
        }
        if (!portResolved_) {
            sinPort_ = WSocketResolvePort(port_, proto_);
            portResolved_ = true;
        }
        if (!localPortResolved_) {
            localSinPort_ = WSocketResolvePort(localPort_, proto_);
            localPortResolved_ = true;
        }
        localSinAddr_ = WSocketResolveHost(localAddr_);
        if (!addrResolved_) {
            sinAddr_ = WSocketResolveHost(addr_);
            addrResolved_ = true;
        }
    } catch (const ESocketException& e) {
        RaiseException(std::string("connect: ") + e.what());
        return;
    }
    DiscardSendQueue();
    CloseHandleNow();
    handle_ = OpenStream(protocol_, false);
    if (handle_ == INVALID_SOCKET) {
        SocketError("Connect (socket)");
        return;
    }
    ++serial_;
    closeInvoked_ = false;
    ChangeState(wsOpened);
    if (state_ != wsOpened) {
        SockApi::SetLastError(ErrInvalidArgument);
        SocketError("Connect (Invalid operation in OnChangeState)");
        return;
    }
    if (SockApi::SetReuseAddr(handle_, true) < 0) {
        SocketError("setsockopt(SO_REUSEADDR)");
        return;
    }
    if ((componentOptions_ & wsoTcpNoDelay) && SetNoDelay(handle_, true) < 0) {
        SocketError("setsockopt(IPPROTO_TCP, TCP_NODELAY)");
        return;
    }
    if (!SetLingerOption())
        return;
    if (SetKeepAlive(handle_, true) < 0) {
        SocketError("setsockopt(SO_KEEPALIVE)");
        return;
    }
    if (localSinPort_ != 0 || localAddr_ != "0.0.0.0") {
        if (Bind(handle_, localSinAddr_, localSinPort_) < 0) {
            RaiseException("winsock.bind failed, error #" + std::to_string(SockApi::LastError()));
            return;
        }
        uint32_t addr = 0;
        uint16_t port = 0;
        if (GetSockName(handle_, addr, port) < 0) {
            RaiseException("winsock.getsockname failed, error #" + std::to_string(SockApi::LastError()));
            return;
        }
        localPort_ = std::to_string(port);
        localSinPort_ = port;
    }
    if (watcher_->Watch(handle_, TSocketWatcher::Mode::Connecting) < 0) {
        SocketError("WSAAsyncSelect");
        return;
    }
    if (watcher_->StartConnect(sinAddr_, sinPort_) < 0) {
        lastError_ = SockApi::LastError();
        SocketError("Connect");
        return;
    }
    ChangeState(wsConnecting);
}

int TWSocket::Send(const void* data, int len)
{
    if (state_ != wsConnected) {
        SockApi::SetLastError(ErrNotConnected);
        SocketError("Send");
        return -1;
    }
    if (len <= 0)
        return 0;
    allSent_ = false;
    const char* p = static_cast<const char*>(data);
    int left = len;
    if (sendQueue_.empty())
        sendQueue_.emplace_back(kBlockSize);
    while (left > 0) {
        int n = sendQueue_.back().Write(p, left);
        p += n;
        left -= n;
        if (left > 0)
            sendQueue_.emplace_back(kBlockSize);
    }
    TryToSend();
    if (allSent_)
        watcher_->Post(FdWrite);
    return len;
}

int TWSocket::SendString(const std::string& text)
{
    if (text.empty())
        return 0;
    return Send(text.data(), int(text.size()));
}

int TWSocket::Receive(void* buffer, int size)
{
    int n = Recv(handle_, buffer, size);
    watcher_->ReadDone();
    if (n < 0) {
        lastError_ = SockApi::LastError();
        return n;
    }
    readCount_ += uint32_t(n);
    return n;
}

std::string TWSocket::ReceiveString()
{
    unsigned long count = 0;
    if (BytesWaiting(handle_, count) < 0) {
        SocketError("ioctlSocket");
        return {};
    }
    if (count == 0)
        count = 255;
    std::string text(count, '\0');
    int n = Receive(text.data(), int(count));
    if (n <= 0)
        return {};
    text.resize(size_t(n));
    return text;
}

void TWSocket::Shutdown(int how)
{
    if (handle_ != INVALID_SOCKET)
        SockApi::Shutdown(handle_, how);
}

void TWSocket::PauseReceive() { watcher_->SetReadPaused(true); }

void TWSocket::ResumeReceive() { watcher_->SetReadPaused(false); }

bool TWSocket::ReceivePaused() const { return watcher_->ReadPaused(); }

void TWSocket::EnableKeepAlive(int idleSeconds, int intervalSeconds, int probes)
{
    if (handle_ == INVALID_SOCKET) {
        SockApi::SetLastError(ErrNotConnected);
        SocketError("setsockopt(SO_KEEPALIVE)");
        return;
    }
    if (SetKeepAliveTimes(handle_, idleSeconds, intervalSeconds, probes) < 0)
        SocketError("setsockopt(SO_KEEPALIVE)");
}

void TWSocket::Close() { InternalClose(true, 0); }

void TWSocket::Abort()
{
    DiscardSendQueue();
    if (state_ == wsConnected && protocol_ == 6 && handle_ != INVALID_SOCKET) {
        lingerOnOff_ = wsLingerOff;
        SetLingerOption();
    }
    InternalClose(false, 0);
}

void TWSocket::InternalClose(bool shut, int error)
{
    if (handle_ == INVALID_SOCKET) {
        if (state_ != wsClosed) {
            ChangeState(wsClosed);
            RestoreDefaults();
        }
        return;
    }
    if (state_ == wsClosed) {
        // A handle opened by Listen or Connect before their first state change.
        CloseHandleNow();
        return;
    }
    watcher_->Stop();
    if (shut)
        SockApi::Shutdown(handle_, 1);
    int r = CloseSocket(handle_);
    handle_ = INVALID_SOCKET;
    ++serial_;
    if (r < 0 && SockApi::LastError() != ErrNotInitialised) {
        SocketError("Disconnect (closesocket)");
        return;
    }
    ChangeState(wsClosed);
    bool notify = !destroying_ && !closeInvoked_;
    // Defaults first: a handler that opens a new connection keeps it.
    RestoreDefaults();
    if (notify) {
        closeInvoked_ = true;
        NotifyClosed(error);
        if (handle_ == INVALID_SOCKET)
            closeInvoked_ = false;
    }
}
