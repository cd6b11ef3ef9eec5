#include "core/CaptureFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <stdexcept>
#include <sys/resource.h>

TEST(CaptureFileBacklog, KeepsLinesUntilAFileAcceptsThemAndStaysBounded)
{
    TCaptureFile file;
    file.WriteLine("one");
    EXPECT_FALSE(file.Flush());
    EXPECT_EQ(file.PendingBytes(), 5u);

    QTemporaryDir dir;
    file.Open(dir.path().toStdString() + "/a/b/", "x.CAP");
    file.WriteLine("two");
    EXPECT_TRUE(file.Flush());
    file.Close();
    QFile written(dir.filePath("a/b/x.CAP"));
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), QByteArray("one\r\ntwo\r\n"));

    TCaptureFile unbounded;
    const std::string line(1000, 'x');
    for (int i = 0; i < 20000; ++i)
        unbounded.WriteLine(line);
    EXPECT_LE(unbounded.PendingBytes(), TCaptureFile::kBacklogLimit);
    EXPECT_GT(unbounded.DroppedBytes(), 0u);
    EXPECT_EQ(unbounded.PendingBytes() % 1002, 0u);  // only whole lines are dropped
}

TEST(CaptureFileBacklog, AnOpenFileTakesMoreLinesAtOnceThanTheBacklogHolds)
{
    QTemporaryDir dir;
    TCaptureFile file;
    file.Open(dir.path().toStdString() + "/", "x.CAP");
    const std::string line(1000, 'x');
    const int lines = int(TCaptureFile::kBacklogLimit / 1002) + 2000;
    for (int i = 0; i < lines; ++i)
        file.WriteLine(line);
    EXPECT_TRUE(file.Flush());
    EXPECT_EQ(file.DroppedBytes(), 0u);
    file.Close();
    EXPECT_EQ(QFileInfo(dir.filePath("x.CAP")).size(), qint64(lines) * 1002);
}

TEST(CaptureFileBacklog, AVeryLongLineGoesToTheOpenFileWithoutWaitingInTheBacklog)
{
    QTemporaryDir dir;
    TCaptureFile file;
    file.Open(dir.path().toStdString() + "/", "x.CAP");
    file.WriteLine("a");
    EXPECT_TRUE(file.Flush());
    std::string line(TCaptureFile::kDirectLine * 3, 'y');
    line[12345] = 'z';
    file.WriteLine(line);
    EXPECT_EQ(file.PendingBytes(), 2u);  // only its line end waits, in order
    file.WriteLine("b");
    EXPECT_TRUE(file.Flush());
    file.Close();
    QFile written(dir.filePath("x.CAP"));
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll().toStdString(), "a\r\n" + line + "\r\nb\r\n");
}

TEST(CaptureFileBacklog, AFullBacklogDropsABlockOfLinesNotOneLinePerWrite)
{
    TCaptureFile refused;
    const std::string line(1000, 'x');
    while (refused.DroppedBytes() == 0)
        refused.WriteLine(line);
    const uint64_t firstDrop = refused.DroppedBytes();
    EXPECT_GE(firstDrop, TCaptureFile::kBacklogLimit / 5);
    for (int i = 0; i < 100; ++i)
        refused.WriteLine(line);
    EXPECT_EQ(refused.DroppedBytes(), firstDrop);  // room was made for these
}

TEST(CaptureFile, AFileThatCannotBeOpenedIsNamedAndLeavesTheBacklogForTheNext)
{
    QTemporaryDir dir;
    const std::string root = dir.path().toStdString() + "/";
    ASSERT_TRUE(QDir(dir.path()).mkpath("taken.CAP"));
    TCaptureFile file;
    file.WriteLine("kept");
    try {
        file.Open(root, "taken.CAP");
        FAIL() << "opened a directory";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(root + "taken.CAP"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(file.IsOpen());
    EXPECT_FALSE(file.Flush());
    EXPECT_EQ(file.LastError(), "no capture file is open");

    file.Open(root + "day/", "x.CAP");
    EXPECT_EQ(file.Path(), root + "day/x.CAP");
    file.Close();
    QFile written(QString::fromStdString(file.Path()));
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), QByteArray("kept\r\n")) << "Close writes what is pending";
    EXPECT_EQ(file.PendingBytes(), 0u);
}

namespace {

// A disk that fills up, played by the process's file size limit: a write that
// crosses it stops there, the next one fails with EFBIG.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &old_);
        oldSignal_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { Lift(); }
    void Lift()
    {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldSignal_);
    }

private:
    rlimit old_{};
    void (*oldSignal_)(int) = SIG_DFL;
};

std::string NumberedLine(int number)
{
    std::string line = std::to_string(number);
    line.resize(1000, '.');
    return line;
}

}  // namespace

TEST(CaptureFileBacklog, ALineTheDiskCutInTwoStaysWholeWhenTheBacklogDropsLines)
{
    QTemporaryDir dir;
    TCaptureFile file;
    file.Open(dir.path().toStdString() + "/", "x.CAP");
    FileSizeLimit full(1500);
    int written = 0;
    file.WriteLine(NumberedLine(written++));
    ASSERT_TRUE(file.Flush());
    file.WriteLine(NumberedLine(written++));
    ASSERT_FALSE(file.Flush()) << "the second line crosses the limit";
    while (file.DroppedBytes() == 0)
        file.WriteLine(NumberedLine(written++));
    full.Lift();
    ASSERT_TRUE(file.Flush());
    file.Close();

    QFile result(dir.filePath("x.CAP"));
    ASSERT_TRUE(result.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = result.readAll().split('\n');
    ASSERT_GT(lines.size(), 3);
    EXPECT_TRUE(lines.back().isEmpty());
    EXPECT_EQ(lines[0].toStdString(), NumberedLine(0) + "\r");
    EXPECT_EQ(lines[1].toStdString(), NumberedLine(1) + "\r") << "the line begun before the disk filled";
    // The newest lines follow in order, each whole.
    const int first = written - int(lines.size() - 3);
    for (qsizetype i = 2; i + 1 < lines.size(); ++i)
        ASSERT_EQ(lines[i].toStdString(), NumberedLine(first + int(i) - 2) + "\r") << "line " << i;
    EXPECT_EQ(file.DroppedBytes(), uint64_t(first - 2) * 1002);
}
