#include "core/CaptureNames.h"

namespace {

std::string DayStem(unsigned year, unsigned month, unsigned day)
{
    return TwoDigits(day) + "-" + TwoDigits(month) + "-" + TwoDigits(year);
}

}  // namespace

std::string TwoDigits(unsigned value)
{
    value %= 100;
    return {char('0' + value / 10), char('0' + value % 10)};
}

std::string CaptureDirectory(unsigned year, unsigned month)
{
    return "archive/" + std::to_string(year) + "/" + TwoDigits(month) + "/";
}

std::string CaptureName(unsigned year, unsigned month, unsigned day) { return DayStem(year, month, day) + ".CAP"; }

std::string TimeIndexName(unsigned year, unsigned month, unsigned day) { return DayStem(year, month, day) + ".TIM"; }

std::string EventLogName(unsigned year, unsigned month, unsigned day) { return DayStem(year, month, day) + ".LOG"; }

std::string CapturePattern(unsigned year, unsigned month, unsigned day)
{
    return CaptureDirectory(year, month) + DayStem(year, month, day) + ".*";
}
