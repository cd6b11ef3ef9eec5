#include "core/SilenceWatch.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

class SilenceWatch : public ::testing::Test {
protected:
    void SetUp() override
    {
        watch_.OnSilence = [this](const QDateTime& since) { silences_.push_back(since); };
        watch_.OnSilenceEnd = [this] { ++ends_; };
    }
    void At(int seconds) { now_ = start_.addSecs(seconds); }

    QDateTime start_ = QDateTime(QDate(2026, 12, 7), QTime(23, 55));
    QDateTime now_ = start_;
    TSilenceWatch watch_{[this] { return now_; }};
    std::vector<QDateTime> silences_;
    int ends_ = 0;
};

}  // namespace

TEST_F(SilenceWatch, AnOpenPortSilentForTheSetMinutesIsReportedOnceAndTheNextByteEndsIt)
{
    watch_.SetQuietMinutes(5);
    watch_.PortOpened();
    At(60);
    watch_.Heard();
    At(60 + 299);
    watch_.Check();
    EXPECT_TRUE(silences_.empty()) << "a second short";
    At(60 + 300);  // across midnight
    watch_.Check();
    watch_.Check();
    ASSERT_EQ(silences_.size(), 1u);
    EXPECT_EQ(silences_[0], start_.addSecs(60)) << "silent since the last byte";
    EXPECT_TRUE(watch_.Silent());

    At(1000);
    watch_.Heard();
    EXPECT_EQ(ends_, 1);
    EXPECT_FALSE(watch_.Silent());
    watch_.Heard();
    EXPECT_EQ(ends_, 1);
    At(1000 + 300);
    watch_.Check();
    EXPECT_EQ(silences_.size(), 2u) << "and it watches again";
}

TEST_F(SilenceWatch, OffAtZeroAndWhileThePortIsClosed)
{
    watch_.PortOpened();
    At(100000);
    watch_.Check();
    EXPECT_TRUE(silences_.empty()) << "0 minutes: off";

    watch_.SetQuietMinutes(1);
    watch_.PortClosed();
    At(200000);
    watch_.Check();
    EXPECT_TRUE(silences_.empty()) << "a closed port is not silent";

    watch_.PortOpened();  // counts from the open
    At(200000 + 59);
    watch_.Check();
    EXPECT_TRUE(silences_.empty());
    At(200000 + 60);
    watch_.Check();
    EXPECT_EQ(silences_.size(), 1u);
    watch_.PortClosed();
    watch_.Heard();
    EXPECT_EQ(ends_, 0) << "closing ended the silence without a report";
}
