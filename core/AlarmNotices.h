#pragma once
// Tray notices of alarms while the operator is away from the window: at most
// one per interval. Alarms that come within the interval are held, and the
// next notice tells the newest of them with a count of the others.
#include "support/Clock.h"

#include <QString>
#include <optional>

struct TAlarmNotice {
    QString Title;
    QString Text;
};

class TAlarmNotices {
public:
    static constexpr qint64 kIntervalMs = 10000;

    explicit TAlarmNotices(NowFunction now = SystemNow) : now_(std::move(now)) {}

    // An alarm line, as text; the notice to show now, if it is time for one.
    std::optional<TAlarmNotice> Alarm(const QString& line);
    // The notice of the held alarms, once the interval since the last notice has passed.
    std::optional<TAlarmNotice> Due();
    bool Holding() const { return held_ > 0; }
    // The operator is back at the window: held alarms need no notice.
    void Clear() { held_ = 0; }

private:
    TAlarmNotice Notice(const QString& line, int others);

    NowFunction now_;
    QDateTime last_;  // when the last notice was shown
    int held_ = 0;
    QString newest_;
};
