// How TWSocket turns readiness into its events, and pushes its send queue out.
#include "net/WSocket.h"

#include "net/SocketWatcher.h"

#include <chrono>

using namespace SockApi;

namespace {

// Past this many bytes or this much time in one read event the loop lets other
// events run; the readiness re-armed by the reads brings it back at once. A
// peer that sends faster than the handler reads would otherwise hold the window.
constexpr uint32_t kReceiveLoopBudget = 256 * 1024;
constexpr std::chrono::milliseconds kReceiveLoopTime{5};

bool ClosesSession(int error)
{
    return error == ErrInvalidArgument || error == ErrNotSocket || error == ErrConnAborted || error == ErrConnReset ||
           error == ErrNotConnected;
}

}  // namespace

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
    const auto deadline = std::chrono::steady_clock::now() + kReceiveLoopTime;
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
        if (!closing && (componentOptions_ & wsoNoReceiveLoop))
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
        if (!closing && (taken >= kReceiveLoopBudget || std::chrono::steady_clock::now() >= deadline))
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
