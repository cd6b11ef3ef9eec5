#pragma once
// Readiness of one socket handle, watched on the main thread's event loop and
// turned into the read/write/accept/connect/close events that TWSocket
// dispatches.
#include "net/SocketApi.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

class QSocketNotifier;

namespace SockApi {

// Reports readiness as event bits, the way a socket library with asynchronous
// selection does: read and accept are reported again only after the owner has
// read or accepted, write only after a send would have blocked (and once when a
// connect completes), close once. The handler is never re-entered: while it
// runs, readiness is not watched and posted events wait.
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
    // While paused, readability (read, accept and close) is not watched;
    // writability is. Resuming reports readability again, also when the owner
    // read nothing. A new Watch starts unpaused.
    void SetReadPaused(bool paused);
    bool ReadPaused() const { return readPaused_; }
    // Queues events for the current handle; dropped when it changes.
    void Post(unsigned events, int error = 0);

private:
    void OnReadable();
    void OnWritable();
    void Deliver(unsigned events, int error);
    void Arm();

    Handler handler_;
    std::unique_ptr<QSocketNotifier> readNotifier_;
    std::unique_ptr<QSocketNotifier> writeNotifier_;
    std::shared_ptr<TSocketWatcher*> life_;
    Handle handle_ = kInvalidHandle;
    Mode mode_ = Mode::Connected;
    uint64_t generation_ = 0;
    bool watching_ = false;
    bool busy_ = false;
    bool readArmed_ = false;
    bool readPaused_ = false;
    bool writeWanted_ = false;
    bool closeReported_ = false;
    std::vector<std::pair<unsigned, int>> deferred_;
};

}  // namespace SockApi
