#include "core/EventLog.h"
#include "core/EventText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <vector>

namespace {

class EventLog : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        oldDir_ = QDir::currentPath();
        QDir::setCurrent(dir_.path());
        log_.OnProblem = [this](const std::string& problem) { problems_.push_back(problem); };
    }
    void TearDown() override { QDir::setCurrent(oldDir_); }

    static QByteArray Read(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir dir_;
    QString oldDir_;
    QDateTime now_ = QDateTime(QDate(2026, 12, 7), QTime(23, 59, 59, 250));
    TEventLog log_{[this] { return now_; }};
    std::vector<std::string> problems_;
};

}  // namespace

TEST_F(EventLog, EachEventIsOnDiskAsItIsWrittenAndANewDayStartsANewFile)
{
    log_.Open();
    log_.Write("program-start", "1.0");
    // Read while the log is still open: nothing waits in memory.
    EXPECT_EQ(Read("archive/2026/12/07-12-26.LOG"), "23:59:59.250\tprogram-start\t1.0\n");

    now_ = now_.addMSecs(800);  // 00:00:00.050 on the 8th
    log_.Write("sent", "key DIS\\x09" + EventBytes("\xC0\\"));
    log_.Write("silence-end");
    EXPECT_EQ(Read("archive/2026/12/07-12-26.LOG"), "23:59:59.250\tprogram-start\t1.0\n")
        << "the old day is left alone";
    EXPECT_EQ(Read("archive/2026/12/08-12-26.LOG"),
              QByteArray("00:00:00.050\tsent\tkey DIS\\x09\xD0\x90\\\\\n00:00:00.050\tsilence-end\t\n"));

    now_ = QDateTime(QDate(2027, 1, 1), QTime(0, 0));
    log_.Write("program-end");
    EXPECT_EQ(Read("archive/2027/01/01-01-27.LOG"), "00:00:00.000\tprogram-end\t\n") << "a new month and year folder";
    EXPECT_TRUE(problems_.empty());
    EXPECT_EQ(QDir("archive/2027/01").entryList(QDir::Files), QStringList{"01-01-27.LOG"})
        << "the log has no time index; the capture's is not touched";
}

TEST_F(EventLog, AnExistingDayIsAppendedTo)
{
    log_.Open();
    log_.Write("program-start", "1.0");
    log_.Close();
    TEventLog again([this] { return now_; });
    again.Write("program-start", "1.0");  // opens the day's file by itself
    EXPECT_EQ(Read("archive/2026/12/07-12-26.LOG").count('\n'), 2);
}

// /dev/full plays a full disk: it opens, and every write fails with ENOSPC.
TEST_F(EventLog, AFailingFileIsReportedOnceEventsWaitBoundedAndGoToTheNextDaysFile)
{
    if (!QFileInfo::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    ASSERT_TRUE(QDir().mkpath("archive/2026/12"));
    ASSERT_TRUE(QFile::link("/dev/full", "archive/2026/12/07-12-26.LOG"));
    log_.Open();
    log_.Write("port-lost", "/dev/ttyS0 EIO");
    log_.Write("port-back", "/dev/ttyS0");
    ASSERT_EQ(problems_.size(), 1u) << "one report, not one per event";
    EXPECT_NE(problems_[0].find("07-12-26.LOG"), std::string::npos) << problems_[0];
    EXPECT_GT(log_.PendingBytes(), 0u);

    const std::string detail(100000, 'x');
    for (int i = 0; i < 200; ++i)
        log_.Write("sent", detail);
    EXPECT_LE(log_.PendingBytes(), TCaptureFile::kBacklogLimit);
    EXPECT_GT(log_.DroppedBytes(), 0u);
    ASSERT_EQ(problems_.size(), 2u) << "the loss is told once too";
    EXPECT_NE(problems_[1].find("dropped"), std::string::npos);

    now_ = now_.addSecs(1);  // the next day's file works
    log_.Write("program-end");
    EXPECT_EQ(log_.PendingBytes(), 0u);
    const QByteArray next = Read("archive/2026/12/08-12-26.LOG");
    EXPECT_TRUE(next.endsWith("00:00:00.250\tprogram-end\t\n"));
    EXPECT_EQ(next.count('\t'), 2 * next.count('\n')) << "only whole events, none cut in two";
}

TEST_F(EventLog, AFolderThatCannotBeMadeIsReportedAndTheEventsWait)
{
    QFile blocker("archive");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));  // a file where the folder should be
    blocker.close();
    EXPECT_THROW(log_.Open(), std::runtime_error);
    log_.Write("program-start", "1.0");
    log_.Write("program-end");
    EXPECT_TRUE(problems_.empty()) << "the caller of Open reported it";
    ASSERT_TRUE(QFile::remove("archive"));
    log_.Write("settings-saved");
    EXPECT_EQ(Read("archive/2026/12/07-12-26.LOG").count('\n'), 3) << "the waiting events follow";

    // Working again, a new failure is told.
    now_ = now_.addSecs(1);
    ASSERT_TRUE(QDir("archive/2026/12").removeRecursively());
    ASSERT_TRUE(QFile("archive/2026/12").open(QIODevice::WriteOnly));
    log_.Write("program-end");
    EXPECT_EQ(problems_.size(), 1u);
}
