// "MetaKey.ini": any bytes decode to at most 42 whole records whose texts fit
// their fields; the records encode back to the same bytes but for what lies
// beyond each text; read piece by piece, or cut short by a failing read, the
// file gives the same records as decoded at once; records written and read
// again come back the same; texts longer than a field come back cut to it.
#include "core/MetaKeyFile.h"
#include "fuzz/FuzzSupport.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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

bool Same(const std::vector<TMetaKeyRecord>& a, const std::vector<TMetaKeyRecord>& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const TMetaKeyRecord& x, const TMetaKeyRecord& y) {
        return x.Name == y.Name && x.Command == y.Command && x.CR == y.CR;
    });
}

// The record bytes as the writer leaves them: each length byte at most its
// capacity, zeros after the text.
std::string Normalised(std::string_view bytes, size_t records)
{
    std::string out(records * kMetaKeyRecordSize, '\0');
    for (size_t r = 0; r < records; ++r) {
        const char* in = bytes.data() + r * kMetaKeyRecordSize;
        char* record = out.data() + r * kMetaKeyRecordSize;
        for (const Field& f : kFields) {
            const size_t n = std::min<size_t>(uint8_t(in[f.offset]), f.capacity);
            record[f.offset] = char(n);
            std::copy_n(in + f.offset + 1, n, record + f.offset + 1);
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::vector<TMetaKeyRecord> records = DecodeMetaKeyRecords(bytes);
    FUZZ_CHECK(records.size() == std::min(size / kMetaKeyRecordSize, kMetaKeyRows));
    for (const TMetaKeyRecord& record : records)
        for (const Field& f : kFields)
            FUZZ_CHECK((record.*f.text).size() <= f.capacity);
    const std::string encoded = EncodeMetaKeyRecords(records);
    FUZZ_CHECK(encoded == Normalised(bytes, records.size()));
    FUZZ_CHECK(Same(DecodeMetaKeyRecords(encoded), records));

    // Read in pieces whose sizes come from the bytes themselves, with a read
    // failing at a point the first byte picks when it is odd.
    const size_t failAt = size > 0 && (data[0] & 1) ? size_t(data[0]) * 7 % (size + 1) : SIZE_MAX;
    size_t at = 0;
    unsigned step = 0;
    const TByteReader reader = [&](char* buffer, size_t room) -> long {
        if (at >= failAt) {
            errno = EIO;
            return -1;
        }
        size_t n = 1 + (size > 0 ? data[step++ % size] : 0) % 97;
        n = std::min({n, room, size - at, failAt - at});
        std::copy_n(bytes.data() + at, n, buffer);
        at += n;
        return long(n);
    };
    std::string problem;
    const std::vector<TMetaKeyRecord> read = ReadMetaKeyRecords(reader, problem);
    // The reader asks for no more than 42 records, and once more at the end of a shorter file.
    const size_t wanted = kMetaKeyRows * kMetaKeyRecordSize;
    const bool failed = failAt < std::min(size, wanted) || (failAt == size && size < wanted);
    FUZZ_CHECK(failed != problem.empty());
    FUZZ_CHECK(Same(read, failed ? DecodeMetaKeyRecords(bytes.substr(0, failAt)) : records));

    // Write, then read the file again.
    const std::string path = FuzzScratchFolder() + "/MetaKey.ini";
    SaveMetaKeyRecords(path, records);
    problem.clear();
    FUZZ_CHECK(Same(LoadMetaKeyRecords(path, problem), records));
    FUZZ_CHECK(problem.empty());

    // Texts of any length, cut to their fields by the writer.
    std::vector<TMetaKeyRecord> free(std::min<size_t>(size / 16, kMetaKeyRows));
    for (size_t r = 0; r < free.size(); ++r) {
        const std::string_view text = bytes.substr(r * 16);
        free[r].Name = std::string(text.substr(0, 30));
        free[r].Command = std::string(text.substr(0, 50));
        free[r].CR = std::string(text.substr(0, 8));
    }
    const std::vector<TMetaKeyRecord> cut = DecodeMetaKeyRecords(EncodeMetaKeyRecords(free));
    FUZZ_CHECK(cut.size() == free.size());
    for (size_t r = 0; r < free.size(); ++r)
        for (const Field& f : kFields)
            FUZZ_CHECK(cut[r].*f.text == (free[r].*f.text).substr(0, f.capacity));
    return 0;
}
