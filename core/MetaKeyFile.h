#pragma once
// "MetaKey.ini": 67-byte packed records, one per meta key definition:
// name (length byte + 20), command (length byte + 40), CR marker (length byte + 4).
#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct TMetaKeyRecord {
    std::string Name;
    std::string Command;
    std::string CR;
};

inline constexpr size_t kMetaKeyRecordSize = 67;
inline constexpr size_t kMetaKeyRows = 42;

// Each text cut to its field's capacity; the bytes after a text are zero.
std::string EncodeMetaKeyRecords(const std::vector<TMetaKeyRecord>& records);
// Whole records only and at most kMetaKeyRows of them; a length byte above
// its field's capacity is taken as the capacity.
std::vector<TMetaKeyRecord> DecodeMetaKeyRecords(std::string_view bytes);

// Reads bytes like read(2): the count read, 0 at the end, -1 with errno on failure.
using TByteReader = std::function<long(char* buffer, size_t size)>;

// The records read one after the other until the end, at most kMetaKeyRows. When
// a read fails, the records read before it are returned and problem says why.
std::vector<TMetaKeyRecord> ReadMetaKeyRecords(const TByteReader& read, std::string& problem);
// The records of the file at path; none when it does not exist. When it cannot be
// read (all or part of it) problem names the file, and what was read is returned.
std::vector<TMetaKeyRecord> LoadMetaKeyRecords(const std::string& path, std::string& problem);
// Replaces the file. Throws std::runtime_error naming the file on failure.
void SaveMetaKeyRecords(const std::string& path, const std::vector<TMetaKeyRecord>& records);
