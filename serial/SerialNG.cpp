#include "serial/SerialNG.h"

#include "serial/MainThreadCall.h"
#include "serial/SerialDevicePosix.h"
#include "serial/SerialShared.h"
#include "serial/WorkThread.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

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

}  // namespace

// The component's own state and routines; what the worker also sees is in FShared.
struct TSerialPortNG::Private {
    explicit Private(TSerialPortNG& owner) : FOwner(owner) {}

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
        FOwner.ProcessError(Place, Code, Msg, Noise);
    }

    TSerialPortNG& FOwner;
    std::string FCommPort = "COM2";
    uint32_t FBaudRate = 9600;
    uint8_t FParityType = 0, FStopBits = 0, FDataBits = 8;
    char FParityErrorChar = 0, FXONChar = 17, FXOFFChar = 19, FEventChar = 0;
    bool FParityErrorReplacement = false, FStripNullChars = false, FXTOAuto = true;
    uint8_t FXONLimDiv = 33, FXOFFLimDiv = 33, FErrorNoise = 255;
    int32_t FFlowControl = 0;
    uint32_t FWTOCharDelayTime = 1100;
    uint16_t FWTOExtraDelayTime = 250, FRxQueueSize = 4096, FTxQueueSize = 4096;
    bool FRTSState = true, FDTRState = true, FBREAKState = false;
    uint32_t FWriteTimeoutConstant = 0;  // ms; the write time-out set by SendData

    TSerialShared FShared;
    std::unique_ptr<TWorkThread> FWorker;  // last: stops before the state above goes
};

TSerialPortNG::TSerialPortNG() : d_(std::make_unique<Private>(*this))
{
    d_->FShared.Platform = GetPlatformId();
    d_->FWorker = std::make_unique<TWorkThread>(*this, d_->FShared);
}

TSerialPortNG::~TSerialPortNG()
{
    TSerialShared& s = d_->FShared;
    s.Destroying = true;
    d_->SwitchActive(false);
    // From here the worker never waits for the main thread, so it can always wind down.
    s.HandOff->SetReleased(true);
    d_->FWorker->Terminate();
    d_->WaitThreadIdle(10);
    {
        std::lock_guard<std::mutex> l(s.ClusterLock);
        s.ClusterList.clear();
    }
    d_->FWorker.reset();
}

int32_t TSerialPortNG::GetPlatformId()
{
    return 2;  // counted with the NT family: no made-up ring events
}

// ---- reports ----

void TSerialPortNG::ProcessError(uint32_t Place, uint32_t Code, const std::string& Msg, uint8_t Noise)
{
    if (d_->FShared.Destroying || Noise > d_->FErrorNoise || !OnProcessError)
        return;
    auto handler = OnProcessError;  // the handler may replace itself
    handler(this, Place, Code, Msg, Noise);
}

// ---- opening and closing ----

void TSerialPortNG::Private::SwitchActive(bool Open)
{
    TSerialShared& s = FShared;
    if (s.Active) {
        ProcessError(100, 0, "Msg start deactivating Port", 2);
        if (int e = SetCommMask(0))
            ProcessError(101, uint32_t(e), "Error disabling CommEvents", 0);
        s.Active = false;
        if (s.SendInProgress)
            s.WriteAbort = true;
        if (int e = SerialDevice::Purge(s.Handle))
            ProcessError(102, uint32_t(e), "Error clearing Queues", 0);
        WaitThreadIdle(15);
        if (s.ThreadIsRunning)
            ProcessError(104, 0, "Warning ThreadIsRunning", 1);
        LowerLinesOnClose();
        if (int e = SerialDevice::Close(s.ReleaseHandle()))
            ProcessError(103, uint32_t(e), "Error closing Port", 0);
    }
    if (!Open)
        return;
    ProcessError(110, 0, "Msg start reactivating Port", 2);
    int fd = -1;
    int e = SerialDevice::Open(SerialDevice::DevicePath(FCommPort), fd);
    if (e != 0) {
        ProcessError(112, uint32_t(e), "Error reopening Port", 0);
        return;
    }
    s.Handle = fd;
    ++s.OpenGeneration;
    s.Active = true;
    SerialDevice::SignalWake(s.WakeFd);
    SetQueueSizes(111);
    ApplyCommSettings();
    FOwner.SetDTRState(true);
    FOwner.SetRTSState(true);
    if (int err = SetCommMask(kAllLineEvents))
        ProcessError(201, uint32_t(err), "Error activating CommEventMask", 0);
}

void TSerialPortNG::Private::LowerLinesOnClose()
{
    // Active is already False here, so the property setters would not act.
    if (int e = SerialDevice::SetLine(FShared.Handle, SerialDevice::Line::Dtr, false))
        ProcessError(602, uint32_t(e), "Error clearing DTR", 0);
    FDTRState = false;
    if (int e = SerialDevice::SetLine(FShared.Handle, SerialDevice::Line::Rts, false))
        ProcessError(502, uint32_t(e), "Error clearing RTS", 0);
    FRTSState = false;
}

void TSerialPortNG::Private::WaitThreadIdle(int times)
{
    TSerialShared& s = FShared;
    // The worker may be waiting for a hand-off right now; let it go on (its
    // procedures run later from the event loop) instead of stalling both threads.
    s.HandOff->SetReleased(true);
    SerialDevice::SignalWake(s.WakeFd);
    const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(75 * times);
    while (s.ThreadIsRunning && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (!s.Destroying)
        s.HandOff->SetReleased(false);
}

int TSerialPortNG::Private::SetCommMask(uint32_t mask)
{
    int e = SerialDevice::CheckHandle(FShared.Handle);
    if (e == 0) {
        FShared.EventMask = mask;
        SerialDevice::SignalWake(FShared.WakeFd);  // ends a pending wait for line events
    }
    return e;
}

// ---- settings ----

SerialDevice::LineSettings TSerialPortNG::Private::CurrentLineSettings() const
{
    SerialDevice::LineSettings s;
    s.BaudRate = FBaudRate;
    s.DataBits = FDataBits;
    s.ParityType = FParityType;
    s.StopBits = FStopBits;
    s.FlowControl = FFlowControl;
    s.ParityErrorReplacement = FParityErrorReplacement;
    s.XONChar = FXONChar;
    s.XOFFChar = FXOFFChar;
    s.WakeCount = uint8_t(std::clamp<uint16_t>(FShared.ClusterSize, 1, 255));
    return s;
}

void TSerialPortNG::Private::ApplyCommSettings()
{
    const int fd = FShared.Handle;
    SerialDevice::TermiosImage t;
    if (int e = SerialDevice::GetTermios(fd, t)) {
        ProcessError(801, uint32_t(e), "Error getting DCB from CommState", 0);
        return;
    }
    const SerialDevice::LineSettings s = CurrentLineSettings();
    const int fillError = SerialDevice::FillTermios(t, s);
    // Linux has no XON/XOFF thresholds: the line discipline keeps its own.
    if (int e = CheckTimeoutsReadable())
        ProcessError(802, uint32_t(e), "Error setting CommTimeout", 0);
    else
        FWriteTimeoutConstant = 0;
    int e = fillError ? fillError : SerialDevice::SetTermios(fd, t);
    if (e) {
        ProcessError(802, uint32_t(e), "Error setting CommState, 87 indicate that Parms are incorrect", 0);
        return;
    }
    FShared.WakeCount = s.WakeCount;
    FShared.StripNulls = FStripNullChars;
}

int TSerialPortNG::Private::CheckTimeoutsReadable() const { return SerialDevice::CheckHandle(FShared.Handle); }

void TSerialPortNG::Private::ApplyIfActive()
{
    if (FShared.Active)
        ApplyCommSettings();
}

void TSerialPortNG::Private::ComputeAutoTimeouts()
{
    uint32_t delay = 1100;
    for (const AutoTimeout& row : AutoTimeoutTable)
        if (row.Baud <= FBaudRate)
            delay = row.Delay;
    FOwner.SetRTOCharDelayTime(delay);
    FOwner.SetWTOCharDelayTime(delay);
}

void TSerialPortNG::Private::SetQueueSizes(uint32_t failPlace)
{
    // Linux sizes its tty buffers itself; the sizes are kept for the limits only.
    if (int e = SerialDevice::CheckHandle(FShared.Handle))
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

bool TSerialPortNG::Active() const { return d_->FShared.Active; }
void TSerialPortNG::SetActive(bool value)
{
    if (value != d_->FShared.Active)
        d_->SwitchActive(value);
}

std::string TSerialPortNG::CommPort() const { return d_->FCommPort; }
void TSerialPortNG::SetCommPort(const std::string& value)
{
    std::string name = value.substr(0, 255);
    if (name == d_->FCommPort)
        return;
    d_->FCommPort = name;
    d_->SwitchActive(d_->FShared.Active);
}

uint32_t TSerialPortNG::BaudRate() const { return d_->FBaudRate; }
void TSerialPortNG::SetBaudRate(uint32_t value)
{
    if (value == d_->FBaudRate)
        return;
    d_->FBaudRate = value;
    if (d_->FXTOAuto)
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
MORVEL_APPLIED_PROPERTY(uint8_t, ParityType, FParityType)
MORVEL_APPLIED_PROPERTY(char, ParityErrorChar, FParityErrorChar)
MORVEL_APPLIED_PROPERTY(bool, ParityErrorReplacement, FParityErrorReplacement)
MORVEL_APPLIED_PROPERTY(uint8_t, StopBits, FStopBits)
MORVEL_APPLIED_PROPERTY(uint8_t, DataBits, FDataBits)
MORVEL_APPLIED_PROPERTY(char, XONChar, FXONChar)
MORVEL_APPLIED_PROPERTY(char, XOFFChar, FXOFFChar)
MORVEL_APPLIED_PROPERTY(int32_t, FlowControl, FFlowControl)
MORVEL_APPLIED_PROPERTY(bool, StripNullChars, FStripNullChars)
MORVEL_APPLIED_PROPERTY(char, EventChar, FEventChar)
MORVEL_APPLIED_PROPERTY(uint32_t, WTOCharDelayTime, FWTOCharDelayTime)
MORVEL_APPLIED_PROPERTY(uint16_t, WTOExtraDelayTime, FWTOExtraDelayTime)
#undef MORVEL_APPLIED_PROPERTY

#define MORVEL_STORED_PROPERTY(Type, Name, field)                                                                      \
    Type TSerialPortNG::Name() const { return d_->field; }                                                             \
    void TSerialPortNG::Set##Name(Type value) { d_->field = value; }
MORVEL_STORED_PROPERTY(uint32_t, RTOCharDelayTime, FShared.RTOCharDelayTime)
MORVEL_STORED_PROPERTY(uint16_t, RTOExtraDelayTime, FShared.RTOExtraDelayTime)
MORVEL_STORED_PROPERTY(uint16_t, ClusterSize, FShared.ClusterSize)
MORVEL_STORED_PROPERTY(uint8_t, ErrorNoise, FErrorNoise)
MORVEL_STORED_PROPERTY(bool, ReadRequest, FShared.ReadRequest)
MORVEL_STORED_PROPERTY(bool, ThreadQuietMode, FShared.ThreadQuietMode)
#undef MORVEL_STORED_PROPERTY

uint8_t TSerialPortNG::XONLimDiv() const { return d_->FXONLimDiv; }
void TSerialPortNG::SetXONLimDiv(uint8_t value)
{
    d_->SetLimDiv(d_->FXONLimDiv, value, "Warning XOnLimDef set to 100");
}
uint8_t TSerialPortNG::XOFFLimDiv() const { return d_->FXOFFLimDiv; }
void TSerialPortNG::SetXOFFLimDiv(uint8_t value)
{
    d_->SetLimDiv(d_->FXOFFLimDiv, value, "Warning XOffLimDef set to 100");
}

bool TSerialPortNG::XTOAuto() const { return d_->FXTOAuto; }
void TSerialPortNG::SetXTOAuto(bool value)
{
    if (value == d_->FXTOAuto)
        return;
    d_->FXTOAuto = value;
    if (value)
        d_->ComputeAutoTimeouts();
}

uint16_t TSerialPortNG::RxQueueSize() const { return d_->FRxQueueSize; }
void TSerialPortNG::SetRxQueueSize(uint16_t value)
{
    if (value == d_->FRxQueueSize)
        return;
    d_->FRxQueueSize = value;
    d_->SetQueueSizes(101);
}
uint16_t TSerialPortNG::TxQueueSize() const { return d_->FTxQueueSize; }
void TSerialPortNG::SetTxQueueSize(uint16_t value)
{
    if (value == d_->FTxQueueSize)
        return;
    d_->FTxQueueSize = value;
    d_->SetQueueSizes(102);
}

bool TSerialPortNG::RTSState() const { return d_->FRTSState; }
void TSerialPortNG::SetRTSState(bool value)
{
    if (!d_->FShared.Active)
        return;
    if (int e = SerialDevice::SetLine(d_->FShared.Handle, SerialDevice::Line::Rts, value))
        ProcessError(value ? 501 : 502, uint32_t(e), value ? "Error setting RTS" : "Error clearing RTS", 0);
    d_->FRTSState = value;
}
bool TSerialPortNG::DTRState() const { return d_->FDTRState; }
void TSerialPortNG::SetDTRState(bool value)
{
    if (!d_->FShared.Active)
        return;
    if (int e = SerialDevice::SetLine(d_->FShared.Handle, SerialDevice::Line::Dtr, value))
        ProcessError(value ? 601 : 602, uint32_t(e), value ? "Error setting DTR" : "Error clearing DTR", 0);
    d_->FDTRState = value;
}
bool TSerialPortNG::BREAKState() const { return d_->FBREAKState; }
void TSerialPortNG::SetBREAKState(bool value)
{
    if (!d_->FShared.Active)
        return;
    if (int e = SerialDevice::SetBreak(d_->FShared.Handle, value))
        ProcessError(value ? 701 : 702, uint32_t(e), value ? "Error setting BREAK State" : "Error clearing BREAK State",
                     0);
    d_->FBREAKState = value;
}

uint32_t TSerialPortNG::ComHandle() const
{
    int fd = d_->FShared.Handle;
    return fd < 0 ? kInvalidHandle : uint32_t(fd);
}
bool TSerialPortNG::CTSState() const { return d_->FShared.CTSState; }
bool TSerialPortNG::DSRState() const { return d_->FShared.DSRState; }
bool TSerialPortNG::RLSDState() const { return d_->FShared.RLSDState; }
bool TSerialPortNG::RingState() const { return d_->FShared.RingState; }
uint32_t TSerialPortNG::ModemState() const { return d_->FShared.ModemState; }
uint32_t TSerialPortNG::CommError() const { return d_->FShared.CommError; }
TComStateFlags TSerialPortNG::CommStateFlags() const { return d_->FShared.CommStateFlags; }
uint32_t TSerialPortNG::CommStateInQueue() const { return d_->FShared.InQueue; }
uint32_t TSerialPortNG::CommStateOutQueue() const { return d_->FShared.OutQueue; }
uint32_t TSerialPortNG::CommEvent() const { return d_->FShared.CommEvent; }
bool TSerialPortNG::SendInProgress() const { return d_->FShared.SendInProgress; }
uint32_t TSerialPortNG::WrittenBytes() const { return d_->FShared.WrittenBytes; }

// ---- writing ----

void TSerialPortNG::SendData(const void* Buffer, uint32_t Count)
{
    TSerialShared& s = d_->FShared;
    if (s.SendInProgress) {
        ProcessError(901, 0, "Msg, dont enter SendData while SendInProgress is set", 2);
        return;
    }
    const int fd = s.Handle;
    if (int e = d_->CheckTimeoutsReadable())
        ProcessError(902, uint32_t(e), "Error setting CommTimeout", 0);
    else
        d_->FWriteTimeoutConstant = Count * d_->FWTOCharDelayTime / 1000 + d_->FWTOExtraDelayTime;
    s.BytesToWrite = Count;
    const SerialDevice::IoResult r = SerialDevice::Write(fd, Buffer, Count);
    if (r.Status == SerialDevice::IoStatus::Data && r.Count > 0)
        s.TxSent = true;
    if (r.Status == SerialDevice::IoStatus::Data && r.Count == Count) {
        s.WrittenBytes = Count;
        auto handler = OnWriteDone;
        if (handler)
            handler(this);
        return;
    }
    if (r.Status == SerialDevice::IoStatus::Data || r.Status == SerialDevice::IoStatus::WouldBlock) {
        auto job = std::make_unique<TWriteJob>();
        job->Bytes.assign(static_cast<const char*>(Buffer), Count);
        job->Done = r.Status == SerialDevice::IoStatus::Data ? r.Count : 0;
        job->StartTick = SerialTick();
        job->TimeoutMs = d_->FWriteTimeoutConstant;
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
    TSerialShared& s = d_->FShared;
    std::lock_guard<std::mutex> l(s.ClusterLock);
    std::erase(s.ClusterList, nullptr);
    return s.ClusterList.empty() ? -1 : int32_t(s.ClusterList.front()->GetSize());
}

std::string TSerialPortNG::PopClusterText()
{
    TSerialShared& s = d_->FShared;
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
        std::lock_guard<std::mutex> l(d_->FShared.ClusterLock);
        d_->FShared.ClusterList.push_back(std::make_unique<TSerialCluster>(std::move(bytes), errorFlags));
    }
    auto handler = OnRxClusterEvent;
    if (handler)
        handler(this);
}
