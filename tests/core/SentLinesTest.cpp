#include "core/SentLines.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>
#include <vector>

namespace {

class SentLines : public ::testing::Test {
protected:
    void SetUp() override
    {
        lines_.OnLine = [this](const std::string& line) { got_.push_back(line); };
    }

    QDateTime now_ = QDateTime(QDate(2026, 12, 7), QTime(10, 0));
    TSentLines lines_{[this] { return now_; }, 2000};
    std::vector<std::string> got_;
};

}  // namespace

TEST_F(SentLines, ALineEndsAtCrOrLfAndCrLfCountsOnce)
{
    lines_.Add("DIS");
    lines_.Add(" 12\rSTA");
    lines_.Add("\nX\r\n\r");
    EXPECT_EQ(got_, (std::vector<std::string>{"DIS 12", "STA", "X", ""}));
    EXPECT_FALSE(lines_.HasOpenLine());
}

TEST_F(SentLines, AnOpenLineIsHandedOverAfterThePauseAndOnFlush)
{
    lines_.Add("ab");
    now_ = now_.addMSecs(1999);
    lines_.Check();
    EXPECT_TRUE(got_.empty()) << "not yet";
    lines_.Add("c");
    now_ = now_.addMSecs(1999);
    lines_.Check();
    EXPECT_TRUE(got_.empty()) << "each key starts the pause again";
    now_ = now_.addMSecs(1);
    lines_.Check();
    EXPECT_EQ(got_, std::vector<std::string>{"abc"});

    lines_.Add("q");
    lines_.Flush();
    lines_.Flush();
    EXPECT_EQ(got_, (std::vector<std::string>{"abc", "q"}));
}

TEST(SentLinesTimer, ThePauseIsNoticedWithoutAnotherKey)
{
    std::vector<std::string> got;
    TSentLines lines(SystemNow, 100);
    lines.OnLine = [&](const std::string& line) { got.push_back(line); };
    lines.Add("x");
    QElapsedTimer timer;
    timer.start();
    while (got.empty() && timer.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(got, std::vector<std::string>{"x"});
}
