#include "core/AlarmWatch.h"

#include <algorithm>

bool TAlarmWatch::LineCompleted(uint64_t line, std::string_view bytes)
{
    const int rule = rules_.Match(bytes);
    if (rule < 0)
        return false;
    TAlarm alarm{line, rules_.Rule(size_t(rule)), rules_.RuleLine(size_t(rule)),
                 std::string(bytes.substr(0, kTextLimit))};
    if (alarmLines_.empty() || alarmLines_.back() < line)
        alarmLines_.push_back(line);
    if (unacknowledged_.size() >= kKeepLimit) {
        unacknowledged_.pop_front();
        ++dropped_;
    }
    unacknowledged_.push_back(alarm);
    if (OnAlarm)
        OnAlarm(alarm);
    return true;
}

void TAlarmWatch::Trimmed(uint64_t first)
{
    first_ = std::max(first_, first);
    while (!alarmLines_.empty() && alarmLines_.front() < first_)
        alarmLines_.pop_front();
}

std::optional<TAlarm> TAlarmWatch::Acknowledge()
{
    if (unacknowledged_.empty())
        return std::nullopt;
    TAlarm alarm = std::move(unacknowledged_.front());
    unacknowledged_.pop_front();
    return alarm;
}

bool TAlarmWatch::IsAlarmLine(uint64_t line) const
{
    return std::binary_search(alarmLines_.begin(), alarmLines_.end(), line);
}
