#pragma once
// The alarm watch: display lines that match an alarm rule, counted until the
// operator acknowledges them, oldest first. Lines are named by their number
// since the display started, so that an alarm never points at a line the
// display has trimmed away.
#include "core/AlarmRules.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

struct TAlarm {
    uint64_t Line = 0;  // the display line's number since start
    QString Rule;
    int RuleLine = 0;  // the rule's line in the file
    std::string Text;  // the line's bytes, the first kTextLimit of them
};

class TAlarmWatch {
public:
    // A rule that matches every line of a flood must not grow memory without
    // bound: an alarm keeps only the start of a long line, and past kKeepLimit
    // waiting alarms the oldest leaves unacknowledged (counted in Dropped).
    static constexpr size_t kTextLimit = 1024;
    static constexpr size_t kKeepLimit = 100000;

    void SetRules(TAlarmRules rules) { rules_ = std::move(rules); }
    const TAlarmRules& Rules() const { return rules_; }

    // A completed display line; true when it is an alarm.
    bool LineCompleted(uint64_t line, std::string_view bytes);
    // Lines before first have left the display.
    void Trimmed(uint64_t first);

    // Alarms not yet acknowledged, also those whose line has left the display.
    size_t Unacknowledged() const { return unacknowledged_.size(); }
    // Alarms that left the waiting list unacknowledged for want of room.
    uint64_t Dropped() const { return dropped_; }
    // Takes the oldest unacknowledged alarm as acknowledged.
    std::optional<TAlarm> Acknowledge();
    // The line is an alarm line still shown (acknowledged or not).
    bool IsAlarmLine(uint64_t line) const;
    // The line is still in the display.
    bool Shown(uint64_t line) const { return line >= first_; }

    std::function<void(const TAlarm&)> OnAlarm;

private:
    TAlarmRules rules_;
    std::deque<TAlarm> unacknowledged_;
    std::deque<uint64_t> alarmLines_;  // ascending, only lines still shown
    uint64_t first_ = 0;
    uint64_t dropped_ = 0;
};
