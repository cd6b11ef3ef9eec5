#include "net/WSocket.h"

#include "net/SocketWatcher.h"

#include <cctype>
#include <unordered_map>

using namespace SockApi;

namespace {

std::string Trim(const std::string& text)
{
    size_t first = 0, last = text.size();
    while (first < last && (unsigned char)text[first] <= ' ')
        ++first;
    while (last > first && (unsigned char)text[last - 1] <= ' ')
        --last;
    return text.substr(first, last - first);
}

bool StartsWithDigit(const std::string& text) { return !text.empty() && std::isdigit((unsigned char)text[0]); }

// The value of the leading decimal digits, saturated so that it cannot wrap.
long LeadingNumber(const std::string& text)
{
    long value = 0;
    for (char c : text) {
        if (!std::isdigit((unsigned char)c))
            break;
        value = std::min(value * 10 + (c - '0'), 1L << 30);
    }
    return value;
}

// Past this many bytes in one read event the loop lets other events run; the
// readiness re-armed by the reads brings it back at once. A peer that sends
// faster than the handler reads would otherwise hold the window.
constexpr uint32_t kReceiveLoopBudget = 256 * 1024;

bool ClosesSession(int error)
{
    return error == ErrInvalidArgument || error == ErrNotSocket || error == ErrConnAborted || error == ErrConnReset ||
           error == ErrNotConnected;
}

}  // namespace

std::string WSocketErrorDesc(int code)
{
    static const std::unordered_map<int, const char*> table = {
        {0, "No Error"},
        {10004, "Interrupted system call"},
        {10009, "Bad file number"},
        {10013, "Permission denied"},
        {10014, "Bad address"},
        {10022, "Invalid argument"},
        {10024, "Too many open files"},
        {10035, "Operation would block"},
        {10036, "Operation now in progress"},
        {10037, "Operation already in progress"},
        {10038, "Socket operation on non-socket"},
        {10039, "Destination address required"},
        {10040, "Message too long"},
        {10041, "Protocol wrong type for socket"},
        {10042, "Protocol not available"},
        {10043, "Protocol not supported"},
        {10044, "Socket type not supported"},
        {10045, "Operation not supported on socket"},
        {10046, "Protocol family not supported"},
        {10047, "Address family not supported by protocol family"},
        {10048, "Address already in use"},
        {10049, "Address not available"},
        {10050, "Network is down"},
        {10051, "Network is unreachable"},
        {10052, "Network dropped connection on reset"},
        {10053, "Connection aborted"},
        {10054, "Connection reset by peer"},
        {10055, "No buffer space available"},
        {10056, "Socket is already connected"},
        {10057, "Socket is not connected"},
        {10058, "Can't send after socket shutdown"},
        {10059, "Too many references: can't splice"},
        {10060, "Connection timed out"},
        {10061, "Connection refused"},
        {10062, "Too many levels of symbolic links"},
        {10063, "File name too long"},
        {10064, "Host is down"},
        {10065, "No route to host"},
        {10066, "Directory not empty"},
        {10067, "Too many processes"},
        {10068, "Too many users"},
        {10069, "Disc quota exceeded"},
        {10070, "Stale NFS file handle"},
        {10071, "Too many levels of remote in path"},
        {10091, "Network sub-system is unusable"},
        {10092, "WinSock DLL cannot support this application"},
        {10093, "WinSock not initialized"},
        {11001, "Host not found"},
        {11002, "Non-authoritative host not found"},
        {11003, "Non-recoverable error"},
        {11004, "No Data"},
    };
    auto it = table.find(code);
    return it == table.end() ? "Not a WinSock error" : it->second;
}

int WSocketResolveProto(const std::string& proto)
{
    if (proto.empty() || proto.size() >= 32)
        throw ESocketException("WSocketResolveProto: Invalid Protocol.");
    std::string text = Trim(proto);
    if (StartsWithDigit(text))
        return int(LeadingNumber(text));
    int number = ProtocolByName(text);
    if (number < 0)
        throw ESocketException("WSocketResolveProto: Cannot convert protocol '" + text + "', Error #" +
                               std::to_string(SockApi::LastError()));
    return number;
}

uint16_t WSocketResolvePort(const std::string& port, const std::string& proto)
{
    if (port.empty() || port.size() >= 32)
        throw ESocketException("WSocketResolvePort: Invalid Port.");
    if (proto.empty() || proto.size() >= 32)
        throw ESocketException("WSocketResolvePort: Invalid Proto.");
    std::string text = Trim(port);
    if (StartsWithDigit(text)) {
        long number = LeadingNumber(text);
        // Cut to 16 bits, 70000 would quietly become port 4464.
        if (number > 65535)
            throw ESocketException("WSocketResolvePort: Invalid Port.");
        return uint16_t(number);
    }
    int number = ServiceByName(text, Trim(proto));
    if (number < 0)
        throw ESocketException("WSocketResolvePort: Cannot convert port '" + text + "', Error #" +
                               std::to_string(SockApi::LastError()));
    return uint16_t(number);
}

bool WSocketIsDottedIP(const std::string& text)
{
    size_t i = 0, n = text.size();
    while (i < n && text[i] == ' ')
        ++i;
    for (int group = 0; group < 4; ++group) {
        if (group > 0) {
            if (i >= n || text[i] != '.')
                return false;
            ++i;
        }
        size_t start = i;
        long value = 0;
        while (i < n && std::isdigit((unsigned char)text[i])) {
            value = std::min(value * 10 + (text[i] - '0'), 1000L);
            ++i;
        }
        if (i == start || value > 255)
            return false;
    }
    while (i < n && text[i] == ' ')
        ++i;
    return i == n;
}

uint32_t WSocketResolveHost(const std::string& host)
{
    if (host.empty() || host.size() > 256)
        throw ESocketException("WSocketResolveHost: '" + host + "' Invalid Hostname.");
    std::string text = Trim(host);
    uint32_t addr = 0;
    if (WSocketIsDottedIP(text)) {
        if (!ParseIPv4(text, addr))
            throw ESocketException("WSocketResolveHost: '" + text + "' Invalid IP address.");
        return addr;
    }
    if (HostByName(text, addr) < 0)
        throw ESocketException("WSocketResolveHost: Cannot convert host address '" + text + "', Error #" +
                               std::to_string(SockApi::LastError()));
    return addr;
}

// --- TWSocket ---

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
    std::string text = Trim(value);
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
    std::string text = Trim(value);
    if (text.empty())
        text = "0.0.0.0";
    if (text == localAddr_ || !CanChange("LocalAddr"))
        return;
    localAddr_ = text;
}

void TWSocket::SetLocalPort(const std::string& value)
{
    std::string text = Trim(value);
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
    if ((options_ & wsoTcpNoDelay) && SetNoDelay(handle_, true) < 0) {
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

void TWSocket::TryToSend()
{
    if (handle_ == INVALID_SOCKET || sendQueue_.empty())
        return;
    int sent = 0;
    for (;;) {
        TBuffer& block = sendQueue_.front();
        int waiting = 0;
        const char* p = block.Peek(waiting);
        if (waiting > 0) {
            int n = SockApi::Send(handle_, p, waiting, sendFlags_ == wsSendUrgent);
            if (n > 0) {
                block.Remove(n);
                sent += n;
                if (n < waiting) {
                    watcher_->WantWrite();
                    break;
                }
                continue;
            }
            if (n == 0)
                break;
            int code = SockApi::LastError();
            if (code == ErrWouldBlock) {
                watcher_->WantWrite();
                break;
            }
            if (ClosesSession(code)) {
                lastError_ = code;
                closeInvoked_ = true;
                InternalClose(false, 0);
                NotifyClosed(code);
                return;
            }
            SocketError("TryToSend failed");
            return;
        }
        if (sendQueue_.size() > 1) {
            sendQueue_.pop_front();
            continue;
        }
        allSent_ = true;
        break;
    }
    if (sent > 0 && OnSendData)
        OnSendData(this, sent);
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

// --- events ---

void TWSocket::NotifyClosed(int error)
{
    if (inHandler_) {
        closedPending_ = true;
        closedPendingError_ = error;
        return;
    }
    if (!OnSessionClosed)
        return;
    std::weak_ptr<char> life = life_;
    inHandler_ = true;
    try {
        OnSessionClosed(this, uint16_t(error));
    } catch (...) {
        if (!life.expired())
            inHandler_ = false;
        throw;
    }
    if (!life.expired())
        inHandler_ = false;
}

bool TWSocket::FlushClosedPending(const std::weak_ptr<char>& life)
{
    while (!life.expired() && closedPending_ && !inHandler_) {
        closedPending_ = false;
        NotifyClosed(closedPendingError_);
    }
    return !life.expired();
}

bool TWSocket::FlushClosedPendingSafely(const std::weak_ptr<char>& life)
{
    try {
        return FlushClosedPending(life);
    } catch (...) {
        // The socket is aborted next whatever this handler did.
        return !life.expired();
    }
}

bool TWSocket::StillCurrent(const std::weak_ptr<char>& life, uint64_t serial) const
{
    return !life.expired() && serial_ == serial && handle_ != INVALID_SOCKET;
}

bool TWSocket::RunHandler(const std::function<void()>& call, const std::weak_ptr<char>& life, uint64_t serial)
{
    inHandler_ = true;
    try {
        call();
    } catch (...) {
        if (!life.expired())
            inHandler_ = false;
        throw;
    }
    if (life.expired())
        return false;
    inHandler_ = false;
    if (!FlushClosedPending(life))
        return false;
    return StillCurrent(life, serial);
}

bool TWSocket::ReceiveLoop(int error, bool closing, const std::weak_ptr<char>& life, uint64_t serial)
{
    uint32_t taken = 0;
    for (;;) {
        lastError_ = 0;
        uint32_t before = readCount_;
        if (OnDataAvailable) {
            if (!RunHandler([&] { OnDataAvailable(this, uint16_t(error)); }, life, serial))
                return false;
        } else {
            char scrap[1024];
            if (Receive(scrap, sizeof scrap) < 0 && lastError_ == ErrWouldBlock)
                lastError_ = 0;
        }
        if (!closing && (options_ & wsoNoReceiveLoop))
            break;
        if (lastError_ != 0)
            break;
        unsigned long waiting = 0;
        if (BytesWaiting(handle_, waiting) < 0 || waiting == 0)
            break;
        // A handler that read nothing is asked again when it has read.
        if (readCount_ == before)
            break;
        taken += readCount_ - before;
        if (!closing && taken >= kReceiveLoopBudget)
            break;
    }
    return true;
}

void TWSocket::HandleBackgroundException(const std::exception& e)
{
    bool canClose = true;
    if (OnBgException) {
        try {
            OnBgException(this, e, canClose);
        } catch (...) {
            // The handler of last resort has nobody to report to.
        }
    }
    if (canClose) {
        try {
            Abort();
        } catch (...) {
        }
    }
}

void TWSocket::Dispatch(unsigned events, int error)
{
    std::weak_ptr<char> life = life_;
    uint64_t serial = serial_;
    if (handle_ == INVALID_SOCKET)
        return;
    uint16_t code = uint16_t(error);
    auto connected = [&] {
        ChangeState(wsConnected);
        return RunHandler(
            [&] {
                if (OnSessionConnected)
                    OnSessionConnected(this, code);
            },
            life, serial);
    };
    try {
        if ((events & FdConnect) && state_ != wsConnected) {
            if (!connected())
                return;
            if (error != 0) {
                if (state_ != wsClosed)
                    Close();
                return;
            }
        }
        if (events & FdRead) {
            if (state_ != wsConnected && !connected())
                return;
            if (!ReceiveLoop(error, false, life, serial))
                return;
        }
        if (events & FdWrite) {
            TryToSend();
            if (!StillCurrent(life, serial))
                return;
            if (allSent_ && OnDataSent && !RunHandler([&] { OnDataSent(this, code); }, life, serial))
                return;
        }
        if ((events & FdAccept) && OnSessionAvailable) {
            if (!RunHandler([&] { OnSessionAvailable(this, code); }, life, serial))
                return;
        }
        if ((events & FdClose) && state_ != wsConnecting) {
            if (!ReceiveLoop(error, true, life, serial))
                return;
            if (!closeInvoked_) {
                closeInvoked_ = true;
                if (OnSessionClosed && !RunHandler([&] { OnSessionClosed(this, code); }, life, serial))
                    return;
            }
            if (state_ != wsClosed)
                Close();
        }
    } catch (const std::exception& e) {
        if (FlushClosedPendingSafely(life))
            HandleBackgroundException(e);
    } catch (...) {
        if (FlushClosedPendingSafely(life))
            HandleBackgroundException(std::runtime_error("unknown exception"));
    }
}
