#include "core/SourcePenalties.h"

#include <gtest/gtest.h>
#include <string>

namespace {

constexpr int64_t kMinute = 60 * 1000;

// Five wrong passwords a second apart, from at; the penalty the last one starts.
int64_t FiveWrong(TSourcePenalties& table, const std::string& address, int64_t at)
{
    int64_t penalty = 0;
    for (int i = 0; i < TSourcePenalties::kWrongLimit; ++i) {
        penalty = table.Wrong(address, at + i * 1000);
        if (i + 1 < TSourcePenalties::kWrongLimit) {
            EXPECT_EQ(penalty, 0) << "wrong password " << i + 1;
        }
    }
    return penalty;
}

}  // namespace

TEST(SourcePenalties, FiveWrongPasswordsStartAMinuteThatDoublesUpToAnHour)
{
    TSourcePenalties table;
    int64_t t = 0;
    const int64_t expected[] = {1, 2, 4, 8, 16, 32, 60, 60};
    for (int64_t minutes : expected) {
        EXPECT_EQ(FiveWrong(table, "10.0.0.1", t), minutes * kMinute);
        t += 4000;
        EXPECT_EQ(table.PenaltyLeft("10.0.0.1", t), minutes * kMinute);
        EXPECT_EQ(table.PenaltyLeft("10.0.0.1", t + minutes * kMinute - 1), 1);
        EXPECT_EQ(table.PenaltyLeft("10.0.0.1", t + minutes * kMinute), 0);
        t += minutes * kMinute;
    }
    EXPECT_EQ(table.PenaltyLeft("10.0.0.2", t), 0) << "another address is not touched";

    // After an hour of quiet past the last penalty, the next starts at a minute again.
    t += 61 * kMinute;
    EXPECT_EQ(FiveWrong(table, "10.0.0.1", t), kMinute);
}

TEST(SourcePenalties, OnlyWrongPasswordsOfTheLastTenMinutesCount)
{
    TSourcePenalties table;
    for (int64_t minute : {0, 3, 6, 9, 11})
        EXPECT_EQ(table.Wrong("10.0.0.1", minute * kMinute), 0);
    EXPECT_EQ(table.Wrong("10.0.0.1", 12 * kMinute), kMinute) << "3, 6, 9, 11 and 12 are within ten minutes";

    // A clock set back counts as time passed, in both directions.
    const int64_t start = 12 * kMinute;
    EXPECT_EQ(table.PenaltyLeft("10.0.0.1", start - 20 * 1000), 40 * 1000);
    EXPECT_EQ(table.PenaltyLeft("10.0.0.1", start - 2 * kMinute), 0);
}

TEST(SourcePenalties, ACorrectLoginForgetsItsAddressOnly)
{
    TSourcePenalties table;
    for (int i = 0; i < 4; ++i) {
        table.Wrong("10.0.0.1", i);
        table.Wrong("10.0.0.2", i);
    }
    table.LoggedIn("10.0.0.1");
    EXPECT_EQ(table.Wrong("10.0.0.1", 10), 0);
    EXPECT_EQ(table.Wrong("10.0.0.2", 10), kMinute);
    table.LoggedIn("10.0.0.2");
    EXPECT_EQ(table.PenaltyLeft("10.0.0.2", 11), 0) << "a login ends the penalty too";
    table.LoggedIn("10.0.0.3");
    EXPECT_EQ(table.Size(), 1u);
}

TEST(SourcePenalties, TheTableDropsTheAddressSeenLongestAgo)
{
    TSourcePenalties table;
    ASSERT_EQ(FiveWrong(table, "old", 0), kMinute);
    ASSERT_EQ(FiveWrong(table, "kept", 0), kMinute);
    for (size_t i = 0; i + 2 < TSourcePenalties::kMaxSources; ++i)
        table.Wrong("a" + std::to_string(i), 10000);
    EXPECT_EQ(table.Size(), TSourcePenalties::kMaxSources);
    // A refused connection counts as seen.
    EXPECT_GT(table.PenaltyLeft("kept", 10000), 0);
    table.Wrong("new", 10000);
    EXPECT_EQ(table.Size(), TSourcePenalties::kMaxSources);
    EXPECT_EQ(table.PenaltyLeft("old", 10000), 0) << "dropped";
    EXPECT_GT(table.PenaltyLeft("kept", 10000), 0);
    EXPECT_EQ(table.Wrong("a0", 10000), 0) << "still known: its second wrong password";
}
