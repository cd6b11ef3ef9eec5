// The BSD-socket side of TWSocket. Every errno is translated by MapErrno, the
// only place that knows both numberings.
#include "net/SocketApi.h"

#include "support/SysCall.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace SockApi {

namespace {

thread_local int g_lastError = 0;

}  // namespace

int MapErrno(int e)
{
    switch (e) {
    case 0:
        return 0;
    case EINTR:
        return 10004;
    case EACCES:
    case EPERM:
        return 10013;
    case EFAULT:
        return 10014;
    case EINVAL:
        return 10022;
    case EMFILE:
    case ENFILE:
        return 10024;
    case EAGAIN:
    case EINPROGRESS:
        return 10035;  // a non-blocking connect under way
    case EALREADY:
        return 10037;
    // Windows answers a handle that is not an open socket with WSAENOTSOCK.
    case EBADF:
    case ENOTSOCK:
        return 10038;
    case EDESTADDRREQ:
        return 10039;
    case EMSGSIZE:
        return 10040;
    case EPROTOTYPE:
        return 10041;
    case ENOPROTOOPT:
        return 10042;
    case EPROTONOSUPPORT:
        return 10043;
    case ESOCKTNOSUPPORT:
        return 10044;
    case EOPNOTSUPP:
        return 10045;
    case EPFNOSUPPORT:
        return 10046;
    case EAFNOSUPPORT:
        return 10047;
    case EADDRINUSE:
        return 10048;
    case EADDRNOTAVAIL:
        return 10049;
    case ENETDOWN:
    case ENONET:  // this machine is not on the network
        return 10050;
    case ENETUNREACH:
        return 10051;
    case ENETRESET:
        return 10052;
    // accept's EPROTO: the pending connection failed in the protocol before it
    // was taken. Microsoft names a protocol error as a cause of WSAECONNABORTED;
    // WSAECONNRESET would also make the listener close itself.
    case ECONNABORTED:
    case EPROTO:
        return 10053;
    // Linux answers a send to a peer that is gone with EPIPE after the first
    // ECONNRESET; both mean the connection was reset.
    case ECONNRESET:
    case EPIPE:
        return 10054;
    case ENOBUFS:
    case ENOMEM:
        return 10055;
    case EISCONN:
        return 10056;
    case ENOTCONN:
        return 10057;
    case ESHUTDOWN:
        return 10058;
    case ETOOMANYREFS:
        return 10059;
    case ETIMEDOUT:
        return 10060;
    case ECONNREFUSED:
        return 10061;
    case ELOOP:
        return 10062;
    case ENAMETOOLONG:
        return 10063;
    case EHOSTDOWN:
        return 10064;
    case EHOSTUNREACH:
        return 10065;
    case ENOTEMPTY:
        return 10066;
    case EUSERS:
        return 10068;
    case EDQUOT:
        return 10069;
    case ESTALE:
        return 10070;
    case EREMOTE:
        return 10071;
    default:
        return e;
    }
}

int MapResolverError(int eai)
{
    switch (eai) {
    case EAI_NONAME:
        return 11001;
    case EAI_AGAIN:
        return 11002;
    case EAI_FAIL:
        return 11003;
    case EAI_MEMORY:
        return 10055;
    case EAI_SYSTEM:
        return MapErrno(errno);
    default:
        return 11004;
    }
}

namespace {

int Fail()
{
    g_lastError = MapErrno(errno);
    return -1;
}

int Check(int result) { return result < 0 ? Fail() : result; }

sockaddr_in MakeAddr(uint32_t addr, uint16_t port)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = addr;
    sa.sin_port = htons(port);
    return sa;
}

int SetIntOption(Handle h, int level, int name, int value)
{
    return Check(setsockopt(h, level, name, &value, sizeof value));
}

// Connection outcomes that a non-blocking connect may learn at once; they are
// reported as the connect event, like any later outcome.
bool IsConnectOutcome(int e) { return e == ECONNREFUSED || e == ETIMEDOUT || e == ENETUNREACH || e == EHOSTUNREACH; }

}  // namespace

int LastError() { return g_lastError; }
void SetLastError(int code) { g_lastError = code; }

Handle OpenStream(int protocol, bool forListening)
{
    Handle h = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
    if (h < 0)
        return Fail();
    // Windows lets a listener take a port whose old connections linger in
    // TIME_WAIT; Linux does so only with SO_REUSEADDR, which still refuses a
    // port that another socket is listening on.
    if (forListening && SetIntOption(h, SOL_SOCKET, SO_REUSEADDR, 1) < 0) {
        int saved = g_lastError;
        close(h);
        g_lastError = saved;
        return kInvalidHandle;
    }
    return h;
}

int Bind(Handle h, uint32_t addr, uint16_t port)
{
    sockaddr_in sa = MakeAddr(addr, port);
    return Check(bind(h, reinterpret_cast<sockaddr*>(&sa), sizeof sa));
}

int Listen(Handle h, int backlog) { return Check(listen(h, backlog)); }

Handle Accept(Handle h)
{
    int r = RetryEintr([&] { return accept4(h, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC); });
    return r < 0 ? Fail() : r;
}

int Send(Handle h, const void* data, int len, bool urgent)
{
    ssize_t r = RetryEintr([&] { return send(h, data, size_t(len), MSG_NOSIGNAL | (urgent ? MSG_OOB : 0)); });
    return r < 0 ? Fail() : int(r);
}

int Recv(Handle h, void* data, int len)
{
    ssize_t r = RetryEintr([&] { return recv(h, data, size_t(len), 0); });
    return r < 0 ? Fail() : int(r);
}

int BytesWaiting(Handle h, unsigned long& count)
{
    int n = 0;
    if (ioctl(h, FIONREAD, &n) < 0)
        return Fail();
    count = (unsigned long)n;
    return 0;
}

int Shutdown(Handle h, int how) { return Check(shutdown(h, how == 0 ? SHUT_RD : how == 1 ? SHUT_WR : SHUT_RDWR)); }

int CloseSocket(Handle h)
{
    // After EINTR the descriptor is gone on Linux; retrying could close a
    // descriptor that another thread has just opened.
    if (close(h) < 0 && errno != EINTR)
        return Fail();
    return 0;
}

int SetLinger(Handle h, bool on, int seconds)
{
    linger l{on ? 1 : 0, seconds};
    return Check(setsockopt(h, SOL_SOCKET, SO_LINGER, &l, sizeof l));
}

int SetReuseAddr(Handle h, bool on) { return SetIntOption(h, SOL_SOCKET, SO_REUSEADDR, on); }
int SetNoDelay(Handle h, bool on) { return SetIntOption(h, IPPROTO_TCP, TCP_NODELAY, on); }
int SetKeepAlive(Handle h, bool on) { return SetIntOption(h, SOL_SOCKET, SO_KEEPALIVE, on); }

int SetKeepAliveTimes(Handle h, int idleSeconds, int intervalSeconds, int probes)
{
    if (SetKeepAlive(h, true) < 0 || SetIntOption(h, IPPROTO_TCP, TCP_KEEPIDLE, idleSeconds) < 0 ||
        SetIntOption(h, IPPROTO_TCP, TCP_KEEPINTVL, intervalSeconds) < 0)
        return -1;
    return SetIntOption(h, IPPROTO_TCP, TCP_KEEPCNT, probes);
}

int GetSockName(Handle h, uint32_t& addr, uint16_t& port)
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (getsockname(h, reinterpret_cast<sockaddr*>(&sa), &len) < 0)
        return Fail();
    addr = sa.sin_addr.s_addr;
    port = ntohs(sa.sin_port);
    return 0;
}

int GetPeerName(Handle h, uint32_t& addr, uint16_t& port)
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (getpeername(h, reinterpret_cast<sockaddr*>(&sa), &len) < 0)
        return Fail();
    addr = sa.sin_addr.s_addr;
    port = ntohs(sa.sin_port);
    return 0;
}

int SetNonBlocking(Handle h)
{
    int flags = fcntl(h, F_GETFL);
    if (flags < 0 || fcntl(h, F_SETFL, flags | O_NONBLOCK) < 0)
        return Fail();
    return 0;
}

ConnectStart StartConnect(Handle h, uint32_t addr, uint16_t port, int& outcome)
{
    sockaddr_in sa = MakeAddr(addr, port);
    int r = RetryEintr([&] { return connect(h, reinterpret_cast<sockaddr*>(&sa), sizeof sa); });
    // A connect interrupted by a signal goes on by itself; the retry finds it
    // under way (EALREADY) or done (EISCONN).
    if (r == 0 || errno == EINPROGRESS || errno == EALREADY || errno == EISCONN)
        return ConnectStart::Pending;
    if (IsConnectOutcome(errno)) {
        outcome = MapErrno(errno);
        return ConnectStart::KnownAtOnce;
    }
    Fail();
    return ConnectStart::Failed;
}

int ConnectResult(Handle h)
{
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(h, SOL_SOCKET, SO_ERROR, &err, &len) < 0)
        err = errno;
    if (err == EINPROGRESS || err == EALREADY)
        return -1;
    return MapErrno(err);
}

ReadProbe ProbeRead(Handle h, int& error)
{
    error = 0;
    int n = 0;
    if (ioctl(h, FIONREAD, &n) == 0 && n > 0)
        return ReadProbe::Data;
    char probe;
    ssize_t r = RetryEintr([&] { return recv(h, &probe, 1, MSG_PEEK); });
    if (r > 0)
        return ReadProbe::Data;
    if (r < 0 && errno == EAGAIN)
        return ReadProbe::Nothing;
    error = r == 0 ? 0 : MapErrno(errno);
    return ReadProbe::Ended;
}

int ProtocolByName(const std::string& name)
{
    protoent entry{};
    protoent* found = nullptr;
    char buf[1024];
    if (getprotobyname_r(name.c_str(), &entry, buf, sizeof buf, &found) != 0 || !found) {
        g_lastError = 11004;
        return -1;
    }
    return found->p_proto;
}

int ServiceByName(const std::string& name, const std::string& proto)
{
    servent entry{};
    servent* found = nullptr;
    char buf[1024];
    if (getservbyname_r(name.c_str(), proto.c_str(), &entry, buf, sizeof buf, &found) != 0 || !found) {
        g_lastError = 11004;
        return -1;
    }
    return ntohs(uint16_t(found->s_port));
}

int HostByName(const std::string& name, uint32_t& addr)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    int r = getaddrinfo(name.c_str(), nullptr, &hints, &list);
    if (r != 0 || !list) {
        g_lastError = r != 0 ? MapResolverError(r) : 11004;
        return -1;
    }
    addr = reinterpret_cast<sockaddr_in*>(list->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(list);
    return 0;
}

std::string IPv4ToText(uint32_t addr)
{
    char buf[INET_ADDRSTRLEN] = {};
    in_addr a{};
    a.s_addr = addr;
    inet_ntop(AF_INET, &a, buf, sizeof buf);
    return buf;
}

}  // namespace SockApi
