#include "serial/WorkThread.h"

#include "serial/MainThreadCall.h"

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace {
constexpr int kWorkWaitMs = 75;
constexpr int kIdleWaitMs = 200;
// Bytes arriving during the status queries keep changing InQueue; do not chase them forever.
constexpr int kMaxStatusQueries = 16;
}  // namespace

TWorkThread::TWorkThread(TSerialPortNG& port, TSerialShared& shared)
    : Port(port), Shared(shared), Thread([this] { Execute(); })
{}

TWorkThread::~TWorkThread()
{
    Terminate();
    if (Thread.joinable())
        Thread.join();
}

void TWorkThread::Terminate()
{
    Terminated = true;
    SerialDevice::SignalWake(Shared.WakeFd);
}

template <class F>
bool TWorkThread::WithHandle(F f)
{
    int fd = Shared.EnterHandle();
    if (fd < 0)
        return false;
    f(fd);
    Shared.LeaveHandle();
    return true;
}

void TWorkThread::Execute()
{
    LastReadTick = SerialTick();
    Working = Shared.Active;
    while (!(Terminated && !Working)) {
        if (Working) {
            WorkingPass();
        } else {
            Shared.ThreadIsRunning = false;
            // A write aborted by a close before this thread noticed the open must
            // still be finished, or SendInProgress would refuse every later send.
            Working = Shared.Active || Shared.SendInProgress;
            if (!Working) {
                SerialDevice::Wait(-1, false, false, Shared.WakeFd, kIdleWaitMs);
                SerialDevice::DrainWake(Shared.WakeFd);
            }
        }
    }
    Shared.ThreadIsRunning = false;
}

void TWorkThread::WorkingPass()
{
    Shared.ThreadIsRunning = true;
    if (Shared.OpenGeneration != SeenGeneration) {
        // A new open: forget what the previous device told us.
        SeenGeneration = Shared.OpenGeneration;
        Lost = false;
        Counters = {};
        PrevInQueue = PrevOutQueue = 0;
        SeenEvents = 0;
    }
    if (Shared.Active)
        PollLineStatus();
    CheckWrite();
    if (!ReadPending && Shared.Active)
        TryRead();
    if (!WaitPending && Shared.Active)
        StartEventWait();
    WaitStep();
    if (!Shared.Active) {
        if (ReadPending)
            FinishRead();
        WaitPending = false;
        if (!ReadPending && !Shared.SendInProgress)
            Working = false;
    }
}

void TWorkThread::WaitStep()
{
    const bool writing = Job != nullptr || Shared.SendInProgress;
    if (!ReadPending && !WaitPending && !writing)
        return;
    // Without a current InQueue a device that polls readable (not a tty) would end every wait at once.
    const bool forInput = ReadPending || (WaitPending && StatusKnown && InQueue < Shared.WakeCount);
    SerialDevice::WaitResult w;
    bool waited = false;
    if (!Lost)
        waited = WithHandle([&](int fd) { w = SerialDevice::Wait(fd, forInput, writing, Shared.WakeFd, kWorkWaitMs); });
    if (!waited)
        w = SerialDevice::Wait(-1, false, false, Shared.WakeFd, kWorkWaitMs);
    if (w.Woken)
        SerialDevice::DrainWake(Shared.WakeFd);
    if (w.HangUp)
        DeviceGone(EIO);
    if (Shared.Active)
        PollLineStatus();
    if (w.Error) {
        if (ReadPending && WaitPending)
            StoreError(9911, uint32_t(w.Error), "Error getting Overlappedresult", 0);
        else if (ReadPending)
            StoreError(9912, uint32_t(w.Error), "Error getting Overlappedresult", 0);
        else
            StoreError(9913, uint32_t(w.Error), "Error getting Overlappedresult", 0);
        ReadPending = WaitPending = false;
        return;
    }
    if (ReadPending && w.Readable)
        FinishRead();
    // The line-event wait ends when a poll saw an enabled event, or when the
    // event mask was emptied (close).
    if (WaitPending && ((SeenEvents & Shared.EventMask) != 0 || Shared.EventMask == 0 || !Shared.Active))
        FinishEventWait();
}

void TWorkThread::DeviceGone(int error)
{
    if (Lost)
        return;
    // Reported once; the port stays open (nothing reopens by itself) and the
    // passes go on paced by the wake handle alone.
    Lost = true;
    StoreError(9804, uint32_t(error), "Error reading Data", 0);
}

// Emulates the modem status query and ClearCommError, and notes the line events
// that a Win32 event wait would have reported. Not detectable here: the event
// character (no termios equivalent), and on devices without TIOCGICOUNT (ptys,
// many USB adapters) breaks and line errors.
void TWorkThread::PollLineStatus()
{
    if (Lost)
        return;
    uint32_t modem = 0;
    int e = 0;
    if (!WithHandle([&](int fd) { e = SerialDevice::GetModemStatus(fd, modem); }))
        return;
    if (e == EIO) {
        DeviceGone(e);
        return;
    }
    if (e) {
        StoreError(9905, uint32_t(e), "Error getting ModemStatus", 0);
    } else {
        const uint32_t old = Shared.ModemState;
        bool madeUpRing = false;
        if (Shared.Platform == 1 && !(modem & 0x40) && (old & 0x40)) {
            EventMask = 0x100;
            Shared.RingState = false;
            madeUpRing = true;
        }
        const bool ringChanged = (modem ^ old) & 0x40;
        if ((modem ^ old) & 0x10)
            SeenEvents |= 0x008;
        if ((modem ^ old) & 0x20)
            SeenEvents |= 0x010;
        if ((modem ^ old) & 0x80)
            SeenEvents |= 0x020;
        if ((modem & 0x40) && !(old & 0x40))
            SeenEvents |= 0x100;
        ModemStatus = modem;
        Shared.ModemState = modem;
        Shared.CTSState = modem & 0x10;
        Shared.DSRState = modem & 0x20;
        Shared.RLSDState = modem & 0x80;
        Shared.RingState = modem & 0x40;
        if (ringChanged && Port.OnRIEvent)
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
                if (!qe)
                    ce = SerialDevice::GetErrorCounters(fd, now);
            }))
            return;
        if (qe == EIO || ce == EIO) {
            DeviceGone(EIO);
            return;
        }
        if (qe || ce) {
            StatusKnown = false;
            StoreError(9803, uint32_t(qe ? qe : ce), "Error ClearCommError", 0);
            return;
        }
        StatusKnown = true;
        const uint32_t word = SerialDevice::ErrorWord(Counters, now);
        Counters = now;
        if (in > PrevInQueue)
            SeenEvents |= 0x001;
        // A pty never shows an output queue: count bytes handed to the device as one.
        if (out == 0 && (PrevOutQueue > 0 || Shared.TxSent.exchange(false)))
            SeenEvents |= 0x004;
        if (word & 0x10)
            SeenEvents |= 0x040;
        if (word & 0x0F)
            SeenEvents |= 0x080;
        PrevInQueue = in;
        PrevOutQueue = out;
        ErrorWord = word;
        InQueue = in;
        OutQueue = out;
        HoldFlags = 0;  // Linux does not say why output is held
        if (word == Shared.CommError && HoldFlags == Shared.CommStateFlags && in == Shared.InQueue &&
            out == Shared.OutQueue)
            return;
        Shared.CommError = word;
        Shared.CommStateFlags = HoldFlags;
        Shared.InQueue = in;
        Shared.OutQueue = out;
        if (Port.OnCommStat)
            SyncHandler(&TSerialPortNG::OnCommStat);
    }
}

void TWorkThread::TryRead()
{
    if (Lost)
        return;
    if (InQueue == 0) {
        LastReadTick = SerialTick();
        return;
    }
    const uint32_t now = SerialTick();
    const double timeout = double(uint32_t(InQueue * Shared.RTOCharDelayTime)) / 1000.0 + Shared.RTOExtraDelayTime;
    const bool readNow = Shared.ReadRequest || InQueue >= Shared.ClusterSize ||
                         double(uint32_t(now - LastReadTick)) > timeout || (ErrorWord & 0x1F) != 0;
    if (!readNow)
        return;
    std::string buffer(InQueue, '\0');
    SerialDevice::IoResult r{SerialDevice::IoStatus::Failed, 0, EBADF};
    if (!WithHandle([&](int fd) { r = SerialDevice::Read(fd, buffer.data(), buffer.size()); }))
        return;
    switch (r.Status) {
    case SerialDevice::IoStatus::Data:
        Shared.ReadRequest = false;
        buffer.resize(r.Count);
        InQueue = PrevInQueue = 0;
        QueueCluster(std::move(buffer));
        LastReadTick = SerialTick();
        break;
    case SerialDevice::IoStatus::WouldBlock:
        ReadPending = true;  // finished by FinishRead once input shows up
        break;
    case SerialDevice::IoStatus::HangUp:
        Shared.ReadRequest = false;
        DeviceGone(r.Error);
        break;
    case SerialDevice::IoStatus::Failed:
        Shared.ReadRequest = false;
        StoreError(9804, uint32_t(r.Error), "Error reading Data", 0);
        break;
    }
}

void TWorkThread::FinishRead()
{
    ReadPending = false;
    if (!Shared.Active) {
        StoreError(9907, ECANCELED, "Error read aborted", 0);
        return;
    }
    std::string buffer(std::max<uint32_t>(InQueue, 1), '\0');
    SerialDevice::IoResult r{SerialDevice::IoStatus::Failed, 0, EBADF};
    if (!WithHandle([&](int fd) { r = SerialDevice::Read(fd, buffer.data(), buffer.size()); })) {
        StoreError(9907, ECANCELED, "Error read aborted", 0);
        return;
    }
    if (r.Status == SerialDevice::IoStatus::Data) {
        buffer.resize(r.Count);
        InQueue = PrevInQueue = 0;
        QueueCluster(std::move(buffer));
        LastReadTick = SerialTick();
    } else if (r.Status == SerialDevice::IoStatus::HangUp) {
        DeviceGone(r.Error);
    } else if (r.Status == SerialDevice::IoStatus::Failed) {
        StoreError(9908, uint32_t(r.Error), "Error getting Overlappedresult", 0);
    } else {
        ReadPending = true;
    }
}

void TWorkThread::QueueCluster(std::string bytes)
{
    if (Shared.Destroying)
        return;
    if (Shared.StripNulls)
        std::erase(bytes, '\0');
    {
        std::lock_guard<std::mutex> l(Shared.ClusterLock);
        Shared.ClusterList.push_back(std::make_unique<TSerialCluster>(std::move(bytes), ErrorWord));
    }
    TSerialPortNG* port = &Port;
    SyncCall([port] {
        auto handler = port->OnRxClusterEvent;  // looked up on the main thread
        if (handler)
            handler(port);
    });
}

// Events seen while no wait was pending stay noted and end the next wait at once.
void TWorkThread::StartEventWait()
{
    EventMask = 0;
    WaitPending = true;
}

void TWorkThread::FinishEventWait()
{
    EventMask = SeenEvents & Shared.EventMask;
    SeenEvents = 0;
    WaitPending = false;
    if (Shared.Active && EventMask != 0) {
        PollLineStatus();
        DispatchCommEvents();
    }
}

void TWorkThread::DispatchCommEvents()
{
    if (Shared.Destroying)
        return;
    Shared.CommEvent = EventMask;
    static constexpr std::pair<uint32_t, TNotifyEvent TSerialPortNG::*> order[] = {
        {0x040, &TSerialPortNG::OnBreakEvent},        {0x008, &TSerialPortNG::OnCTSEvent},
        {0x010, &TSerialPortNG::OnDSREvent},          {0x080, &TSerialPortNG::OnLineErrorEvent},
        {0x100, &TSerialPortNG::OnRingEvent},         {0x020, &TSerialPortNG::OnRLSDEvent},
        {0x001, &TSerialPortNG::OnRxCharEvent},       {0x002, &TSerialPortNG::OnRxEventCharEvent},
        {0x004, &TSerialPortNG::OnTxQueueEmptyEvent},
    };
    for (const auto& [bit, handler] : order)
        if ((EventMask & bit) && Port.*handler)
            SyncHandler(handler);
    if (EventMask != 0 && Port.OnCommEvent)
        SyncHandler(&TSerialPortNG::OnCommEvent);
}

void TWorkThread::CheckWrite()
{
    if (!Shared.SendInProgress)
        return;
    if (!Job)
        Job.reset(Shared.WriteJob.exchange(nullptr));
    if (!Job)
        return;
    if (Shared.WriteAbort.exchange(false)) {
        FinishWrite(true, ECANCELED);
        return;
    }
    if (!Lost && Job->Done < Job->Bytes.size()) {
        SerialDevice::IoResult r{SerialDevice::IoStatus::Failed, 0, EBADF};
        WithHandle(
            [&](int fd) { r = SerialDevice::Write(fd, Job->Bytes.data() + Job->Done, Job->Bytes.size() - Job->Done); });
        if (r.Status == SerialDevice::IoStatus::Data) {
            Job->Done += r.Count;
            Shared.TxSent = Shared.TxSent || r.Count > 0;
        } else if (r.Status != SerialDevice::IoStatus::WouldBlock) {
            if (r.Status == SerialDevice::IoStatus::HangUp)
                DeviceGone(r.Error);
            FinishWrite(true, uint32_t(r.Error));
            return;
        }
    }
    const bool timedOut = Job->TimeoutMs != 0 && uint32_t(SerialTick() - Job->StartTick) > Job->TimeoutMs;
    if (Job->Done == Job->Bytes.size() || timedOut || Lost)
        FinishWrite(false, ETIMEDOUT);
}

void TWorkThread::FinishWrite(bool failed, uint32_t code)
{
    const size_t done = Job->Done, asked = Job->Bytes.size();
    Job.reset();
    if (!failed)
        Shared.WrittenBytes = uint32_t(done);
    Shared.SendInProgress = false;
    if (failed)
        StoreError(9702, code, "Error getting Overlapped Result", 0);
    else if (done != asked)
        StoreError(9701, code, "Error write TimeOut", 0);
    TSerialPortNG* port = &Port;
    SyncCall([port] {
        auto handler = port->OnWriteDone;  // looked up on the main thread
        if (handler)
            handler(port);
    });
}

void TWorkThread::SyncCall(std::function<void()> procedure)
{
    if (Shared.ThreadQuietMode)
        return;
    Shared.HandOff->Call(std::move(procedure));
}

void TWorkThread::SyncHandler(TNotifyEvent TSerialPortNG::*handler)
{
    TSerialPortNG* port = &Port;
    SyncCall([port, handler] {
        auto h = port->*handler;
        if (h)
            h(port);
    });
}

void TWorkThread::StoreError(uint32_t Place, uint32_t Code, const char* Msg, uint8_t Noise)
{
    TSerialPortNG* port = &Port;
    std::string msg = Msg;
    SyncCall([port, Place, Code, msg, Noise] { port->ProcessError(Place, Code, msg, Noise); });
}
