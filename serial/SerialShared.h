#pragma once
// What the port component and its worker thread share. ClusterList is guarded
// by ClusterLock; every other field is one word written by one side and read by
// the other, so each is atomic.
#include "serial/SerialNG.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

class MainThreadCall;

// A write that did not finish at once; the worker owns it once it has taken it.
struct TWriteJob {
    std::string Bytes;
    size_t Done = 0;
    uint32_t StartTick = 0;
    uint32_t TimeoutMs = 0;  // 0: no time-out
};

// Wrapping 32-bit millisecond tick.
uint32_t SerialTick();

struct TSerialShared {
    TSerialShared();
    ~TSerialShared();
    TSerialShared(const TSerialShared&) = delete;
    TSerialShared& operator=(const TSerialShared&) = delete;

    // Worker side of the handle hand-over: the handle stays valid between
    // EnterHandle() returning >= 0 and LeaveHandle(); the close path waits for it.
    int EnterHandle();
    void LeaveHandle();
    // Main thread: takes the handle away once the worker no longer uses it.
    int ReleaseHandle();

    // Written by the main thread, read by the worker.
    std::atomic<bool> Active{false}, ReadRequest{false}, ThreadQuietMode{false}, Destroying{false};
    std::atomic<uint32_t> RTOCharDelayTime{1100};
    std::atomic<uint16_t> RTOExtraDelayTime{250}, ClusterSize{3072};
    std::atomic<bool> StripNulls{false};
    std::atomic<uint8_t> WakeCount{1};  // input bytes that end the worker's wait
    std::atomic<uint32_t> EventMask{0};
    std::atomic<uint32_t> OpenGeneration{0};  // counts successful opens
    std::atomic<uint32_t> BytesToWrite{0};
    std::atomic<TWriteJob*> WriteJob{nullptr};
    std::atomic<bool> WriteAbort{false};
    int32_t Platform = -1;

    // Written by the worker.
    std::atomic<bool> ThreadIsRunning{false};
    std::atomic<bool> CTSState{false}, DSRState{false}, RLSDState{false}, RingState{false};
    std::atomic<uint32_t> ModemState{0}, CommError{0}, InQueue{0}, OutQueue{0}, CommEvent{0};
    std::atomic<uint8_t> CommStateFlags{0};
    std::atomic<uint32_t> WrittenBytes{0};

    // Written by both.
    std::atomic<bool> SendInProgress{false};
    std::atomic<bool> TxSent{false};  // bytes went to the device since the output queue was last seen empty

    std::atomic<int> Handle{-1};
    std::atomic<bool> HandleInUse{false};
    int WakeFd = -1;  // ends the worker's waits early

    std::mutex ClusterLock;
    std::deque<std::unique_ptr<TSerialCluster>> ClusterList;

    std::unique_ptr<MainThreadCall> HandOff;
};
