#pragma once
// What the port component and its worker thread share. ClusterList is guarded
// by ClusterLock; every other field is one word written by one side and read by
// the other, so each is atomic.
#include "serial/SerialNG.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
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

// The device descriptor. The worker uses it only while it holds a lease, and
// releasing it waits until no lease is held, so no I/O is ever issued on a
// descriptor that the close path is about to close (or has closed and the
// system has handed out again). A lease is held only around non-blocking calls
// and a poll that the wake handle ends, never across a hand-off to the main
// thread, so the wait is short.
class TSerialHandle {
public:
    class Lease {
    public:
        explicit Lease(TSerialHandle& handle);  // empty when there is no descriptor
        ~Lease();
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        explicit operator bool() const { return fd_ >= 0; }
        int Fd() const { return fd_; }

    private:
        TSerialHandle& handle_;
        int fd_ = -1;
    };

    int Fd() const { return fd_; }  // -1 while closed
    void Set(int fd) { fd_ = fd; }
    // Takes the descriptor away, wakes a poll on it through wakeFd and waits
    // until the last lease is returned; returns the descriptor for closing.
    int Release(int wakeFd);

private:
    std::atomic<int> fd_{-1};
    std::mutex mutex_;
    std::condition_variable returned_;
    int leases_ = 0;
};

// Set by the worker while it runs its working loop; the close path waits for it to clear.
class TRunningFlag {
public:
    bool IsSet() const { return set_; }
    void Set(bool running);  // the worker's thread only
    // True once the flag is clear, false when it is still set after the time limit.
    bool WaitUntilClear(std::chrono::milliseconds limit);

private:
    std::atomic<bool> set_{false};
    std::mutex mutex_;
    std::condition_variable cleared_;
};

struct TSerialShared {
    TSerialShared();
    ~TSerialShared();
    TSerialShared(const TSerialShared&) = delete;
    TSerialShared& operator=(const TSerialShared&) = delete;

    // Written by the main thread, read by the worker.
    std::atomic<bool> Active{false}, ReadRequest{false}, ThreadQuietMode{false}, Destroying{false};
    std::atomic<uint32_t> RTOCharDelayTime{1100};
    std::atomic<uint16_t> RTOExtraDelayTime{250}, ClusterSize{3072};
    std::atomic<bool> StripNulls{false};
    std::atomic<bool> ErrorMarks{false};  // the device marks input that came with an error
    std::atomic<uint8_t> WakeCount{1};    // input bytes that end the worker's wait
    std::atomic<uint32_t> EventMask{0};
    std::atomic<uint32_t> OpenGeneration{0};  // counts successful opens
    std::atomic<uint32_t> BytesToWrite{0};
    std::atomic<TWriteJob*> WriteJob{nullptr};
    std::atomic<bool> WriteAbort{false};
    int32_t Platform = -1;

    // Written by the worker.
    TRunningFlag ThreadIsRunning;
    std::atomic<bool> CTSState{false}, DSRState{false}, RLSDState{false}, RingState{false};
    std::atomic<uint32_t> ModemState{0}, CommError{0}, InQueue{0}, OutQueue{0}, CommEvent{0};
    std::atomic<uint8_t> CommStateFlags{0};
    std::atomic<uint32_t> WrittenBytes{0};

    // Written by both.
    std::atomic<bool> SendInProgress{false};
    std::atomic<bool> TxSent{false};  // bytes went to the device since the output queue was last seen empty

    TSerialHandle Handle;
    int WakeFd = -1;    // ends the worker's waits early
    int WakeError = 0;  // why there is no WakeFd: the waits then run their full time

    std::mutex ClusterLock;
    std::deque<std::unique_ptr<TSerialCluster>> ClusterList;

    std::unique_ptr<MainThreadCall> HandOff;
};
