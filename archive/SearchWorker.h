#pragma once
// Runs a search across days on a thread of its own. The window takes the
// matches from a locked queue; the rest it shares is atomic.
#include "core/ArchiveSearch.h"

#include <QDate>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct TSearchHit {
    QDate Day;
    std::optional<uint32_t> Milliseconds;
    uint64_t Offset = 0;  // of the line in the day's capture file
    std::string Line;     // at most kLineShown bytes of it
};

class TSearchWorker {
public:
    // A result list of millions of rows would eat the memory; the search ends there.
    static constexpr size_t kMostHits = 100000;
    static constexpr size_t kLineShown = 1024;

    TSearchWorker() = default;
    ~TSearchWorker();
    TSearchWorker(const TSearchWorker&) = delete;
    TSearchWorker& operator=(const TSearchWorker&) = delete;

    // Stops a search under way first. root is the archive folder.
    void Start(std::string root, TArchiveQuery query, size_t mostHits = kMostHits);
    // Asks the search to end soon; returns at once.
    void Stop() { stop_ = true; }
    // True once the search has ended and handed over its last match.
    bool Finished() const { return finished_.load(); }
    // True when the search ended at mostHits.
    bool Limited() const { return limited_.load(); }
    // Up to most of the matches found so far, in order.
    std::vector<TSearchHit> Take(size_t most);

private:
    void Join();

    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> finished_{true};
    std::atomic<bool> limited_{false};
    std::mutex lock_;
    std::deque<TSearchHit> queue_;  // under lock_
};
