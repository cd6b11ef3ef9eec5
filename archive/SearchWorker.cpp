#include "archive/SearchWorker.h"

#include <algorithm>

TSearchWorker::~TSearchWorker()
{
    Stop();
    Join();
}

void TSearchWorker::Join()
{
    if (thread_.joinable())
        thread_.join();
}

void TSearchWorker::Start(std::string root, TArchiveQuery query, size_t mostHits)
{
    Stop();
    Join();
    {
        const std::lock_guard<std::mutex> hold(lock_);
        queue_.clear();
    }
    stop_ = false;
    limited_ = false;
    finished_ = false;
    // The thread gets a pattern of its own: a shared copy's count would be
    // touched from both threads.
    query.Pattern = QString(query.Pattern.constData(), query.Pattern.size());
    thread_ = std::thread([this, root = std::move(root), query = std::move(query), mostHits] {
        size_t found = 0;
        SearchArchive(
            root, query,
            [&](const QDate& day, const TArchiveLine& line) {
                if (found == mostHits) {
                    limited_ = true;
                    stop_ = true;
                    return;
                }
                ++found;
                TSearchHit hit{day, line.Milliseconds, line.Offset,
                               std::string(line.Bytes.substr(0, std::min(line.Bytes.size(), kLineShown)))};
                const std::lock_guard<std::mutex> hold(lock_);
                queue_.push_back(std::move(hit));
            },
            &stop_);
        finished_ = true;
    });
}

std::vector<TSearchHit> TSearchWorker::Take(size_t most)
{
    const std::lock_guard<std::mutex> hold(lock_);
    const size_t n = std::min(most, queue_.size());
    std::vector<TSearchHit> hits(std::make_move_iterator(queue_.begin()),
                                 std::make_move_iterator(queue_.begin() + std::ptrdiff_t(n)));
    queue_.erase(queue_.begin(), queue_.begin() + std::ptrdiff_t(n));
    return hits;
}
