#include "support/Clock.h"

#include <climits>

QDateTime SystemNow()
{
    // The costly part of the local time is the zone: the C library looks at
    // the zone file on every call. An offset from UTC holds for a whole second
    // (zones change only on whole seconds), so it is looked up once a second.
    thread_local qint64 second = LLONG_MIN;
    thread_local int offset = 0;
    const qint64 ms = QDateTime::currentMSecsSinceEpoch();
    const qint64 now = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
    if (now != second) {
        offset = QDateTime::fromMSecsSinceEpoch(ms, Qt::LocalTime).offsetFromUtc();
        second = now;
    }
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::OffsetFromUTC, offset);
}
