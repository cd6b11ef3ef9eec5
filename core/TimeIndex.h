#pragma once
// The receive times of a capture file's lines: "DD-MM-YY.TIM" beside the
// ".CAP" file, one 12-byte little-endian record per line written to it:
// 8 bytes for the line's offset in the capture file, 4 bytes for the time the
// line's last byte arrived, in milliseconds since local midnight.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct TTimeRecord {
    uint64_t Offset = 0;
    uint32_t Milliseconds = 0;
};

inline constexpr size_t kTimeRecordSize = 12;
inline constexpr uint32_t kMillisecondsPerDay = 24u * 60 * 60 * 1000;

std::string EncodeTimeRecord(const TTimeRecord& record);

// The receive times of one capture file, looked up by a line's offset. What is
// short or damaged is passed over: those lines simply have no time.
class TTimeIndex {
public:
    TTimeIndex() = default;
    explicit TTimeIndex(std::string_view bytes);
    // The file at path; none when it is missing or cannot be read.
    static TTimeIndex Load(const std::string& path);

    // The receive time of the line that starts at offset.
    std::optional<uint32_t> TimeAt(uint64_t offset) const;
    size_t Size() const { return records_.size(); }
    const std::vector<TTimeRecord>& Records() const { return records_; }

private:
    std::vector<TTimeRecord> records_;  // ascending offsets
};
