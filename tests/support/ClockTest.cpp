#include "support/Clock.h"

#include <gtest/gtest.h>

TEST(Clock, SystemNowIsTheLocalTimeOfTheMomentCallAfterCall)
{
    for (int i = 0; i < 50; ++i) {
        const QDateTime before = QDateTime::currentDateTime();
        const QDateTime now = SystemNow();
        const QDateTime after = QDateTime::currentDateTime();
        ASSERT_LE(before.toMSecsSinceEpoch(), now.toMSecsSinceEpoch());
        ASSERT_LE(now.toMSecsSinceEpoch(), after.toMSecsSinceEpoch());
        // The same wall clock as the local time: date, time and offset.
        const QDateTime local = now.toLocalTime();
        EXPECT_EQ(now.offsetFromUtc(), local.offsetFromUtc());
        EXPECT_EQ(now.date(), local.date());
        EXPECT_EQ(now.time(), local.time());
    }
}
