#include "core/MetaKeyFile.h"

#include "support/SysCall.h"

#include "support/AtomicFile.h"

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <sys/stat.h>

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

std::vector<TMetaKeyRecord> LoadMetaKeyRecords(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 && errno == ENOENT)
        return {};
    std::string bytes;
    if (!ReadWholeFile(path, bytes))
        throw std::runtime_error("Cannot read \"" + path + "\": " + ErrnoText(errno));
    return DecodeMetaKeyRecords(bytes);
}

void SaveMetaKeyRecords(const std::string& path, const std::vector<TMetaKeyRecord>& records)
{
    AtomicWriteFile(path, EncodeMetaKeyRecords(records));
}
