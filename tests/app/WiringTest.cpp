// The window's wiring of the receive path: clusters from the serial port reach
// the display and the status bar; capture file events reach the status bar and
// the error box. The receive path's own rules are tested on its unit.
#include "app/TerminalMemo.h"
#include "core/LineModel.h"
#include "serial/SerialNG.h"
#include "tests/app/FormFixture.h"

#include <QDir>
#include <QFileInfo>

namespace {

// The lines the display draws, one "\n" between lines (wrapped rows join up).
QString Shown(const TTerminalMemo& memo)
{
    QString text;
    int line = -1;
    for (const TTerminalMemo::DrawnRow& row : memo.DrawnRows()) {
        if (line >= 0 && row.Line != line)
            text += '\n';
        line = row.Line;
        text += row.Cells;
    }
    return text;
}

}  // namespace

class Wiring : public FormFixture {
protected:
    void SetUp() override
    {
        FormFixture::SetUp();
        Create();
    }
};

TEST_F(Wiring, DisplayFollowsTheLineListInBatches)
{
    TTerminalMemo& memo = *Memo();
    Receive("one\ntwo");
    memo.SyncNow();
    EXPECT_EQ(Shown(memo), "one\ntwo");
    EXPECT_EQ(Status(0), "Lines 2");
    Receive("!\nthree\n");
    Receive("\b");
    Settle();
    memo.SyncNow();
    EXPECT_EQ(Shown(memo), "one\ntwo!\nthree\n");
    EXPECT_EQ(memo.Text(), "one\r\ntwo!\r\nthree\r\n");
    EXPECT_EQ(Status(0), "Lines 4");
}

TEST_F(Wiring, AnEmptyQueueOnlyRefreshesTheLineCount)
{
    Port().OnRxClusterEvent(&Port());
    EXPECT_EQ(Status(0), "Lines 1");
    Receive("");
    EXPECT_EQ(Memo()->Model().LineCount(), 1);
}

TEST_F(Wiring, TheCaptureFileNameAndItsProblemsReachTheWindow)
{
    EXPECT_EQ(Status(3), "File Open 07-12-26.CAP");
    now_ = now_.addDays(1);
    QDir().mkpath("archive/2026/12/08-12-26.CAP");  // a directory where the file should be
    Receive("a\n");
    EXPECT_EQ(Status(3), "Cannot open 08-12-26.CAP");
    EXPECT_TRUE(errors_.isEmpty()) << "shown from the event loop, not inside the receive event";
    Settle();
    ASSERT_EQ(errors_.size(), 1);
    EXPECT_TRUE(errors_[0].contains("08-12-26.CAP"));
    QDir().rmdir("archive/2026/12/08-12-26.CAP");
    Receive("b\n");
    EXPECT_EQ(Status(3), "File Open 08-12-26.CAP");
}

TEST_F(Wiring, CaptureLossReachesTheStatusBarAndOneMoreErrorBox)
{
    if (!QFileInfo::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    now_ = now_.addDays(1);
    ASSERT_TRUE(QFile::link("/dev/full", "archive/2026/12/08-12-26.CAP"));  // a full disk
    std::string cluster;
    for (int i = 0; i < 1024; ++i)
        cluster += std::string(1022, 'x') + "\n";
    for (int i = 0; i < 18; ++i)
        Receive(cluster);
    Settle();
    ASSERT_EQ(errors_.size(), 2);
    EXPECT_TRUE(errors_[0].contains("No space left on device")) << errors_[0].toStdString();
    EXPECT_TRUE(errors_[1].contains("bytes of received lines were dropped")) << errors_[1].toStdString();
    const QString status = Status(3);
    EXPECT_TRUE(status.startsWith("Capture lost ") && status.endsWith(" bytes")) << status.toStdString();
    for (int i = 0; i < 6; ++i)
        Receive(cluster);
    Settle();
    EXPECT_EQ(errors_.size(), 2);
    EXPECT_NE(Status(3).toStdString(), status.toStdString()) << "the count grows";
}
