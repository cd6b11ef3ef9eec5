#pragma once
// The operating-system layer under TWSocket: non-blocking IPv4 stream sockets,
// and readiness turned into the read/write/accept/connect/close events that the
// socket dispatches. Errors are numbered as Windows Sockets numbers them, so
// that codes and texts are the same on every platform.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QSocketNotifier;

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
    ErrNotSocket = 10038,
    ErrWouldBlock = 10035,
    ErrConnAborted = 10053,
    ErrConnReset = 10054,
    ErrNotConnected = 10057,
    ErrNotInitialised = 10093,
};

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
int GetSockName(Handle h, uint32_t& addr, uint16_t& port);
int GetPeerName(Handle h, uint32_t& addr, uint16_t& port);

int ProtocolByName(const std::string& name);
int ServiceByName(const std::string& name, const std::string& proto);
int HostByName(const std::string& name, uint32_t& addr);
// Numeric conversion of a dotted IPv4 address.
bool ParseIPv4(const std::string& text, uint32_t& addr);
std::string IPv4ToText(uint32_t addr);

// Reports readiness of one socket handle as event bits, the way a socket
// library with asynchronous selection does: read and accept are reported again
// only after the owner has read or accepted, write only after a send would have
// blocked (and once when a connect completes), close once. The handler is never
// re-entered: while it runs, readiness is not watched and posted events wait.
class TSocketWatcher {
public:
    using Handler = std::function<void(unsigned events, int error)>;
    enum class Mode { Listening, Connecting, Connected };

    explicit TSocketWatcher(Handler handler);
    ~TSocketWatcher();
    TSocketWatcher(const TSocketWatcher&) = delete;
    TSocketWatcher& operator=(const TSocketWatcher&) = delete;

    // Makes h non-blocking and starts reporting; -1 with LastError on failure.
    int Watch(Handle h, Mode mode);
    void Stop();
    // Starts the connect of a handle watched in Connecting mode. Its outcome
    // (also a refusal known at once) arrives as an FdConnect event.
    int StartConnect(uint32_t addr, uint16_t port);
    // The owner read or accepted: report the handle's readability again.
    void ReadDone();
    // A send would have blocked: report FdWrite when room appears.
    void WantWrite();
    // Queues events for the current handle; dropped when it changes.
    void Post(unsigned events, int error = 0);

private:
    void OnReadable();
    void OnWritable();
    void Deliver(unsigned events, int error);
    void Arm();

    Handler handler_;
    std::unique_ptr<QSocketNotifier> read_;
    std::unique_ptr<QSocketNotifier> write_;
    std::shared_ptr<TSocketWatcher*> life_;
    Handle handle_ = kInvalidHandle;
    Mode mode_ = Mode::Connected;
    uint64_t generation_ = 0;
    bool watching_ = false;
    bool busy_ = false;
    bool readArmed_ = false;
    bool writeWanted_ = false;
    bool closeReported_ = false;
    std::vector<std::pair<unsigned, int>> deferred_;
};

}  // namespace SockApi
