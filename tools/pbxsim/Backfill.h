#pragma once
// An archive of past days as the terminal would have captured them: for each
// day a capture file (lines ended by CR LF) and its time index (one 12-byte
// little-endian record per line: offset, then milliseconds since midnight).
#include <cstdint>
#include <string>

struct BackfillOptions {
    std::string DataFolder = ".";
    int Days = 0;                  // ending yesterday
    uint64_t DayBytes = 4u << 20;  // about this much per day
};

// Writes the days that have no capture file yet; returns the number of days
// written, or -1 after printing why one could not be.
int Backfill(const BackfillOptions& options);
