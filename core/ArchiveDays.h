#pragma once
// The days of the capture archive: which days have a capture file, and each
// day's lines with their receive times where known.
#include "core/TimeIndex.h"

#include <QDate>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The days that have a capture file below root ("archive" in the data folder), in order.
std::vector<QDate> CaptureDays(const std::string& root = "archive");
// The nearest day of days before (step -1) or after (step +1) day, if any.
std::optional<QDate> NeighbourDay(const std::vector<QDate>& days, const QDate& day, int step);

// One line of a capture file: its bytes without CR LF, its offset in the file,
// and its receive time when the time index has it.
struct TArchiveLine {
    std::string_view Bytes;
    uint64_t Offset = 0;
    std::optional<uint32_t> Milliseconds;
};

// A day's capture file and time index, read whole. A file being written may end
// in a line without its CR LF: that line is a line too.
class TArchiveDay {
public:
    // False when the day has no capture file or it cannot be read. Without
    // withTimes the time index waits for LoadTimes.
    bool Load(const std::string& root, const QDate& day, bool withTimes = true);
    void LoadTimes();
    const std::string& Bytes() const { return bytes_; }
    const TTimeIndex& Times() const { return times_; }
    // The line that holds the byte at offset.
    TArchiveLine LineAt(size_t offset) const;
    void ForEachLine(const std::function<void(const TArchiveLine&)>& take) const;

private:
    std::string bytes_;
    TTimeIndex times_;
    std::string timesPath_;  // the index still to be read
};

// "12:34:56.789" for a receive time.
std::string TimeText(uint32_t milliseconds);
