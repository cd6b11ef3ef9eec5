#include "net/SocketWatcher.h"

#include <QMetaObject>
#include <QSocketNotifier>

namespace SockApi {

TSocketWatcher::TSocketWatcher(Handler handler)
    : handler_(std::move(handler)),
      readNotifier_(std::make_unique<QSocketNotifier>(QSocketNotifier::Read)),
      writeNotifier_(std::make_unique<QSocketNotifier>(QSocketNotifier::Write)),
      life_(std::make_shared<TSocketWatcher*>(this))
{
    QObject::connect(readNotifier_.get(), &QSocketNotifier::activated, [this] { OnReadable(); });
    QObject::connect(writeNotifier_.get(), &QSocketNotifier::activated, [this] { OnWritable(); });
}

TSocketWatcher::~TSocketWatcher() { Stop(); }

int TSocketWatcher::Watch(Handle h, Mode mode)
{
    Stop();
    if (SetNonBlocking(h) < 0)
        return -1;
    handle_ = h;
    mode_ = mode;
    watching_ = true;
    readArmed_ = mode != Mode::Connecting;
    readPaused_ = false;
    writeWanted_ = false;
    closeReported_ = false;
    readNotifier_->setSocket(h);
    writeNotifier_->setSocket(h);
    Arm();
    return 0;
}

void TSocketWatcher::Stop()
{
    readNotifier_->setEnabled(false);
    writeNotifier_->setEnabled(false);
    watching_ = false;
    handle_ = kInvalidHandle;
    ++generation_;
    deferred_.clear();
}

int TSocketWatcher::StartConnect(uint32_t addr, uint16_t port)
{
    int outcome = 0;
    switch (SockApi::StartConnect(handle_, addr, port, outcome)) {
    case ConnectStart::Pending:
        return 0;
    case ConnectStart::KnownAtOnce:
        writeNotifier_->setEnabled(false);
        closeReported_ = true;
        Post(FdConnect, outcome);
        return 0;
    case ConnectStart::Failed:
        break;
    }
    int code = LastError();
    Stop();
    SetLastError(code);
    return -1;
}

void TSocketWatcher::ReadDone()
{
    if (!watching_ || readArmed_)
        return;
    readArmed_ = true;
    Arm();
}

void TSocketWatcher::WantWrite()
{
    if (!watching_ || writeWanted_)
        return;
    writeWanted_ = true;
    Arm();
}

void TSocketWatcher::SetReadPaused(bool paused)
{
    readPaused_ = paused;
    if (!paused && watching_)
        readArmed_ = true;
    Arm();
}

void TSocketWatcher::Post(unsigned events, int error)
{
    if (!watching_)
        return;
    if (busy_) {
        deferred_.emplace_back(events, error);
        return;
    }
    std::weak_ptr<TSocketWatcher*> life = life_;
    uint64_t generation = generation_;
    QMetaObject::invokeMethod(
        readNotifier_.get(),
        [life, generation, events, error] {
            // No strong reference may be held while delivering: Deliver tells
            // by it whether the handler destroyed the watcher.
            TSocketWatcher* self = life.expired() ? nullptr : *life.lock();
            if (self && self->generation_ == generation && self->watching_)
                self->Deliver(events, error);
        },
        Qt::QueuedConnection);
}

void TSocketWatcher::Arm()
{
    if (!watching_ || busy_) {
        readNotifier_->setEnabled(false);
        writeNotifier_->setEnabled(false);
        return;
    }
    bool connecting = mode_ == Mode::Connecting;
    readNotifier_->setEnabled(!connecting && readArmed_ && !readPaused_ && !closeReported_);
    writeNotifier_->setEnabled(!closeReported_ && (connecting || writeWanted_));
}

void TSocketWatcher::OnReadable()
{
    if (!watching_ || busy_ || readPaused_)
        return;
    if (mode_ == Mode::Listening) {
        readArmed_ = false;
        Deliver(FdAccept, 0);
        return;
    }
    int error = 0;
    switch (ProbeRead(handle_, error)) {
    case ReadProbe::Data:
        readArmed_ = false;
        Deliver(FdRead, 0);
        break;
    case ReadProbe::Ended:
        closeReported_ = true;
        Deliver(FdClose, error);
        break;
    case ReadProbe::Nothing:
        break;
    }
}

void TSocketWatcher::OnWritable()
{
    if (!watching_ || busy_)
        return;
    if (mode_ == Mode::Connecting) {
        int result = ConnectResult(handle_);
        if (result < 0)
            return;
        if (result != 0) {
            closeReported_ = true;
            Deliver(FdConnect, result);
            return;
        }
        mode_ = Mode::Connected;
        readArmed_ = true;
        writeWanted_ = false;
        Deliver(FdConnect | FdWrite, 0);
        return;
    }
    writeWanted_ = false;
    Deliver(FdWrite, 0);
}

void TSocketWatcher::Deliver(unsigned events, int error)
{
    if (busy_) {
        deferred_.emplace_back(events, error);
        return;
    }
    busy_ = true;
    Arm();
    std::weak_ptr<TSocketWatcher*> life = life_;
    handler_(events, error);
    if (life.expired())
        return;
    busy_ = false;
    Arm();
    // Stop clears what was deferred for an earlier handle, so what is left
    // belongs to the handle watched now (one the handler may have adopted).
    if (!deferred_.empty()) {
        auto pending = std::move(deferred_);
        deferred_.clear();
        for (auto [bits, code] : pending)
            Post(bits, code);
    }
}

}  // namespace SockApi
