#pragma once
// The operating-system layer under TWSocket: non-blocking IPv4 stream sockets
// and name lookups. Errors are numbered as Windows Sockets numbers them, so
// that codes and texts are the same on every platform.
#include <cstdint>
#include <string>

namespace SockApi {

using Handle = int;
constexpr Handle kInvalidHandle = -1;

enum EventBits : unsigned {
    FdRead = 1,
    FdWrite = 2,
    FdOob = 4,
    FdAccept = 8,
    FdConnect = 16,
    FdClose = 32,
};

enum ErrorCode : int {
    ErrInvalidArgument = 10022,
    ErrTooManyFiles = 10024,
    ErrWouldBlock = 10035,
    ErrNotSocket = 10038,
    ErrNoProtocolOption = 10042,
    ErrOpNotSupported = 10045,
    ErrNetDown = 10050,
    ErrNetUnreachable = 10051,
    ErrConnAborted = 10053,
    ErrConnReset = 10054,
    ErrNoBuffers = 10055,
    ErrNotConnected = 10057,
    ErrHostDown = 10064,
    ErrHostUnreachable = 10065,
    ErrNotInitialised = 10093,
};

// The Windows Sockets number for an errno value, and for a getaddrinfo
// result; an errno without one comes back as it is.
int MapErrno(int e);
int MapResolverError(int eai);

// The error of the last failed call on this thread.
int LastError();
void SetLastError(int code);

// Calls below return -1 (or kInvalidHandle) on failure and set LastError.
// Addresses are in network order, ports in host order.
Handle OpenStream(int protocol, bool forListening);
int Bind(Handle h, uint32_t addr, uint16_t port);
int Listen(Handle h, int backlog);
Handle Accept(Handle h);
int Send(Handle h, const void* data, int len, bool urgent);
int Recv(Handle h, void* data, int len);
int BytesWaiting(Handle h, unsigned long& count);
int Shutdown(Handle h, int how);
int CloseSocket(Handle h);
int SetLinger(Handle h, bool on, int seconds);
int SetReuseAddr(Handle h, bool on);
int SetNoDelay(Handle h, bool on);
int SetKeepAlive(Handle h, bool on);
// Keep-alive on, the first probe after idleSeconds without traffic, then one
// every intervalSeconds; the connection fails after probes unanswered.
int SetKeepAliveTimes(Handle h, int idleSeconds, int intervalSeconds, int probes);
int GetSockName(Handle h, uint32_t& addr, uint16_t& port);
int GetPeerName(Handle h, uint32_t& addr, uint16_t& port);
int SetNonBlocking(Handle h);

// Connects a non-blocking handle. Pending: under way or done, the outcome shows
// as writability (see ConnectResult). KnownAtOnce: the connection failed at
// once, outcome holds its error. Failed: the call itself failed (LastError).
enum class ConnectStart { Pending, KnownAtOnce, Failed };
ConnectStart StartConnect(Handle h, uint32_t addr, uint16_t port, int& outcome);
// The outcome of a pending connect: 0 connected, -1 while it is still under
// way, otherwise its error.
int ConnectResult(Handle h);

// What a readable stream handle holds. Ended: the peer closed (error 0) or the
// connection failed (error holds the code).
enum class ReadProbe { Data, Nothing, Ended };
ReadProbe ProbeRead(Handle h, int& error);

int ProtocolByName(const std::string& name);
int ServiceByName(const std::string& name, const std::string& proto);
int HostByName(const std::string& name, uint32_t& addr);
std::string IPv4ToText(uint32_t addr);

}  // namespace SockApi
