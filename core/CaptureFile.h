#pragma once
// The day's capture file: received lines, each ended by CR LF, appended to
// archive/YYYY/MM/DD-MM-YY.CAP in the data folder (see CaptureNames.h), and
// beside it the ".TIM" file with the receive time of each line (TimeIndex.h).
// The event log writes its lines (ended by LF) through the same writer.
#include "core/TimeIndex.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class TCaptureFile {
public:
    // Lines kept in memory while the file refuses them, at most this many bytes;
    // past it the oldest whole lines are dropped.
    static constexpr size_t kBacklogLimit = 16u << 20;
    // Lines this long are written at once, not copied into the backlog.
    static constexpr size_t kDirectLine = 1u << 20;

    TCaptureFile() = default;
    // lineEnd follows every line; noun names the file in error texts. Such a
    // file keeps no time index.
    TCaptureFile(std::string lineEnd, std::string noun)
        : lineEnd_(std::move(lineEnd)), noun_(std::move(noun)), timeIndex_(false)
    {}
    ~TCaptureFile();
    TCaptureFile(const TCaptureFile&) = delete;
    TCaptureFile& operator=(const TCaptureFile&) = delete;

    // Creates the directory chain and opens the file for appending, creating it
    // when missing. Throws std::runtime_error naming the file on failure. The
    // time index beside it ("x.TIM" for "x.CAP") is opened too; when it cannot
    // be, the lines are written without times.
    void Open(const std::string& directory, const std::string& name);
    // Writes out what is pending, then closes. Lines that cannot be written stay
    // pending, without their times: they will go to another day's file.
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    const std::string& Path() const { return path_; }

    // Queues the line and its line end, and its receive time in milliseconds
    // since local midnight when known; Flush hands them to the operating system.
    void WriteLine(std::string_view line, std::optional<uint32_t> milliseconds = std::nullopt);
    // True when everything pending was written to the file; on failure the rest
    // stays pending and LastError() says why. The time index is written as far
    // as it can be; its failures stop nothing.
    bool Flush();
    size_t PendingBytes() const { return pending_.size(); }
    // Time records waiting for the time index, and those it lost.
    size_t PendingTimeBytes() const
    {
        return timePending_.size() + (pendingTimes_.size() - timesHead_) * kTimeRecordSize;
    }
    uint64_t DroppedTimeBytes() const { return timeDropped_; }
    uint64_t DroppedBytes() const { return dropped_; }
    const std::string& LastError() const { return lastError_; }

private:
    struct TPendingTime {
        uint64_t At;  // the line's start, counted in all bytes ever queued in pending_
        uint32_t Milliseconds;
    };
    // Time records of the lines whose start is in the file now, offsets final.
    void SettleTimes(size_t written);
    void CompactTimes();
    void FlushTimes();
    void OpenTimes();

    std::string lineEnd_ = "\r\n";
    std::string noun_ = "capture file";
    bool timeIndex_ = true;
    int fd_ = -1;
    std::string path_;
    uint64_t fileSize_ = 0;  // where pending_ begins in the file
    std::string pending_;
    uint64_t queued_ = 0;  // bytes ever queued in pending_: where it ends
    std::vector<TPendingTime> pendingTimes_;
    size_t timesHead_ = 0;  // the first of pendingTimes_ still waiting
    int timeFd_ = -1;
    std::string timePath_;
    std::string timePending_;  // encoded records
    size_t timeHead_ = 0;      // bytes of the first record the index already holds
    uint64_t timeDropped_ = 0;
    uint64_t dropped_ = 0;
    bool fileEndsMidLine_ = false;  // a write stopped inside the first pending line
    std::string lastError_;
};
