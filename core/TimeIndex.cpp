#include "core/TimeIndex.h"

#include "support/AtomicFile.h"

#include <algorithm>

std::string EncodeTimeRecord(const TTimeRecord& record)
{
    std::string bytes(kTimeRecordSize, '\0');
    for (size_t i = 0; i < 8; ++i)
        bytes[i] = char((record.Offset >> (8 * i)) & 0xFF);
    for (size_t i = 0; i < 4; ++i)
        bytes[8 + i] = char((record.Milliseconds >> (8 * i)) & 0xFF);
    return bytes;
}

TTimeIndex::TTimeIndex(std::string_view bytes)
{
    records_.reserve(bytes.size() / kTimeRecordSize);
    for (size_t at = 0; at + kTimeRecordSize <= bytes.size(); at += kTimeRecordSize) {
        TTimeRecord record;
        for (size_t i = 0; i < 8; ++i)
            record.Offset |= uint64_t(uint8_t(bytes[at + i])) << (8 * i);
        for (size_t i = 0; i < 4; ++i)
            record.Milliseconds |= uint32_t(uint8_t(bytes[at + 8 + i])) << (8 * i);
        // A record out of order or past midnight is damage; the lines it names get no time.
        if (record.Milliseconds >= kMillisecondsPerDay ||
            (!records_.empty() && record.Offset <= records_.back().Offset))
            continue;
        records_.push_back(record);
    }
}

TTimeIndex TTimeIndex::Load(const std::string& path)
{
    std::string bytes;
    if (!ReadWholeFile(path, bytes))
        return {};
    return TTimeIndex(bytes);
}

std::optional<uint32_t> TTimeIndex::TimeAt(uint64_t offset) const
{
    const auto it = std::lower_bound(records_.begin(), records_.end(), offset,
                                     [](const TTimeRecord& r, uint64_t o) { return r.Offset < o; });
    if (it == records_.end() || it->Offset != offset)
        return std::nullopt;
    return it->Milliseconds;
}
