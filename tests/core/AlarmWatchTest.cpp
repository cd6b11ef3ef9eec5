#include "core/AlarmWatch.h"

#include <gtest/gtest.h>

namespace {

TAlarmRules Rules(const char* text)
{
    std::vector<std::string> problems;
    return TAlarmRules::Parse(QString::fromUtf8(text), problems);
}

}  // namespace

TEST(AlarmWatch, MatchingLinesCountUntilAcknowledgedOldestFirst)
{
    TAlarmWatch watch;
    watch.SetRules(Rules("major\ncritical\n"));
    std::vector<uint64_t> raised;
    watch.OnAlarm = [&](const TAlarm& alarm) { raised.push_back(alarm.Line); };
    EXPECT_FALSE(watch.LineCompleted(0, "CDR 1 EXT 200"));
    EXPECT_TRUE(watch.LineCompleted(1, "ALM MAJOR PSU 1"));
    EXPECT_TRUE(watch.LineCompleted(5, "ALM CRITICAL SHELF A"));
    EXPECT_EQ(raised, (std::vector<uint64_t>{1, 5}));
    EXPECT_EQ(watch.Unacknowledged(), 2u);
    EXPECT_TRUE(watch.IsAlarmLine(5));
    EXPECT_FALSE(watch.IsAlarmLine(4));

    std::optional<TAlarm> first = watch.Acknowledge();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->Line, 1u);
    EXPECT_EQ(first->Rule, "major");
    EXPECT_EQ(first->Text, "ALM MAJOR PSU 1");
    EXPECT_EQ(watch.Unacknowledged(), 1u);
    EXPECT_TRUE(watch.IsAlarmLine(1)) << "an acknowledged alarm line stays marked";
    EXPECT_EQ(watch.Acknowledge()->Line, 5u);
    EXPECT_FALSE(watch.Acknowledge());
}

TEST(AlarmWatch, TrimmedLinesAreNeverPointedAt)
{
    TAlarmWatch watch;
    watch.SetRules(Rules("alarm"));
    for (uint64_t line = 0; line < 100; ++line)
        watch.LineCompleted(line, line % 10 == 0 ? "ALARM" : "call");
    watch.Trimmed(40);
    EXPECT_FALSE(watch.IsAlarmLine(30)) << "gone with its line";
    EXPECT_TRUE(watch.IsAlarmLine(40));
    EXPECT_EQ(watch.Unacknowledged(), 10u) << "still unacknowledged";
    const std::optional<TAlarm> oldest = watch.Acknowledge();
    ASSERT_TRUE(oldest);
    EXPECT_EQ(oldest->Line, 0u);
    EXPECT_FALSE(watch.Shown(oldest->Line)) << "the window must not scroll to it";
    watch.Trimmed(10);  // a smaller number changes nothing
    EXPECT_TRUE(watch.IsAlarmLine(40));
}

TEST(AlarmWatch, AnAlarmNamesItsRulesLineAndKeepsOnlyTheStartOfAHugeLine)
{
    TAlarmWatch watch;
    watch.SetRules(Rules("# rules\nfan\n\nmajor\n"));
    const std::string huge = "MAJOR " + std::string(1 << 20, 'x');
    ASSERT_TRUE(watch.LineCompleted(3, huge));
    const std::optional<TAlarm> alarm = watch.Acknowledge();
    ASSERT_TRUE(alarm);
    EXPECT_EQ(alarm->RuleLine, 4);
    EXPECT_EQ(alarm->Text, huge.substr(0, TAlarmWatch::kTextLimit));
}

TEST(AlarmWatch, ARuleMatchingEveryLineOfAFloodKeepsABoundedList)
{
    TAlarmWatch watch;
    watch.SetRules(Rules("cdr"));
    const uint64_t lines = TAlarmWatch::kKeepLimit + 5;
    for (uint64_t line = 0; line < lines; ++line)
        watch.LineCompleted(line, "CDR");
    EXPECT_EQ(watch.Unacknowledged(), TAlarmWatch::kKeepLimit);
    EXPECT_EQ(watch.Dropped(), 5u);
    EXPECT_EQ(watch.Acknowledge()->Line, 5u) << "the oldest left";
}
