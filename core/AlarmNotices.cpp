#include "core/AlarmNotices.h"

std::optional<TAlarmNotice> TAlarmNotices::Alarm(const QString& line)
{
    ++held_;
    newest_ = line;
    return Due();
}

std::optional<TAlarmNotice> TAlarmNotices::Due()
{
    if (held_ == 0)
        return std::nullopt;
    const QDateTime now = now_();
    // A clock set back must not silence the notices for good.
    if (last_.isValid() && now >= last_ && last_.msecsTo(now) < kIntervalMs)
        return std::nullopt;
    last_ = now;
    return Notice(newest_, std::exchange(held_, 0) - 1);
}

TAlarmNotice TAlarmNotices::Notice(const QString& line, int others)
{
    if (others == 0)
        return {QStringLiteral("Alarm"), line};
    return {QStringLiteral("Alarms"), others == 1 ? QStringLiteral("%1\n(and 1 other alarm)").arg(line)
                                                  : QStringLiteral("%1\n(and %2 other alarms)").arg(line).arg(others)};
}
