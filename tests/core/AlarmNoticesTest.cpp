#include "core/AlarmNotices.h"

#include <gtest/gtest.h>

TEST(AlarmNotices, OneNoticePerTenSecondsAndTheNextCountsTheOthers)
{
    QDateTime now(QDate(2026, 12, 7), QTime(10, 0));
    TAlarmNotices notices([&] { return now; });
    std::optional<TAlarmNotice> notice = notices.Alarm(QStringLiteral("ALM 1"));
    ASSERT_TRUE(notice);
    EXPECT_EQ(notice->Title, "Alarm");
    EXPECT_EQ(notice->Text, "ALM 1");

    now = now.addSecs(3);
    EXPECT_FALSE(notices.Alarm(QStringLiteral("ALM 2")));
    EXPECT_FALSE(notices.Alarm(QStringLiteral("ALM 3")));
    EXPECT_FALSE(notices.Alarm(QStringLiteral("ALM 4")));
    EXPECT_TRUE(notices.Holding());
    now = now.addMSecs(6999);
    EXPECT_FALSE(notices.Due());
    now = now.addMSecs(1);
    notice = notices.Due();
    ASSERT_TRUE(notice);
    EXPECT_EQ(notice->Title, "Alarms");
    EXPECT_EQ(notice->Text, "ALM 4\n(and 2 other alarms)");
    EXPECT_FALSE(notices.Holding());
    EXPECT_FALSE(notices.Due());

    now = now.addSecs(5);
    EXPECT_FALSE(notices.Alarm(QStringLiteral("ALM 5")));
    now = now.addSecs(5);
    EXPECT_EQ(notices.Due()->Text, "ALM 5") << "one held alarm has no others";
}

TEST(AlarmNotices, HeldAlarmsTheOperatorSawNeedNoNoticeAndAClockSetBackDoesNotSilenceThem)
{
    QDateTime now(QDate(2026, 12, 7), QTime(10, 0));
    TAlarmNotices notices([&] { return now; });
    ASSERT_TRUE(notices.Alarm(QStringLiteral("ALM 1")));
    EXPECT_FALSE(notices.Alarm(QStringLiteral("ALM 2")));
    notices.Clear();
    now = now.addSecs(20);
    EXPECT_FALSE(notices.Due());

    ASSERT_TRUE(notices.Alarm(QStringLiteral("ALM 3")));
    now = now.addSecs(-3600);
    EXPECT_TRUE(notices.Alarm(QStringLiteral("ALM 4")));
}
