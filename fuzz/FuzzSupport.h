#pragma once
// What the fuzz targets share: a check that stops the run with its message,
// and a scratch folder for file round trips, on a memory file system where
// there is one, removed when the run ends.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#define FUZZ_CHECK(condition)                                                                                          \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);                         \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (0)

inline const std::string& FuzzScratchFolder()
{
    // Never destroyed, so the clean-up at exit can still read it.
    static const std::string* const folder = [] {
        const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        auto* path = new std::string(std::string(base) + "/morvel-fuzz-XXXXXX");
        if (!mkdtemp(path->data()))
            std::abort();
        std::atexit([] { std::filesystem::remove_all(FuzzScratchFolder()); });
        return path;
    }();
    return *folder;
}
