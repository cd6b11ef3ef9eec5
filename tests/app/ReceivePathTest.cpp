#include "app/StatusBar.h"
#include "app/TerminalMemo.h"
#include "serial/SerialNG.h"
#include "tests/app/FormFixture.h"

#include <QTextBlock>

class ReceivePath : public FormFixture {
protected:
    void SetUp() override
    {
        FormFixture::SetUp();
        Create();
    }
    std::string Capture() const { return ReadFile("archive/2026/12/07-12-26.CAP"); }
    TTerminalMemo& memo() { return *form_->Memo1; }
};

TEST_F(ReceivePath, AssemblesClustersIntoLinesAndWritesCompletedLinesOnce)
{
    Receive("ABC");
    EXPECT_EQ(memo().Line(0), "ABC");
    EXPECT_EQ(Capture(), "");
    Receive("DEF");
    EXPECT_EQ(memo().Line(0), "ABCDEF");
    Receive("\r\n");
    ASSERT_EQ(memo().LineCount(), 2);
    EXPECT_EQ(memo().Line(1), "");
    EXPECT_EQ(form_->LineIndex, 1);
    EXPECT_EQ(Capture(), "ABCDEF\r\n");
    EXPECT_EQ(form_->StatusBar1->Panels(0).Text, "Lines 2");
    EXPECT_EQ(form_->StatusBar1->Panels(3).Text, "File Open 07-12-26.CAP");
}

TEST_F(ReceivePath, EmptyLinesNulAndCrNeverReachDisplayOrFile)
{
    Receive("x\r\n\n");
    Receive(std::string("a\0b\rc\n", 6));
    EXPECT_EQ(Capture(), "x\r\n\r\nabc\r\n");
    EXPECT_EQ(memo().Line(2), "abc");
    EXPECT_EQ(memo().LineCount(), 4);
}

TEST_F(ReceivePath, BytesAboveAsciiAreKeptExactly)
{
    const std::string cyrillic = "\xCF\xD0\xC8\xC2\xC5\xD2 \xFF\x80\x98";
    Receive(cyrillic + "\n");
    EXPECT_EQ(Capture(), cyrillic + "\r\n");
    form_->Memo1->SyncNow();
    EXPECT_EQ(form_->Memo1->toPlainText().left(6), QString::fromUtf8("ПРИВЕТ"));
}

TEST_F(ReceivePath, BackspaceAtTheHeadOfAClusterShortensTheLine)
{
    Receive("HELLO");
    Receive("\b");
    EXPECT_EQ(memo().Line(0), "HELL");
    Receive("\b \b");
    EXPECT_EQ(memo().Line(0), "H ");
    Receive("\b\b\b\b\b\b");
    EXPECT_EQ(memo().Line(0), "");
    Receive("a\bb");  // not at the head: only dropped
    EXPECT_EQ(memo().Line(0), "ab");
}

TEST_F(ReceivePath, TrimsTwentyLinesPastTheLimitWhileTheFileKeepsAll)
{
    std::string block;
    for (int i = 1; i <= 6001; ++i)
        block += "line " + std::to_string(i) + "\r\n";
    Receive(block);
    EXPECT_EQ(memo().LineCount(), 6002);
    EXPECT_EQ(form_->LineIndex, 6001);
    Receive("next");
    EXPECT_EQ(memo().LineCount(), 5982);
    EXPECT_EQ(form_->LineIndex, 5981);
    EXPECT_EQ(memo().Line(0), "line 21");
    EXPECT_EQ(memo().Line(5981), "next");
    EXPECT_EQ(form_->StatusBar1->Panels(0).Text, "Lines 5982");
    EXPECT_EQ(Capture(), block);
    Receive("\n");
    EXPECT_EQ(memo().LineCount(), 5983);  // one trim per event, only past the limit

    memo().SyncNow();
    EXPECT_EQ(memo().blockCount(), 5983);
    EXPECT_EQ(memo().document()->firstBlock().text(), "line 21");
}

TEST_F(ReceivePath, DisplayFollowsTheLineListInBatches)
{
    Receive("one\ntwo");
    memo().SyncNow();
    EXPECT_EQ(memo().toPlainText(), "one\ntwo");
    Receive("!\nthree\n");
    Receive("\b");
    Settle();
    memo().SyncNow();
    EXPECT_EQ(memo().toPlainText(), "one\ntwo!\nthree\n");
    EXPECT_EQ(memo().Text(), "one\r\ntwo!\r\nthree\r\n");
}

TEST_F(ReceivePath, FirstDataAfterMidnightGoesToTheNewYearsFile)
{
    now_ = QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59));
    form_.reset();
    Create();
    Receive("before");
    now_ = QDateTime(QDate(2027, 1, 1), QTime(0, 0, 1));
    Receive(" midnight\n");
    EXPECT_EQ(ReadFile("archive/2026/12/31-12-26.CAP"), "");
    EXPECT_EQ(ReadFile("archive/2027/01/01-01-27.CAP"), "before midnight\r\n");
    EXPECT_EQ(form_->CaptureYear, 2027);
    EXPECT_EQ(form_->StatusBar1->Panels(3).Text, "File Open 01-01-27.CAP");
}

TEST_F(ReceivePath, ARestartOnTheSameDayAppends)
{
    Receive("first\n");
    form_.reset();
    Create();
    Receive("second\n");
    EXPECT_EQ(Capture(), "first\r\nsecond\r\n");
}

TEST_F(ReceivePath, AnEmptyQueueOnlyRefreshesTheLineCount)
{
    form_->SerialPortNG1->OnRxClusterEvent(form_->SerialPortNG1.get());
    EXPECT_EQ(form_->StatusBar1->Panels(0).Text, "Lines 1");
    Receive("");
    EXPECT_EQ(memo().LineCount(), 1);
}

TEST_F(ReceivePath, ADirectoryInTheWayOfTheCaptureFileIsRetriedAfterItIsGone)
{
    now_ = now_.addDays(1);
    QDir().mkpath("archive/2026/12/08-12-26.CAP");  // a directory where the file should be
    Receive("a\n");
    Receive("b\n");
    Settle();
    EXPECT_EQ(errors_.size(), 1);
    EXPECT_NE(form_->CaptureDay, 8);
    QDir().rmdir("archive/2026/12/08-12-26.CAP");
    Receive("c\n");
    EXPECT_EQ(form_->CaptureDay, 8);
    EXPECT_EQ(ReadFile("archive/2026/12/08-12-26.CAP"), "a\r\nb\r\nc\r\n");
}

TEST_F(ReceivePath, ALargeClusterCannotGrowTheDisplayPastTheLimit)
{
    std::string block;
    for (int i = 1; i <= 5000; ++i)
        block += "x" + std::to_string(i) + "\n";
    Receive(block);
    Receive(block);
    EXPECT_EQ(memo().LineCount(), 10001);
    Receive("y");
    EXPECT_LE(form_->LineIndex, form_->LineLimit);
    EXPECT_EQ(form_->LineIndex, memo().LineCount() - 1);
    EXPECT_EQ(memo().Line(form_->LineIndex), "y");
    EXPECT_EQ(memo().LineCount(), 10001 - 4000);  // whole blocks of 20
}
