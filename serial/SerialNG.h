#pragma once
// TSerialPortNG: the one component through which the program talks to a serial
// port. Properties are getter/setter pairs; events are assigned like
// std::function members and run on the main thread.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>

class TSerialPortNG;

using TNotifyEvent = std::function<void(TSerialPortNG* Sender)>;
using TNotifyErrorEvent =
    std::function<void(TSerialPortNG* Sender, uint32_t Place, uint32_t Code, const std::string& Msg, uint8_t Noise)>;

// An event of the component, assigned and called on the main thread. The worker
// only asks whether a handler is assigned, which is safe at any time, and the
// main thread looks again before it calls, so an event may be assigned or
// cleared while the port is open.
template <class Function>
class TSerialEvent;

template <class... Args>
class TSerialEvent<std::function<void(Args...)>> {
public:
    using Function = std::function<void(Args...)>;

    TSerialEvent() = default;
    TSerialEvent(const TSerialEvent&) = delete;
    TSerialEvent& operator=(const TSerialEvent&) = delete;

    template <class F>
    requires(!std::is_same_v<std::remove_cvref_t<F>, TSerialEvent> &&
             std::is_constructible_v<Function, F&&>) TSerialEvent&
    operator=(F&& handler)
    {
        handler_ = Function(std::forward<F>(handler));
        assigned_.store(bool(handler_), std::memory_order_release);
        return *this;
    }

    explicit operator bool() const { return assigned_.load(std::memory_order_acquire); }

    // Calls the handler if one is assigned. It runs on a copy, so it may
    // reassign or clear its own event.
    void operator()(Args... args) const
    {
        if (!*this)
            return;
        const Function handler = handler_;
        if (handler)
            handler(args...);
    }

private:
    Function handler_;
    std::atomic<bool> assigned_{false};
};

// One block of received bytes, in arrival order.
class TSerialCluster {
public:
    TSerialCluster(std::string data, uint32_t errorFlags) : Data(std::move(data)), ErrorFlags(errorFlags) {}
    uint32_t GetSize() const { return uint32_t(Data.size()); }
    const std::string& GetText() const { return Data; }
    std::string Data;
    uint32_t ErrorFlags = 0;
};

enum TComStateFlag : uint8_t {
    fCtlHold = 1,
    fDsrHold = 2,
    fRlsHold = 4,
    fXoffHold = 8,
    fXOffSent = 16,
    fEof = 32,
    fTxim = 64
};
using TComStateFlags = uint8_t;

class TSerialPortNG {
public:
    TSerialPortNG();
    ~TSerialPortNG();
    TSerialPortNG(const TSerialPortNG&) = delete;
    TSerialPortNG& operator=(const TSerialPortNG&) = delete;

    // --- published properties (initial values as constructed) ---
    bool Active() const;  // False
    void SetActive(bool value);
    std::string CommPort() const;  // "COM2"; a name without '/' opens under /dev/
    void SetCommPort(const std::string& value);
    uint32_t BaudRate() const;  // 9600
    void SetBaudRate(uint32_t value);
    uint8_t ParityType() const;  // 0
    void SetParityType(uint8_t value);
    char ParityErrorChar() const;  // 0
    void SetParityErrorChar(char value);
    bool ParityErrorReplacement() const;  // False
    void SetParityErrorReplacement(bool value);
    uint8_t StopBits() const;  // 0
    void SetStopBits(uint8_t value);
    uint8_t DataBits() const;  // 8
    void SetDataBits(uint8_t value);
    char XONChar() const;  // 17
    void SetXONChar(char value);
    char XOFFChar() const;  // 19
    void SetXOFFChar(char value);
    uint8_t XONLimDiv() const;  // 33
    void SetXONLimDiv(uint8_t value);
    uint8_t XOFFLimDiv() const;  // 33
    void SetXOFFLimDiv(uint8_t value);
    int32_t FlowControl() const;  // 0
    void SetFlowControl(int32_t value);
    bool StripNullChars() const;  // False
    void SetStripNullChars(bool value);
    char EventChar() const;  // 0
    void SetEventChar(char value);
    uint32_t RTOCharDelayTime() const;  // 1100
    void SetRTOCharDelayTime(uint32_t value);
    uint16_t RTOExtraDelayTime() const;  // 250
    void SetRTOExtraDelayTime(uint16_t value);
    uint32_t WTOCharDelayTime() const;  // 1100
    void SetWTOCharDelayTime(uint32_t value);
    uint16_t WTOExtraDelayTime() const;  // 250
    void SetWTOExtraDelayTime(uint16_t value);
    bool XTOAuto() const;  // True
    void SetXTOAuto(bool value);
    uint16_t ClusterSize() const;  // 3072
    void SetClusterSize(uint16_t value);
    uint16_t RxQueueSize() const;  // 4096
    void SetRxQueueSize(uint16_t value);
    uint16_t TxQueueSize() const;  // 4096
    void SetTxQueueSize(uint16_t value);
    uint8_t ErrorNoise() const;  // 255
    void SetErrorNoise(uint8_t value);
    bool ReadRequest() const;  // False
    void SetReadRequest(bool value);
    bool RTSState() const;  // True
    void SetRTSState(bool value);
    bool DTRState() const;  // True
    void SetDTRState(bool value);
    bool BREAKState() const;  // False
    void SetBREAKState(bool value);
    bool ThreadQuietMode() const;  // False
    void SetThreadQuietMode(bool value);

    // --- read-only status ---
    uint32_t ComHandle() const;  // 0xFFFFFFFF while closed
    bool CTSState() const;
    bool DSRState() const;
    bool RLSDState() const;
    bool RingState() const;
    uint32_t ModemState() const;
    uint32_t CommError() const;
    TComStateFlags CommStateFlags() const;
    uint32_t CommStateInQueue() const;
    uint32_t CommStateOutQueue() const;
    uint32_t CommEvent() const;
    bool SendInProgress() const;
    uint32_t WrittenBytes() const;

    // --- operations ---
    void SendData(const void* Buffer, uint32_t Count);
    void SendText(const std::string& Text);
    int32_t QueuedClusterSize();
    std::string PopClusterText();
    void ProcessError(uint32_t Place, uint32_t Code, const std::string& Msg, uint8_t Noise);
    static int32_t GetPlatformId();

    // Appends a cluster and fires OnRxClusterEvent on the calling thread, exactly
    // as the worker hands a cluster over. For tests and benchmarks of the receive path.
    void InjectCluster(std::string bytes, uint32_t errorFlags = 0);

    // --- events ---
    TSerialEvent<TNotifyEvent> OnCommEvent, OnCommStat, OnTxQueueEmptyEvent, OnWriteDone, OnBreakEvent, OnCTSEvent,
        OnDSREvent, OnLineErrorEvent, OnRingEvent, OnRIEvent, OnRLSDEvent, OnRxClusterEvent, OnRxCharEvent,
        OnRxEventCharEvent;
    TSerialEvent<TNotifyErrorEvent> OnProcessError;
    // Gets the text of an exception that escaped an event handler run for the
    // worker; the handler is abandoned and the port goes on. None: standard error.
    std::function<void(const std::string& text)> OnHandlerError;

private:
    struct Private;
    std::unique_ptr<Private> d_;
};
