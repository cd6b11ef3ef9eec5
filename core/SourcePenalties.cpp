#include "core/SourcePenalties.h"

#include <algorithm>
#include <cstdlib>

namespace {

int64_t Between(int64_t a, int64_t b) { return std::llabs(b - a); }

}  // namespace

TSourcePenalties::Source* TSourcePenalties::Find(const std::string& address)
{
    const auto found = sources_.find(address);
    if (found == sources_.end())
        return nullptr;
    order_.splice(order_.begin(), order_, found->second);
    return &*found->second;
}

TSourcePenalties::Source& TSourcePenalties::Touch(const std::string& address)
{
    if (Source* source = Find(address))
        return *source;
    if (sources_.size() >= kMaxSources) {
        sources_.erase(order_.back().address);
        order_.pop_back();
    }
    order_.push_front(Source{});
    order_.front().address = address;
    sources_[address] = order_.begin();
    return order_.front();
}

int64_t TSourcePenalties::PenaltyLeft(const std::string& address, int64_t now)
{
    Source* source = Find(address);
    if (!source || source->penaltyMs == 0)
        return 0;
    const int64_t served = Between(source->penaltyStart, now);
    return served < source->penaltyMs ? source->penaltyMs - served : 0;
}

int64_t TSourcePenalties::Wrong(const std::string& address, int64_t now)
{
    Source& source = Touch(address);
    // An address that kept away for an hour after its last penalty starts over.
    if (source.penalties > 0 && Between(source.penaltyStart, now) >= source.penaltyMs + kLongestPenaltyMs)
        source.penalties = 0;
    int kept = 0;
    for (int i = 0; i < source.wrongCount; ++i)
        if (Between(source.wrongTimes[size_t(i)], now) < kWindowMs)
            source.wrongTimes[size_t(kept++)] = source.wrongTimes[size_t(i)];
    source.wrongCount = kept;
    source.wrongTimes[size_t(source.wrongCount++)] = now;
    if (source.wrongCount < kWrongLimit)
        return 0;
    source.wrongCount = 0;
    source.penaltyStart = now;
    source.penaltyMs = std::min(kFirstPenaltyMs << std::min(source.penalties, 16), kLongestPenaltyMs);
    ++source.penalties;
    return source.penaltyMs;
}

void TSourcePenalties::LoggedIn(const std::string& address)
{
    const auto found = sources_.find(address);
    if (found == sources_.end())
        return;
    order_.erase(found->second);
    sources_.erase(found);
}
