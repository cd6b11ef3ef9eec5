#pragma once
#include <string>
#include <string_view>
#include <sys/types.h>

// Replaces the file at path with bytes: written to a temporary file beside it,
// flushed and renamed over it, so a failure half way never leaves a truncated
// file. Throws std::runtime_error naming the file on failure.
void AtomicWriteFile(const std::string& path, std::string_view bytes, mode_t mode = 0644);

// The whole file, or false when it cannot be read (errno is kept).
bool ReadWholeFile(const std::string& path, std::string& bytes);
