#include "serial/SerialNG.h"

#include "serial/MainThreadCall.h"
#include "serial/SerialDevicePosix.h"
#include "serial/SerialShared.h"
#include "serial/WorkThread.h"

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace {

constexpr uint32_t kInvalidHandle = 0xFFFFFFFF;
constexpr uint32_t kAllLineEvents = 0x1FF;

struct AutoTimeout {
    uint32_t Baud;
    uint32_t Delay;
};
constexpr AutoTimeout AutoTimeoutTable[] = {
    {110, 100000}, {300, 37000}, {600, 18000}, {1200, 9000}, {2400, 4500}, {4800, 2300}, {9600, 1100}, {14400, 760},
    {19200, 570},  {38400, 290}, {56000, 200}, {57600, 190}, {115200, 95}, {128000, 85}, {256000, 43},
};

// In 64 bits: a paste of a few megabytes overflows 32, and the wrapped time-out
// would cut the write short. Saturated: the device's time-out is a 32-bit word.
uint32_t WriteTimeoutMs(uint32_t count, uint32_t charDelayUs, uint16_t extraMs)
{
    const uint64_t ms = uint64_t(count) * charDelayUs / 1000 + extraMs;
    return uint32_t(std::min<uint64_t>(ms, UINT32_MAX));
}

}  // namespace

// The component's own state and routines; what the worker also sees is in shared_.
struct TSerialPortNG::Private {
    explicit Private(TSerialPortNG& owner) : owner_(owner) {}

    void SwitchActive(bool Open);
    void ApplyCommSettings();
    void ApplyIfActive();
    void ComputeAutoTimeouts();
    void WaitThreadIdle(int times);
    void SetQueueSizes(uint32_t failPlace);
    int SetCommMask(uint32_t mask);
    void LowerLinesOnClose();
    int CheckTimeoutsReadable() const;
    bool SetLimDiv(uint8_t& field, uint8_t value, const char* warning);
    SerialDevice::LineSettings CurrentLineSettings() const;
    void ProcessError(uint32_t Place, uint32_t Code, const std::string& Msg, uint8_t Noise)
    {
        owner_.ProcessError(Place, Code, Msg, Noise);
    }

    TSerialPortNG& owner_;
    std::string commPort_ = "COM2";
    uint32_t baudRate_ = 9600;
    uint8_t parityType_ = 0, stopBits_ = 0, dataBits_ = 8;
    char parityErrorChar_ = 0, xonChar_ = 17, xoffChar_ = 19, eventChar_ = 0;
    bool parityErrorReplacement_ = false, stripNullChars_ = false, xtoAuto_ = true;
    uint8_t xonLimDiv_ = 33, xoffLimDiv_ = 33, errorNoise_ = 255;
    int32_t flowControl_ = 0;
    uint32_t wtoCharDelayTime_ = 1100;
    uint16_t wtoExtraDelayTime_ = 250, rxQueueSize_ = 4096, txQueueSize_ = 4096;
    bool rtsState_ = true, dtrState_ = true, breakState_ = false;
    uint32_t writeTimeoutConstant_ = 0;  // ms; the write time-out set by SendData

    TSerialShared shared_;
    std::unique_ptr<TWorkThread> worker_;  // last: stops before the state above goes
};

TSerialPortNG::TSerialPortNG() : d_(std::make_unique<Private>(*this))
{
    d_->shared_.Platform = GetPlatformId();
    d_->shared_.HandOff->SetErrorSink([this](const std::string& text) {
        const auto sink = OnHandlerError;
        if (sink)
            sink(text);
        else
            MainThreadCall::PrintError(text);
    });
    d_->worker_ = std::make_unique<TWorkThread>(*this, d_->shared_);
}

TSerialPortNG::~TSerialPortNG()
{
    TSerialShared& s = d_->shared_;
    s.Destroying = true;
    d_->SwitchActive(false);
    // From here the worker never waits for the main thread, so it can always wind down.
    s.HandOff->SetReleased(true);
    d_->worker_->Terminate();
    d_->WaitThreadIdle(10);
    {
        std::lock_guard<std::mutex> l(s.ClusterLock);
        s.ClusterList.clear();
    }
    d_->worker_.reset();
    // A handler that destroyed this component may still throw; its error must not look here.
    s.HandOff->SetErrorSink(OnHandlerError);
}

int32_t TSerialPortNG::GetPlatformId()
{
    return 2;  // counted with the NT family: no made-up ring events
}

// ---- reports ----

void TSerialPortNG::ProcessError(uint32_t Place, uint32_t Code, const std::string& Msg, uint8_t Noise)
{
    if (d_->shared_.Destroying || Noise > d_->errorNoise_ || !OnProcessError)
        return;
    OnProcessError(this, Place, Code, Msg, Noise);
}

// ---- opening and closing ----

void TSerialPortNG::Private::SwitchActive(bool Open)
{
    TSerialShared& s = shared_;
    if (s.Active) {
        ProcessError(100, 0, "Msg start deactivating Port", 2);
        if (int e = SetCommMask(0))
            ProcessError(101, uint32_t(e), "Error disabling CommEvents", 0);
        s.Active = false;
        if (s.SendInProgress)
            s.WriteAbort = true;
        if (int e = SerialDevice::Purge(s.Handle.Fd()))
            ProcessError(102, uint32_t(e), "Error clearing Queues", 0);
        WaitThreadIdle(15);
        if (s.ThreadIsRunning.IsSet())
            ProcessError(104, 0, "Warning ThreadIsRunning", 1);
        LowerLinesOnClose();
        if (int e = SerialDevice::Close(s.Handle.Release(s.WakeFd)))
            ProcessError(103, uint32_t(e), "Error closing Port", 0);
    }
    if (!Open)
        return;
    ProcessError(110, 0, "Msg start reactivating Port", 2);
    // Reported here, where a handler can hear it: at construction none is assigned yet.
    if (s.WakeError)
        ProcessError(1001, uint32_t(s.WakeError), "Error Creating Overlapped Event", 0);
    if (int e = s.HandOff->EventError())
        ProcessError(1001, uint32_t(e), "Error Creating Overlapped Event", 0);
    int fd = -1;
    int e = SerialDevice::Open(SerialDevice::DevicePath(commPort_), fd);
    if (e != 0) {
        ProcessError(112, uint32_t(e), "Error reopening Port", 0);
        return;
    }
    s.Handle.Set(fd);
    ++s.OpenGeneration;
    s.Active = true;
    SerialDevice::SignalWake(s.WakeFd);
    SetQueueSizes(111);
    ApplyCommSettings();
    owner_.SetDTRState(true);
    owner_.SetRTSState(true);
    if (int err = SetCommMask(kAllLineEvents))
        ProcessError(201, uint32_t(err), "Error activating CommEventMask", 0);
}

void TSerialPortNG::Private::LowerLinesOnClose()
{
    // Active is already False here, so the property setters would not act.
    if (int e = SerialDevice::SetLine(shared_.Handle.Fd(), SerialDevice::Line::Dtr, false))
        ProcessError(602, uint32_t(e), "Error clearing DTR", 0);
    dtrState_ = false;
    if (int e = SerialDevice::SetLine(shared_.Handle.Fd(), SerialDevice::Line::Rts, false))
        ProcessError(502, uint32_t(e), "Error clearing RTS", 0);
    rtsState_ = false;
}

void TSerialPortNG::Private::WaitThreadIdle(int times)
{
    TSerialShared& s = shared_;
    // The worker may be waiting for a hand-off right now; let it go on (its
    // procedures run later from the event loop) instead of stalling both threads.
    s.HandOff->SetReleased(true);
    SerialDevice::SignalWake(s.WakeFd);
    s.ThreadIsRunning.WaitUntilClear(std::chrono::milliseconds(75 * times));
    if (!s.Destroying)
        s.HandOff->SetReleased(false);
}

int TSerialPortNG::Private::SetCommMask(uint32_t mask)
{
    int e = SerialDevice::CheckHandle(shared_.Handle.Fd());
    if (e == 0) {
        shared_.EventMask = mask;
        SerialDevice::SignalWake(shared_.WakeFd);  // ends a pending wait for line events
    }
    return e;
}

// ---- settings ----

SerialDevice::LineSettings TSerialPortNG::Private::CurrentLineSettings() const
{
    SerialDevice::LineSettings s;
    s.BaudRate = baudRate_;
    s.DataBits = dataBits_;
    s.ParityType = parityType_;
    s.StopBits = stopBits_;
    s.FlowControl = flowControl_;
    s.ParityErrorReplacement = parityErrorReplacement_;
    s.XONChar = xonChar_;
    s.XOFFChar = xoffChar_;
    s.WakeCount = uint8_t(std::clamp<uint16_t>(shared_.ClusterSize, 1, 255));
    return s;
}

void TSerialPortNG::Private::ApplyCommSettings()
{
    const int fd = shared_.Handle.Fd();
    SerialDevice::TermiosImage t;
    if (int e = SerialDevice::GetTermios(fd, t)) {
        shared_.ErrorMarks = false;
        ProcessError(801, uint32_t(e), "Error getting DCB from CommState", 0);
        return;
    }
    const SerialDevice::LineSettings s = CurrentLineSettings();
    const int fillError = SerialDevice::FillTermios(t, s);
    // Linux has no XON/XOFF thresholds: the line discipline keeps its own.
    if (int e = CheckTimeoutsReadable())
        ProcessError(802, uint32_t(e), "Error setting CommTimeout", 0);
    else
        writeTimeoutConstant_ = 0;
    int e = fillError ? fillError : SerialDevice::SetTermios(fd, t);
    // From the device: it may take the input flags and refuse the rest.
    SerialDevice::TermiosImage now;
    shared_.ErrorMarks = SerialDevice::GetTermios(fd, now) == 0 && SerialDevice::MarksErrors(now);
    if (e) {
        ProcessError(802, uint32_t(e), "Error setting CommState, 87 indicate that Parms are incorrect", 0);
        return;
    }
    shared_.WakeCount = s.WakeCount;
    shared_.StripNulls = stripNullChars_;
}

int TSerialPortNG::Private::CheckTimeoutsReadable() const { return SerialDevice::CheckHandle(shared_.Handle.Fd()); }

void TSerialPortNG::Private::ApplyIfActive()
{
    if (shared_.Active)
        ApplyCommSettings();
}

void TSerialPortNG::Private::ComputeAutoTimeouts()
{
    uint32_t delay = 1100;
    for (const AutoTimeout& row : AutoTimeoutTable)
        if (row.Baud <= baudRate_)
            delay = row.Delay;
    owner_.SetRTOCharDelayTime(delay);
    owner_.SetWTOCharDelayTime(delay);
}

void TSerialPortNG::Private::SetQueueSizes(uint32_t failPlace)
{
    // Linux sizes its tty buffers itself; the sizes are kept for the limits only.
    if (int e = SerialDevice::CheckHandle(shared_.Handle.Fd()))
        ProcessError(failPlace, uint32_t(e), failPlace == 111 ? "Error setup Queuesize" : "Error can not set Quesize",
                     0);
}

bool TSerialPortNG::Private::SetLimDiv(uint8_t& field, uint8_t value, const char* warning)
{
    if (value > 100) {
        ProcessError(100, value, warning, 1);
        value = 100;
    }
    if (field == value)
        return false;
    field = value;
    ApplyIfActive();
    return true;
}

// ---- property getters and setters ----

bool TSerialPortNG::Active() const { return d_->shared_.Active; }
void TSerialPortNG::SetActive(bool value)
{
    if (value != d_->shared_.Active)
        d_->SwitchActive(value);
}

std::string TSerialPortNG::CommPort() const { return d_->commPort_; }
void TSerialPortNG::SetCommPort(const std::string& value)
{
    std::string name = value.substr(0, 255);
    if (name == d_->commPort_)
        return;
    d_->commPort_ = name;
    d_->SwitchActive(d_->shared_.Active);
}

uint32_t TSerialPortNG::BaudRate() const { return d_->baudRate_; }
void TSerialPortNG::SetBaudRate(uint32_t value)
{
    if (value == d_->baudRate_)
        return;
    d_->baudRate_ = value;
    if (d_->xtoAuto_)
        d_->ComputeAutoTimeouts();
    d_->ApplyIfActive();
}

#define MORVEL_APPLIED_PROPERTY(Type, Name, field)                                                                     \
    Type TSerialPortNG::Name() const { return d_->field; }                                                             \
    void TSerialPortNG::Set##Name(Type value)                                                                          \
    {                                                                                                                  \
        if (value == d_->field)                                                                                        \
            return;                                                                                                    \
        d_->field = value;                                                                                             \
        d_->ApplyIfActive();                                                                                           \
    }
MORVEL_APPLIED_PROPERTY(uint8_t, ParityType, parityType_)
MORVEL_APPLIED_PROPERTY(char, ParityErrorChar, parityErrorChar_)
MORVEL_APPLIED_PROPERTY(bool, ParityErrorReplacement, parityErrorReplacement_)
MORVEL_APPLIED_PROPERTY(uint8_t, StopBits, stopBits_)
MORVEL_APPLIED_PROPERTY(uint8_t, DataBits, dataBits_)
MORVEL_APPLIED_PROPERTY(char, XONChar, xonChar_)
MORVEL_APPLIED_PROPERTY(char, XOFFChar, xoffChar_)
MORVEL_APPLIED_PROPERTY(int32_t, FlowControl, flowControl_)
MORVEL_APPLIED_PROPERTY(bool, StripNullChars, stripNullChars_)
MORVEL_APPLIED_PROPERTY(char, EventChar, eventChar_)
MORVEL_APPLIED_PROPERTY(uint32_t, WTOCharDelayTime, wtoCharDelayTime_)
MORVEL_APPLIED_PROPERTY(uint16_t, WTOExtraDelayTime, wtoExtraDelayTime_)
#undef MORVEL_APPLIED_PROPERTY

#define MORVEL_STORED_PROPERTY(Type, Name, field)                                                                      \
    Type TSerialPortNG::Name() const { return d_->field; }                                                             \
    void TSerialPortNG::Set##Name(Type value) { d_->field = value; }
MORVEL_STORED_PROPERTY(uint32_t, RTOCharDelayTime, shared_.RTOCharDelayTime)
MORVEL_STORED_PROPERTY(uint16_t, RTOExtraDelayTime, shared_.RTOExtraDelayTime)
MORVEL_STORED_PROPERTY(uint16_t, ClusterSize, shared_.ClusterSize)
MORVEL_STORED_PROPERTY(uint8_t, ErrorNoise, errorNoise_)
MORVEL_STORED_PROPERTY(bool, ReadRequest, shared_.ReadRequest)
MORVEL_STORED_PROPERTY(bool, ThreadQuietMode, shared_.ThreadQuietMode)
#undef MORVEL_STORED_PROPERTY

uint8_t TSerialPortNG::XONLimDiv() const { return d_->xonLimDiv_; }
void TSerialPortNG::SetXONLimDiv(uint8_t value)
{
    d_->SetLimDiv(d_->xonLimDiv_, value, "Warning XOnLimDef set to 100");
}
uint8_t TSerialPortNG::XOFFLimDiv() const { return d_->xoffLimDiv_; }
void TSerialPortNG::SetXOFFLimDiv(uint8_t value)
{
    d_->SetLimDiv(d_->xoffLimDiv_, value, "Warning XOffLimDef set to 100");
}

bool TSerialPortNG::XTOAuto() const { return d_->xtoAuto_; }
void TSerialPortNG::SetXTOAuto(bool value)
{
    if (value == d_->xtoAuto_)
        return;
    d_->xtoAuto_ = value;
    if (value)
        d_->ComputeAutoTimeouts();
}

uint16_t TSerialPortNG::RxQueueSize() const { return d_->rxQueueSize_; }
void TSerialPortNG::SetRxQueueSize(uint16_t value)
{
    if (value == d_->rxQueueSize_)
        return;
    d_->rxQueueSize_ = value;
    d_->SetQueueSizes(101);
}
uint16_t TSerialPortNG::TxQueueSize() const { return d_->txQueueSize_; }
void TSerialPortNG::SetTxQueueSize(uint16_t value)
{
    if (value == d_->txQueueSize_)
        return;
    d_->txQueueSize_ = value;
    d_->SetQueueSizes(102);
}

bool TSerialPortNG::RTSState() const { return d_->rtsState_; }
void TSerialPortNG::SetRTSState(bool value)
{
    if (!d_->shared_.Active)
        return;
    if (int e = SerialDevice::SetLine(d_->shared_.Handle.Fd(), SerialDevice::Line::Rts, value))
        ProcessError(value ? 501 : 502, uint32_t(e), value ? "Error setting RTS" : "Error clearing RTS", 0);
    d_->rtsState_ = value;
}
bool TSerialPortNG::DTRState() const { return d_->dtrState_; }
void TSerialPortNG::SetDTRState(bool value)
{
    if (!d_->shared_.Active)
        return;
    if (int e = SerialDevice::SetLine(d_->shared_.Handle.Fd(), SerialDevice::Line::Dtr, value))
        ProcessError(value ? 601 : 602, uint32_t(e), value ? "Error setting DTR" : "Error clearing DTR", 0);
    d_->dtrState_ = value;
}
bool TSerialPortNG::BREAKState() const { return d_->breakState_; }
void TSerialPortNG::SetBREAKState(bool value)
{
    if (!d_->shared_.Active)
        return;
    if (int e = SerialDevice::SetBreak(d_->shared_.Handle.Fd(), value))
        ProcessError(value ? 701 : 702, uint32_t(e), value ? "Error setting BREAK State" : "Error clearing BREAK State",
                     0);
    d_->breakState_ = value;
}

uint32_t TSerialPortNG::ComHandle() const
{
    int fd = d_->shared_.Handle.Fd();
    return fd < 0 ? kInvalidHandle : uint32_t(fd);
}
bool TSerialPortNG::CTSState() const { return d_->shared_.CTSState; }
bool TSerialPortNG::DSRState() const { return d_->shared_.DSRState; }
bool TSerialPortNG::RLSDState() const { return d_->shared_.RLSDState; }
bool TSerialPortNG::RingState() const { return d_->shared_.RingState; }
uint32_t TSerialPortNG::ModemState() const { return d_->shared_.ModemState; }
uint32_t TSerialPortNG::CommError() const { return d_->shared_.CommError; }
TComStateFlags TSerialPortNG::CommStateFlags() const { return d_->shared_.CommStateFlags; }
uint32_t TSerialPortNG::CommStateInQueue() const { return d_->shared_.InQueue; }
uint32_t TSerialPortNG::CommStateOutQueue() const { return d_->shared_.OutQueue; }
uint32_t TSerialPortNG::CommEvent() const { return d_->shared_.CommEvent; }
bool TSerialPortNG::SendInProgress() const { return d_->shared_.SendInProgress; }
uint32_t TSerialPortNG::WrittenBytes() const { return d_->shared_.WrittenBytes; }

// ---- writing ----

void TSerialPortNG::SendData(const void* Buffer, uint32_t Count)
{
    TSerialShared& s = d_->shared_;
    if (s.SendInProgress) {
        ProcessError(901, 0, "Msg, dont enter SendData while SendInProgress is set", 2);
        return;
    }
    const int fd = s.Handle.Fd();
    if (int e = d_->CheckTimeoutsReadable())
        ProcessError(902, uint32_t(e), "Error setting CommTimeout", 0);
    else
        d_->writeTimeoutConstant_ = WriteTimeoutMs(Count, d_->wtoCharDelayTime_, d_->wtoExtraDelayTime_);
    s.BytesToWrite = Count;
    const SerialDevice::IoResult r = SerialDevice::Write(fd, Buffer, Count);
    if (r.Status == SerialDevice::IoStatus::Data && r.Count > 0)
        s.TxSent = true;
    if (r.Status == SerialDevice::IoStatus::Data && r.Count == Count) {
        s.WrittenBytes = Count;
        OnWriteDone(this);
        return;
    }
    if (r.Status == SerialDevice::IoStatus::Data || r.Status == SerialDevice::IoStatus::WouldBlock) {
        auto job = std::make_unique<TWriteJob>();
        job->Bytes.assign(static_cast<const char*>(Buffer), Count);
        job->Done = r.Status == SerialDevice::IoStatus::Data ? r.Count : 0;
        job->StartTick = SerialTick();
        job->TimeoutMs = d_->writeTimeoutConstant_;
        s.WriteAbort = false;
        delete s.WriteJob.exchange(job.release());
        s.SendInProgress = true;
        SerialDevice::SignalWake(s.WakeFd);
        return;
    }
    ProcessError(903, uint32_t(r.Error), "Error writing Data", 0);
    s.SendInProgress = false;
}

void TSerialPortNG::SendText(const std::string& Text)
{
    if (!Text.empty())
        SendData(Text.data(), uint32_t(Text.size()));
}

// ---- received clusters ----

int32_t TSerialPortNG::QueuedClusterSize()
{
    TSerialShared& s = d_->shared_;
    std::lock_guard<std::mutex> l(s.ClusterLock);
    std::erase(s.ClusterList, nullptr);
    return s.ClusterList.empty() ? -1 : int32_t(s.ClusterList.front()->GetSize());
}

std::string TSerialPortNG::PopClusterText()
{
    TSerialShared& s = d_->shared_;
    std::lock_guard<std::mutex> l(s.ClusterLock);
    std::erase(s.ClusterList, nullptr);
    if (s.ClusterList.empty())
        return {};
    std::string text = std::move(s.ClusterList.front()->Data);
    s.ClusterList.pop_front();
    return text;
}

void TSerialPortNG::InjectCluster(std::string bytes, uint32_t errorFlags)
{
    {
        std::lock_guard<std::mutex> l(d_->shared_.ClusterLock);
        d_->shared_.ClusterList.push_back(std::make_unique<TSerialCluster>(std::move(bytes), errorFlags));
    }
    OnRxClusterEvent(this);
}
