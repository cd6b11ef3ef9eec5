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
    void SyncHandler(TNotifyEvent TSerialPortNG::*handler);
    void StoreError(uint32_t Place, uint32_t Code, const char* Msg, uint8_t Noise);
    void DeviceGone(int error);

    // Runs f(fd) while the handle cannot be released; false when there is none.
    template <class F>
    bool WithHandle(F f);

    TSerialPortNG& Port;
    TSerialShared& Shared;
    std::atomic<bool> Terminated{false};

    bool Working = false, ReadPending = false, WaitPending = false;
    bool Lost = false;
    bool StatusKnown = false;  // the last status query succeeded, so InQueue is current
    uint32_t LastReadTick = 0;
    uint32_t EventMask = 0, SeenEvents = 0;
    uint32_t ModemStatus = 0, ErrorWord = 0, InQueue = 0, OutQueue = 0;
    uint8_t HoldFlags = 0;
    uint32_t PrevInQueue = 0, PrevOutQueue = 0;
    SerialDevice::ErrorCounters Counters;
    uint32_t SeenGeneration = 0;  // the open the per-device state above belongs to
    std::unique_ptr<TWriteJob> Job;

    std::thread Thread;  // last: starts once everything above is set
};
