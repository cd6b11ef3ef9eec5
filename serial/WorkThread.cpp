#include "serial/WorkThread.h"

#include "serial/MainThreadCall.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <utility>

namespace {
constexpr int kWorkWaitMs = 75;
constexpr int kIdleWaitMs = 200;
// Bytes arriving during the status queries keep changing InQueue; do not chase them forever.
constexpr int kMaxStatusQueries = 16;
}  // namespace

TWorkThread::TWorkThread(TSerialPortNG& port, TSerialShared& shared)
    : port_(port), shared_(shared), thread_([this] { Execute(); })
{}

TWorkThread::~TWorkThread()
{
    Terminate();
    if (thread_.joinable())
        thread_.join();
}

void TWorkThread::Terminate()
{
    terminated_ = true;
    SerialDevice::SignalWake(shared_.WakeFd);
}

template <class F>
bool TWorkThread::WithHandle(F f)
{
    TSerialHandle::Lease lease(shared_.Handle);
    if (!lease)
        return false;
    f(lease.Fd());
    return true;
}

void TWorkThread::Execute()
{
    lastReadTick_ = SerialTick();
    working_ = shared_.Active;
    while (!(terminated_ && !working_)) {
        if (working_) {
            WorkingPass();
        } else {
            shared_.ThreadIsRunning.Set(false);
            // A write aborted by a close before this thread noticed the open must
            // still be finished, or SendInProgress would refuse every later send.
            working_ = shared_.Active || shared_.SendInProgress;
            if (!working_) {
                SerialDevice::Wait(-1, false, false, shared_.WakeFd, kIdleWaitMs);
                SerialDevice::DrainWake(shared_.WakeFd);
            }
        }
    }
    shared_.ThreadIsRunning.Set(false);
}

void TWorkThread::WorkingPass()
{
    shared_.ThreadIsRunning.Set(true);
    if (shared_.OpenGeneration != seenGeneration_) {
        // A new open: forget what the previous device told us.
        seenGeneration_ = shared_.OpenGeneration;
        lost_ = false;
        polledAfterWait_ = false;
        modemSupported_ = countersSupported_ = true;
        counters_ = {};
        marks_.Reset();
        prevInQueue_ = prevOutQueue_ = 0;
        seenEvents_ = 0;
    }
    // The previous pass ended with a status query; another at once would only repeat it.
    if (shared_.Active && !std::exchange(polledAfterWait_, false))
        PollLineStatus();
    CheckWrite();
    if (!readPending_ && shared_.Active)
        TryRead();
    if (!waitPending_ && shared_.Active)
        StartEventWait();
    WaitStep();
    shared_.HandOff->Finish();  // a cluster the wait's own read queued, or no wait at all
    if (!shared_.Active) {
        if (readPending_)
            FinishRead();
        waitPending_ = false;
        if (!readPending_ && !shared_.SendInProgress)
            working_ = false;
    }
}

void TWorkThread::WaitStep()
{
    const bool writing = job_ != nullptr || shared_.SendInProgress;
    if (!readPending_ && !waitPending_ && !writing)
        return;
    // Without a current InQueue a device that polls readable (not a tty) would end every wait at once.
    const bool forInput = readPending_ || (waitPending_ && statusKnown_ && inQueue_ < shared_.WakeCount);
    SerialDevice::WaitResult w;
    bool waited = false;
    if (!lost_)
        waited =
            WithHandle([&](int fd) { w = SerialDevice::Wait(fd, forInput, writing, shared_.WakeFd, kWorkWaitMs); });
    if (!waited)
        w = SerialDevice::Wait(-1, false, false, shared_.WakeFd, kWorkWaitMs);
    shared_.HandOff->Finish();
    if (w.Woken)
        SerialDevice::DrainWake(shared_.WakeFd);
    if (w.HangUp)
        DeviceGone(EIO);
    if (shared_.Active) {
        PollLineStatus();
        polledAfterWait_ = true;
    }
    if (w.Error) {
        if (readPending_ && waitPending_)
            StoreError(9911, uint32_t(w.Error), "Error getting Overlappedresult", 0);
        else if (readPending_)
            StoreError(9912, uint32_t(w.Error), "Error getting Overlappedresult", 0);
        else
            StoreError(9913, uint32_t(w.Error), "Error getting Overlappedresult", 0);
        readPending_ = waitPending_ = false;
        return;
    }
    if (readPending_ && w.Readable)
        FinishRead();
    // The line-event wait ends when a poll saw an enabled event, or when the
    // event mask was emptied (close).
    if (waitPending_ && ((seenEvents_ & shared_.EventMask) != 0 || shared_.EventMask == 0 || !shared_.Active))
        FinishEventWait();
}

void TWorkThread::DeviceGone(int error)
{
    if (lost_)
        return;
    // Reported once; the port stays open (nothing reopens by itself) and the
    // passes go on paced by the wake handle alone.
    lost_ = true;
    StoreError(9804, uint32_t(error), "Error reading Data", 0);
}

// Emulates the modem status query and ClearCommError, and notes the line events
// that a Win32 event wait would have reported. Not detectable here: the event
// character (no termios equivalent), and on devices without TIOCGICOUNT (ptys,
// many USB adapters) breaks and line errors.
void TWorkThread::PollLineStatus()
{
    if (lost_)
        return;
    uint32_t modem = 0;
    int e = 0;
    if (!WithHandle([&](int fd) {
            if (modemSupported_)
                e = SerialDevice::GetModemStatus(fd, modem, &modemSupported_);
        }))
        return;
    if (e == EIO) {
        DeviceGone(e);
        return;
    }
    if (e) {
        StoreError(9905, uint32_t(e), "Error getting modemStatus_", 0);
    } else {
        const uint32_t old = shared_.ModemState;
        bool madeUpRing = false;
        if (shared_.Platform == 1 && !(modem & 0x40) && (old & 0x40)) {
            eventMask_ = 0x100;
            shared_.RingState = false;
            madeUpRing = true;
        }
        const bool ringChanged = (modem ^ old) & 0x40;
        if ((modem ^ old) & 0x10)
            seenEvents_ |= 0x008;
        if ((modem ^ old) & 0x20)
            seenEvents_ |= 0x010;
        if ((modem ^ old) & 0x80)
            seenEvents_ |= 0x020;
        if ((modem & 0x40) && !(old & 0x40))
            seenEvents_ |= 0x100;
        modemStatus_ = modem;
        shared_.ModemState = modem;
        shared_.CTSState = modem & 0x10;
        shared_.DSRState = modem & 0x20;
        shared_.RLSDState = modem & 0x80;
        shared_.RingState = modem & 0x40;
        if (ringChanged && port_.OnRIEvent)
            SyncHandler(&TSerialPortNG::OnRIEvent);
        if (madeUpRing)
            DispatchCommEvents();
    }

    for (int i = 0; i < kMaxStatusQueries; ++i) {
        uint32_t in = 0, out = 0;
        SerialDevice::ErrorCounters now;
        int qe = 0, ce = 0;
        if (!WithHandle([&](int fd) {
                qe = SerialDevice::QueueCounts(fd, in, out);
                if (!qe && countersSupported_) {
                    ce = SerialDevice::GetErrorCounters(fd, now);
                    countersSupported_ = ce != 0 || now.Valid;
                }
            }))
            return;
        if (qe == EIO || ce == EIO) {
            DeviceGone(EIO);
            return;
        }
        if (qe || ce) {
            statusKnown_ = false;
            StoreError(9803, uint32_t(qe ? qe : ce), "Error ClearCommError", 0);
            return;
        }
        statusKnown_ = true;
        const uint32_t word = SerialDevice::ErrorWord(counters_, now);
        counters_ = now;
        if (in > prevInQueue_)
            seenEvents_ |= 0x001;
        // A pty never shows an output queue: count bytes handed to the device as one.
        if (out == 0 && (prevOutQueue_ > 0 || shared_.TxSent.exchange(false)))
            seenEvents_ |= 0x004;
        if (word & 0x10)
            seenEvents_ |= 0x040;
        if (word & 0x0F)
            seenEvents_ |= 0x080;
        prevInQueue_ = in;
        prevOutQueue_ = out;
        errorWord_ = word;
        inQueue_ = in;
        outQueue_ = out;
        holdFlags_ = 0;  // Linux does not say why output is held
        if (word == shared_.CommError && holdFlags_ == shared_.CommStateFlags && in == shared_.InQueue &&
            out == shared_.OutQueue)
            return;
        shared_.CommError = word;
        shared_.CommStateFlags = holdFlags_;
        shared_.InQueue = in;
        shared_.OutQueue = out;
        if (port_.OnCommStat)
            SyncHandler(&TSerialPortNG::OnCommStat);
    }
}

void TWorkThread::TryRead()
{
    if (lost_)
        return;
    if (inQueue_ == 0) {
        lastReadTick_ = SerialTick();
        return;
    }
    const uint32_t now = SerialTick();
    const double timeout = double(uint32_t(inQueue_ * shared_.RTOCharDelayTime)) / 1000.0 + shared_.RTOExtraDelayTime;
    const bool readNow = shared_.ReadRequest || inQueue_ >= shared_.ClusterSize ||
                         double(uint32_t(now - lastReadTick_)) > timeout || (errorWord_ & 0x1F) != 0;
    if (!readNow)
        return;
    std::string buffer(inQueue_, '\0');
    SerialDevice::IoResult r{SerialDevice::IoStatus::Failed, 0, EBADF};
    if (!WithHandle([&](int fd) { r = SerialDevice::Read(fd, buffer.data(), buffer.size()); }))
        return;
    switch (r.Status) {
    case SerialDevice::IoStatus::Data:
        shared_.ReadRequest = false;
        buffer.resize(r.Count);
        inQueue_ = prevInQueue_ = 0;
        QueueCluster(std::move(buffer));
        lastReadTick_ = SerialTick();
        break;
    case SerialDevice::IoStatus::WouldBlock:
        readPending_ = true;  // finished by FinishRead once input shows up
        break;
    case SerialDevice::IoStatus::HangUp:
        shared_.ReadRequest = false;
        DeviceGone(r.Error);
        break;
    case SerialDevice::IoStatus::Failed:
        shared_.ReadRequest = false;
        StoreError(9804, uint32_t(r.Error), "Error reading Data", 0);
        break;
    }
}

void TWorkThread::FinishRead()
{
    readPending_ = false;
    if (!shared_.Active) {
        StoreError(9907, ECANCELED, "Error read aborted", 0);
        return;
    }
    std::string buffer(std::max<uint32_t>(inQueue_, 1), '\0');
    SerialDevice::IoResult r{SerialDevice::IoStatus::Failed, 0, EBADF};
    if (!WithHandle([&](int fd) { r = SerialDevice::Read(fd, buffer.data(), buffer.size()); })) {
        StoreError(9907, ECANCELED, "Error read aborted", 0);
        return;
    }
    if (r.Status == SerialDevice::IoStatus::Data) {
        buffer.resize(r.Count);
        inQueue_ = prevInQueue_ = 0;
        QueueCluster(std::move(buffer));
        lastReadTick_ = SerialTick();
    } else if (r.Status == SerialDevice::IoStatus::HangUp) {
        DeviceGone(r.Error);
    } else if (r.Status == SerialDevice::IoStatus::Failed) {
        StoreError(9908, uint32_t(r.Error), "Error getting Overlappedresult", 0);
    } else {
        readPending_ = true;
    }
}

void TWorkThread::QueueCluster(std::string bytes)
{
    if (shared_.Destroying)
        return;
    if (shared_.ErrorMarks)
        bytes = marks_.Decode(bytes);
    else
        bytes.insert(0, marks_.TakeHeld());
    if (shared_.StripNulls)
        std::erase(bytes, '\0');
    {
        std::lock_guard<std::mutex> l(shared_.ClusterLock);
        shared_.ClusterList.push_back(std::make_unique<TSerialCluster>(std::move(bytes), errorWord_));
    }
    // Finished after the next wait: the worker sleeps once for both, and a
    // cluster costs one wake-up fewer.
    if (shared_.ThreadQuietMode)
        return;
    TSerialPortNG* port = &port_;
    shared_.HandOff->Post([port] { port->OnRxClusterEvent(port); });  // looked up on the main thread
}

// Events seen while no wait was pending stay noted and end the next wait at once.
void TWorkThread::StartEventWait()
{
    eventMask_ = 0;
    waitPending_ = true;
}

void TWorkThread::FinishEventWait()
{
    eventMask_ = seenEvents_ & shared_.EventMask;
    seenEvents_ = 0;
    waitPending_ = false;
    if (shared_.Active && eventMask_ != 0) {
        PollLineStatus();
        DispatchCommEvents();
    }
}

void TWorkThread::DispatchCommEvents()
{
    if (shared_.Destroying)
        return;
    shared_.CommEvent = eventMask_;
    static constexpr std::pair<uint32_t, TSerialEvent<TNotifyEvent> TSerialPortNG::*> order[] = {
        {0x040, &TSerialPortNG::OnBreakEvent},        {0x008, &TSerialPortNG::OnCTSEvent},
        {0x010, &TSerialPortNG::OnDSREvent},          {0x080, &TSerialPortNG::OnLineErrorEvent},
        {0x100, &TSerialPortNG::OnRingEvent},         {0x020, &TSerialPortNG::OnRLSDEvent},
        {0x001, &TSerialPortNG::OnRxCharEvent},       {0x002, &TSerialPortNG::OnRxEventCharEvent},
        {0x004, &TSerialPortNG::OnTxQueueEmptyEvent},
    };
    for (const auto& [bit, handler] : order)
        if ((eventMask_ & bit) && port_.*handler)
            SyncHandler(handler);
    if (eventMask_ != 0 && port_.OnCommEvent)
        SyncHandler(&TSerialPortNG::OnCommEvent);
}

void TWorkThread::CheckWrite()
{
    if (!shared_.SendInProgress)
        return;
    if (!job_)
        job_.reset(shared_.WriteJob.exchange(nullptr));
    if (!job_)
        return;
    if (shared_.WriteAbort.exchange(false)) {
        FinishWrite(true, ECANCELED);
        return;
    }
    if (!lost_ && job_->Done < job_->Bytes.size()) {
        SerialDevice::IoResult r{SerialDevice::IoStatus::Failed, 0, EBADF};
        WithHandle([&](int fd) {
            r = SerialDevice::Write(fd, job_->Bytes.data() + job_->Done, job_->Bytes.size() - job_->Done);
        });
        if (r.Status == SerialDevice::IoStatus::Data) {
            job_->Done += r.Count;
            shared_.TxSent = shared_.TxSent || r.Count > 0;
        } else if (r.Status != SerialDevice::IoStatus::WouldBlock) {
            if (r.Status == SerialDevice::IoStatus::HangUp)
                DeviceGone(r.Error);
            FinishWrite(true, uint32_t(r.Error));
            return;
        }
    }
    const bool timedOut = job_->TimeoutMs != 0 && uint32_t(SerialTick() - job_->StartTick) > job_->TimeoutMs;
    if (job_->Done == job_->Bytes.size() || timedOut || lost_)
        FinishWrite(false, ETIMEDOUT);
}

void TWorkThread::FinishWrite(bool failed, uint32_t code)
{
    const size_t done = job_->Done, asked = job_->Bytes.size();
    job_.reset();
    if (!failed)
        shared_.WrittenBytes = uint32_t(done);
    shared_.SendInProgress = false;
    if (failed)
        StoreError(9702, code, "Error getting Overlapped Result", 0);
    else if (done != asked)
        StoreError(9701, code, "Error write TimeOut", 0);
    TSerialPortNG* port = &port_;
    SyncCall([port] { port->OnWriteDone(port); });  // looked up on the main thread
}

void TWorkThread::SyncCall(std::function<void()> procedure)
{
    if (shared_.ThreadQuietMode) {
        shared_.HandOff->Finish();
        return;
    }
    shared_.HandOff->Call(std::move(procedure));
}

void TWorkThread::SyncHandler(TSerialEvent<TNotifyEvent> TSerialPortNG::*handler)
{
    TSerialPortNG* port = &port_;
    SyncCall([port, handler] { (port->*handler)(port); });
}

void TWorkThread::StoreError(uint32_t Place, uint32_t Code, const char* Msg, uint8_t Noise)
{
    TSerialPortNG* port = &port_;
    std::string msg = Msg;
    SyncCall([port, Place, Code, msg, Noise] { port->ProcessError(Place, Code, msg, Noise); });
}
