#pragma once
// A pseudo-terminal whose master side the test holds as the PBX, and helpers
// that spin the event loop until a condition holds.
#include "serial/SerialNG.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

// Spins the event loop until cond() or the time-out; returns cond().
bool WaitUntil(const std::function<bool()>& cond, int timeoutMs = 10000);
void SpinFor(int ms);

class Pty {
public:
    Pty();
    ~Pty();
    const std::string& SlavePath() const { return Path; }
    void Write(const std::string& bytes);
    std::string ReadAvailable();
    void CloseMaster();
    int Master() const { return Fd; }

private:
    int Fd = -1;
    std::string Path;
};

struct Report {
    uint32_t Place, Code;
    std::string Msg;
    uint8_t Noise;
};

// Records reports and takes one cluster per OnRxClusterEvent, as the main window does.
struct Recorder {
    explicit Recorder(TSerialPortNG& port);
    std::vector<Report> Reports;
    std::vector<std::string> Clusters;
    std::vector<int32_t> SizeAtEvent;
    std::string Received() const;
    std::vector<uint32_t> Places() const;
    int Count(uint32_t place) const;
};

class SerialTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    void Open();  // opens Port on the pty with ClusterSize 12, as the main window does
    Pty Line;
    std::unique_ptr<TSerialPortNG> Port;
    std::unique_ptr<Recorder> Rec;
};

double ProcessCpuSeconds();
