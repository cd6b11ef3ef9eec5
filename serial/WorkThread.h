#pragma once
// TWorkThread: the serial port's worker. It waits on the device, cuts received
// bytes into clusters, finishes pending writes, turns line changes into events
// and hands every event and report to the main thread.
#include "serial/SerialDevicePosix.h"
#include "serial/SerialNG.h"
#include "serial/SerialShared.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

class TWorkThread {
public:
    TWorkThread(TSerialPortNG& port, TSerialShared& shared);
    ~TWorkThread();  // waits for the loop to end; Terminate() first
    TWorkThread(const TWorkThread&) = delete;
    TWorkThread& operator=(const TWorkThread&) = delete;

    void Terminate();

private:
    void Execute();
    void WorkingPass();
    void WaitStep();
    void PollLineStatus();
    void TryRead();
    void FinishRead();
    void QueueCluster(std::string bytes);
    void StartEventWait();
    void FinishEventWait();
    void DispatchCommEvents();
    void CheckWrite();
    void FinishWrite(bool failed, uint32_t code);
    void SyncCall(std::function<void()> procedure);
    // Hands off a line event whose handler was assigned; the main thread looks again.
    void SyncHandler(TSerialEvent<TNotifyEvent> TSerialPortNG::*handler);
    void StoreError(uint32_t Place, uint32_t Code, const char* Msg, uint8_t Noise);
    void DeviceGone(int error);

    // Runs f(fd) under a lease on the handle; false when there is none. Never
    // hand off inside f: the close path may be waiting for the lease.
    template <class F>
    bool WithHandle(F f);

    TSerialPortNG& port_;
    TSerialShared& shared_;
    std::atomic<bool> terminated_{false};

    bool working_ = false, readPending_ = false, waitPending_ = false;
    bool lost_ = false;
    bool statusKnown_ = false;      // the last status query succeeded, so InQueue is current
    bool polledAfterWait_ = false;  // the wait's own status query is the latest, nothing happened since
    // The device has modem lines and error counters; a pty has neither, and
    // asking again on every poll would only cost system calls.
    bool modemSupported_ = true, countersSupported_ = true;
    uint32_t lastReadTick_ = 0;
    uint32_t eventMask_ = 0, seenEvents_ = 0;
    uint32_t modemStatus_ = 0, errorWord_ = 0, inQueue_ = 0, outQueue_ = 0;
    uint8_t holdFlags_ = 0;
    uint32_t prevInQueue_ = 0, prevOutQueue_ = 0;
    SerialDevice::ErrorCounters counters_;
    SerialDevice::TErrorMarkDecoder marks_;
    uint32_t seenGeneration_ = 0;  // the open the per-device state above belongs to
    std::unique_ptr<TWriteJob> job_;

    std::thread thread_;  // last: starts once everything above is set
};
