#include "core/MetaKeyFile.h"

#include "support/AtomicFile.h"
#include "support/SysCall.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace {

struct Field {
    size_t offset;
    size_t capacity;
    std::string TMetaKeyRecord::*text;
};

constexpr Field kFields[] = {
    {0, 20, &TMetaKeyRecord::Name},
    {21, 40, &TMetaKeyRecord::Command},
    {62, 4, &TMetaKeyRecord::CR},
};

}  // namespace

std::string EncodeMetaKeyRecords(const std::vector<TMetaKeyRecord>& records)
{
    std::string bytes(records.size() * kMetaKeyRecordSize, '\0');
    for (size_t r = 0; r < records.size(); ++r) {
        char* record = bytes.data() + r * kMetaKeyRecordSize;
        for (const Field& f : kFields) {
            const std::string& text = records[r].*f.text;
            const size_t n = std::min(text.size(), f.capacity);
            record[f.offset] = char(n);
            text.copy(record + f.offset + 1, n);
        }
    }
    return bytes;
}

std::vector<TMetaKeyRecord> DecodeMetaKeyRecords(std::string_view bytes)
{
    const size_t count = std::min(bytes.size() / kMetaKeyRecordSize, kMetaKeyRows);
    std::vector<TMetaKeyRecord> records(count);
    for (size_t r = 0; r < count; ++r) {
        const char* record = bytes.data() + r * kMetaKeyRecordSize;
        for (const Field& f : kFields) {
            const size_t n = std::min<size_t>(uint8_t(record[f.offset]), f.capacity);
            records[r].*f.text = std::string(record + f.offset + 1, n);
        }
    }
    return records;
}

std::vector<TMetaKeyRecord> ReadMetaKeyRecords(const TByteReader& read, std::string& problem)
{
    std::vector<TMetaKeyRecord> records;
    char record[kMetaKeyRecordSize];
    while (records.size() < kMetaKeyRows) {
        size_t filled = 0;
        while (filled < kMetaKeyRecordSize) {
            const long n = read(record + filled, kMetaKeyRecordSize - filled);
            if (n < 0) {
                problem = ErrnoText(errno);
                return records;
            }
            if (n == 0)
                return records;  // a part of a record at the end is not one
            filled += size_t(n);
        }
        records.push_back(DecodeMetaKeyRecords(std::string_view(record, kMetaKeyRecordSize)).front());
    }
    return records;
}

std::vector<TMetaKeyRecord> LoadMetaKeyRecords(const std::string& path, std::string& problem)
{
    const int fd = RetryEintr([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); });
    if (fd < 0) {
        if (errno != ENOENT)
            problem = "Cannot read \"" + path + "\": " + ErrnoText(errno);
        return {};
    }
    std::string why;
    std::vector<TMetaKeyRecord> records = ReadMetaKeyRecords(
        [fd](char* buffer, size_t size) { return long(RetryEintr([&] { return ::read(fd, buffer, size); })); }, why);
    ::close(fd);
    if (!why.empty())
        problem = "Cannot read \"" + path + "\": " + why;
    return records;
}

void SaveMetaKeyRecords(const std::string& path, const std::vector<TMetaKeyRecord>& records)
{
    AtomicWriteFile(path, EncodeMetaKeyRecords(records));
}
