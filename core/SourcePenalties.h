#pragma once
// Penalties for the source addresses of wrong remote passwords: five wrong
// passwords from one address within ten minutes shut that address out for a
// minute, each further penalty twice as long, up to an hour. A correct login
// forgets the address. The table is bounded: the address seen longest ago
// makes room for a new one.
#include <array>
#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <unordered_map>

class TSourcePenalties {
public:
    static constexpr int kWrongLimit = 5;
    static constexpr int64_t kWindowMs = 10 * 60 * 1000;
    static constexpr int64_t kFirstPenaltyMs = 60 * 1000;
    static constexpr int64_t kLongestPenaltyMs = 60 * 60 * 1000;
    static constexpr size_t kMaxSources = 4096;

    // Times are milliseconds of a wall clock; a clock set back or forward
    // counts as time passed.
    // The penalty left for the address at now, 0 when none.
    int64_t PenaltyLeft(const std::string& address, int64_t now);
    // A wrong password from the address: the length of the penalty it starts, 0 when none.
    int64_t Wrong(const std::string& address, int64_t now);
    void LoggedIn(const std::string& address);
    size_t Size() const { return sources_.size(); }

private:
    struct Source {
        std::string address;
        std::array<int64_t, kWrongLimit> wrongTimes{};  // the recent wrong passwords, oldest first
        int wrongCount = 0;
        int64_t penaltyStart = 0;
        int64_t penaltyMs = 0;
        int penalties = 0;  // doubles the next penalty
    };
    using List = std::list<Source>;  // the most recently seen first

    Source* Find(const std::string& address);
    Source& Touch(const std::string& address);

    List order_;
    std::unordered_map<std::string, List::iterator> sources_;
};
