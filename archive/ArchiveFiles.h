#pragma once
// The archive viewer's file-system calls: finding a day's capture files,
// snapshotting them into one file, reading it back and removing it.
// Failures throw std::runtime_error naming the file and the reason.
#include <cstdint>
#include <string>
#include <vector>

namespace ArchiveFiles {

// The files (not folders) matching pattern, a path whose last part may hold
// the wild cards * and ?, in sorted order. A missing folder matches nothing.
std::vector<std::string> Match(const std::string& pattern);

// Writes the sources one after the other into target, replacing it. Each
// source is copied as far as it reached when opened, so a file that is being
// appended to gives a consistent snapshot. On failure target is removed.
// Returns the number of bytes taken from each source.
std::vector<uint64_t> Snapshot(const std::vector<std::string>& sources, const std::string& target);

std::string ReadAll(const std::string& path);

// Removes path if it exists; never throws.
void Remove(const std::string& path) noexcept;

}  // namespace ArchiveFiles
