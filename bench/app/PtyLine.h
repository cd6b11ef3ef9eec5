#pragma once
// The benchmark's stand-in for the PBX line: a pseudo-terminal whose master the
// benchmark writes, paced or as fast as the reader takes it, from a thread of
// its own. Whatever the program sends back is read and dropped.
#include <atomic>
#include <functional>
#include <string>
#include <thread>

class PtyLine {
public:
    PtyLine();
    ~PtyLine();
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    const std::string& SlavePath() const { return slavePath_; }
    // Bytes written to the line and not yet read by the program.
    int Waiting() const;
    // Bytes the feed has handed to the line so far.
    long long Written() const { return written_; }
    bool Feeding() const { return feeding_; }

    // Writes the pieces that next() returns, each once its turn has come at
    // bytesPerSecond (0: at once), until next() returns an empty piece or Stop().
    void Feed(std::function<std::string()> next, double bytesPerSecond);
    void Stop();

private:
    void Run(const std::function<std::string()>& next, double bytesPerSecond);
    bool WriteAll(const std::string& piece);

    int master_ = -1;
    int keeper_ = -1;  // our own slave descriptor: the line lives while the program reopens it
    std::string slavePath_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> feeding_{false};
    std::atomic<long long> written_{0};
};
