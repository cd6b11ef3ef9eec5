#include "core/CaptureFile.h"
#include "core/TimeIndex.h"

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

std::string Contents(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "<missing>";
    return file.readAll().toStdString();
}

// The index's records in file order, damage and all.
std::vector<std::pair<uint64_t, uint32_t>> RawRecords(const std::string& bytes)
{
    std::vector<std::pair<uint64_t, uint32_t>> records;
    for (size_t at = 0; at + kTimeRecordSize <= bytes.size(); at += kTimeRecordSize) {
        const TTimeIndex one(std::string_view(bytes).substr(at, kTimeRecordSize));
        records.emplace_back(one.Records().at(0).Offset, one.Records().at(0).Milliseconds);
    }
    return records;
}

std::vector<uint64_t> LineStarts(const std::string& capture)
{
    std::vector<uint64_t> starts;
    for (size_t at = 0; at < capture.size(); at = capture.find('\n', at) + 1) {
        starts.push_back(at);
        if (capture.find('\n', at) == std::string::npos)
            break;
    }
    return starts;
}

}  // namespace

TEST(CaptureFileTimes, OneRecordPerLineAtItsOffsetAppendedToAnEarlierFileAndItsCutRecord)
{
    QTemporaryDir dir;
    const std::string root = dir.path().toStdString() + "/";
    {
        QFile earlier(dir.filePath("x.CAP"));
        ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
        earlier.write("before\r\n");
        QFile index(dir.filePath("x.TIM"));
        ASSERT_TRUE(index.open(QIODevice::WriteOnly));
        index.write(QByteArray::fromStdString(EncodeTimeRecord({0, 5}) + "\x01\x02\x03"));  // cut by a crash
    }
    TCaptureFile file;
    file.Open(root, "x.CAP");
    file.WriteLine("a", 1000);
    file.WriteLine("", 1001);
    const std::string longLine(TCaptureFile::kDirectLine + 7, 'L');
    file.WriteLine(longLine, 2000);
    file.WriteLine("untimed");
    file.WriteLine("b", kMillisecondsPerDay - 1);
    EXPECT_TRUE(file.Flush());
    file.Close();
    const std::string capture = Contents(dir.filePath("x.CAP"));
    ASSERT_EQ(capture, "before\r\na\r\n\r\n" + longLine + "\r\nuntimed\r\nb\r\n");
    const std::vector<uint64_t> starts = LineStarts(capture);
    EXPECT_EQ(RawRecords(Contents(dir.filePath("x.TIM"))),
              (std::vector<std::pair<uint64_t, uint32_t>>{{0, 5},
                                                          {starts[1], 1000},
                                                          {starts[2], 1001},
                                                          {starts[3], 2000},
                                                          {starts[5], kMillisecondsPerDay - 1}}));
}

TEST(CaptureFileTimes, AnIndexThatCannotBeWrittenStopsNothing)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath("x.TIM"));
    TCaptureFile file;
    file.Open(dir.path().toStdString() + "/", "x.CAP");
    for (uint32_t i = 0; i < 100; ++i)
        file.WriteLine("line", i);
    EXPECT_TRUE(file.Flush());
    EXPECT_EQ(file.PendingBytes(), 0u);
    EXPECT_EQ(file.PendingTimeBytes(), 100 * kTimeRecordSize) << "kept for an index that may yet open";
    file.Close();
    EXPECT_EQ(file.DroppedTimeBytes(), 100 * kTimeRecordSize);
    EXPECT_EQ(Contents(dir.filePath("x.CAP")).size(), 600u);
}

TEST(CaptureFileBacklog, ALineTheDiskCutInTwoStaysWholeWhenTheBacklogDropsLines)
{
    QTemporaryDir dir;
    TCaptureFile file;
    file.Open(dir.path().toStdString() + "/", "x.CAP");
    FileSizeLimit full(1500);
    int written = 0;
    file.WriteLine(NumberedLine(written), uint32_t(written));
    ++written;
    ASSERT_TRUE(file.Flush());
    file.WriteLine(NumberedLine(written), uint32_t(written));
    ++written;
    ASSERT_FALSE(file.Flush()) << "the second line crosses the limit";
    while (file.DroppedBytes() == 0) {
        file.WriteLine(NumberedLine(written), uint32_t(written));
        ++written;
    }
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

    // Each line in the file has its own time; the dropped ones left none.
    std::vector<std::pair<uint64_t, uint32_t>> expected;
    for (qsizetype i = 0; i + 1 < lines.size(); ++i)
        expected.emplace_back(uint64_t(i) * 1002, uint32_t(i < 2 ? i : first + int(i) - 2));
    EXPECT_EQ(RawRecords(Contents(dir.filePath("x.TIM"))), expected);
}
