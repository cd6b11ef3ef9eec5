#include "core/ReceivePath.h"

#include "core/ArchiveDays.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <vector>

namespace {

// A receive path started as the program starts it, in a fresh data folder.
class ReceivePath : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        oldDir_ = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(dir_.path()));
        Create();
    }
    void TearDown() override
    {
        path_.reset();
        QDir::setCurrent(oldDir_);
    }

    void Create()
    {
        path_ = std::make_unique<TReceivePath>([this] { return now_; });
        path_->OnCaptureFileOpening = [this](const std::string& name) { opened_.push_back(name); };
        path_->OnCaptureProblem = [this](const std::string& problem) { problems_.push_back(problem); };
        path_->SetLineLimit(6000);
        path_->Start();
        path_->OpenCaptureFile();
    }
    void Take(std::string_view text) { path_->Take(text); }
    void Hold(std::string_view text)
    {
        if (!path_->CaptureViewMode())
            path_->EnterCaptureView();
        path_->Take(text);
    }
    const TLineModel& Lines() const { return path_->Lines(); }
    static std::string ReadFile(const QString& name)
    {
        QFile file(name);
        if (!file.open(QIODevice::ReadOnly))
            return "<missing>";
        return file.readAll().toStdString();
    }
    static std::string Capture() { return ReadFile("archive/2026/12/07-12-26.CAP"); }

    QTemporaryDir dir_;
    QString oldDir_;
    QDateTime now_ = QDateTime(QDate(2026, 12, 7), QTime(10, 0));
    std::unique_ptr<TReceivePath> path_;
    std::vector<std::string> opened_;
    std::vector<std::string> problems_;
};

std::string NumberedLines(const std::string& stem, int count)
{
    std::string text;
    for (int i = 1; i <= count; ++i)
        text += stem + std::to_string(i) + "\n";
    return text;
}

}  // namespace

TEST_F(ReceivePath, AssemblesClustersIntoLinesAndWritesCompletedLinesOnce)
{
    Take("ABC");
    EXPECT_EQ(Lines().Line(0), "ABC");
    EXPECT_EQ(Capture(), "");
    Take("DEF");
    EXPECT_EQ(Lines().Line(0), "ABCDEF");
    Take("\r\n");
    ASSERT_EQ(Lines().LineCount(), 2);
    EXPECT_EQ(Lines().Line(1), "");
    EXPECT_EQ(path_->LineIndex(), 1);
    EXPECT_EQ(Capture(), "ABCDEF\r\n");
    EXPECT_EQ(opened_, std::vector<std::string>{"07-12-26.CAP"});
    EXPECT_TRUE(problems_.empty());
}

TEST_F(ReceivePath, EmptyLinesNulAndCrNeverReachDisplayOrFile)
{
    Take("x\r\n\n");
    Take(std::string("a\0b\rc\n", 6));
    EXPECT_EQ(Capture(), "x\r\n\r\nabc\r\n");
    EXPECT_EQ(Lines().Line(2), "abc");
    EXPECT_EQ(Lines().LineCount(), 4);
}

TEST_F(ReceivePath, BytesAboveAsciiAreKeptExactly)
{
    const std::string cyrillic = "\xCF\xD0\xC8\xC2\xC5\xD2 \xFF\x80\x98";
    Take(cyrillic + "\n");
    EXPECT_EQ(Capture(), cyrillic + "\r\n");
    EXPECT_EQ(Lines().Line(0), cyrillic);
}

TEST_F(ReceivePath, BackspaceAtTheHeadOfAClusterShortensTheLine)
{
    Take("HELLO");
    Take("\b");
    EXPECT_EQ(Lines().Line(0), "HELL");
    Take("\b \b");
    EXPECT_EQ(Lines().Line(0), "H ");
    Take("\b\b\b\b\b\b");
    EXPECT_EQ(Lines().Line(0), "");
    Take("a\bb");  // not at the head: only dropped
    EXPECT_EQ(Lines().Line(0), "ab");
}

TEST_F(ReceivePath, TrimsTwentyLinesPastTheLimitWhileTheFileKeepsAll)
{
    std::string block;
    for (int i = 1; i <= 6001; ++i)
        block += "line " + std::to_string(i) + "\r\n";
    Take(block);
    EXPECT_EQ(Lines().LineCount(), 6002);
    EXPECT_EQ(path_->LineIndex(), 6001);
    Take("next");
    EXPECT_EQ(Lines().LineCount(), 5982);
    EXPECT_EQ(path_->LineIndex(), 5981);
    EXPECT_EQ(Lines().Line(0), "line 21");
    EXPECT_EQ(Lines().Line(5981), "next");
    EXPECT_EQ(Capture(), block);
    Take("\n");
    EXPECT_EQ(Lines().LineCount(), 5983);  // one trim per cluster, only past the limit
}

TEST_F(ReceivePath, ALargeClusterCannotGrowTheDisplayPastTheLimit)
{
    std::string block;
    for (int i = 1; i <= 5000; ++i)
        block += "x" + std::to_string(i) + "\n";
    Take(block);
    Take(block);
    EXPECT_EQ(Lines().LineCount(), 10001);
    Take("y");
    EXPECT_LE(path_->LineIndex(), path_->LineLimit());
    EXPECT_EQ(path_->LineIndex(), Lines().LineCount() - 1);
    EXPECT_EQ(Lines().Line(path_->LineIndex()), "y");
    EXPECT_EQ(Lines().LineCount(), 10001 - 4000);  // whole blocks of 20
}

TEST_F(ReceivePath, DeferredLinesWaitForTheFlushAFullBatchOrTheClose)
{
    path_->SetDeferredFlush(true);
    Take("one\r\ntwo\r\n");
    EXPECT_EQ(Capture(), "");
    EXPECT_TRUE(path_->CapturePending());
    path_->FlushCapture();
    EXPECT_EQ(Capture(), "one\r\ntwo\r\n");
    EXPECT_FALSE(path_->CapturePending());

    // A burst does not wait whole.
    const std::string burst = NumberedLines(std::string(100, 'x'), int(TReceivePath::kDeferredFlushLimit / 100));
    Take(burst);
    EXPECT_FALSE(path_->CapturePending());
    EXPECT_GT(Capture().size(), TReceivePath::kDeferredFlushLimit);

    // A waiting line goes to its own day's file when the day ends, and the close writes the rest.
    Take("last\n");
    now_ = QDateTime(QDate(2026, 12, 8), QTime(0, 0, 1));
    Take("first\n");
    EXPECT_EQ(Capture().substr(Capture().size() - 6), "last\r\n");
    EXPECT_EQ(ReadFile("archive/2026/12/08-12-26.CAP"), "");
    path_.reset();
    EXPECT_EQ(ReadFile("archive/2026/12/08-12-26.CAP"), "first\r\n");
}

TEST_F(ReceivePath, FirstDataAfterMidnightGoesToTheNewYearsFile)
{
    now_ = QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59));
    Create();
    Take("before");
    now_ = QDateTime(QDate(2027, 1, 1), QTime(0, 0, 1));
    Take(" midnight\n");
    EXPECT_EQ(ReadFile("archive/2026/12/31-12-26.CAP"), "");
    EXPECT_EQ(ReadFile("archive/2027/01/01-01-27.CAP"), "before midnight\r\n");
    EXPECT_EQ(path_->CaptureYear(), 2027);
    EXPECT_EQ(path_->CaptureMonth(), 1);
    EXPECT_EQ(path_->CaptureDay(), 1);
    EXPECT_EQ(opened_.back(), "01-01-27.CAP");
}

TEST_F(ReceivePath, ARestartOnTheSameDayAppends)
{
    Take("first\n");
    path_.reset();
    Create();
    Take("second\n");
    EXPECT_EQ(Capture(), "first\r\nsecond\r\n");
}

TEST_F(ReceivePath, ADirectoryInTheWayOfTheCaptureFileIsRetriedAfterItIsGone)
{
    now_ = now_.addDays(1);
    ASSERT_TRUE(QDir().mkpath("archive/2026/12/08-12-26.CAP"));  // a directory where the file should be
    Take("a\n");
    Take("b\n");
    ASSERT_EQ(problems_.size(), 1u);
    EXPECT_NE(problems_[0].find("archive/2026/12/08-12-26.CAP"), std::string::npos) << problems_[0];
    EXPECT_NE(path_->CaptureDay(), 8);
    EXPECT_EQ(Lines().Line(1), "b") << "the display goes on";
    ASSERT_TRUE(QDir().rmdir("archive/2026/12/08-12-26.CAP"));
    Take("c\n");
    EXPECT_EQ(path_->CaptureDay(), 8);
    EXPECT_EQ(ReadFile("archive/2026/12/08-12-26.CAP"), "a\r\nb\r\nc\r\n");
    EXPECT_EQ(Capture(), "") << "nothing of the new day went to the old file";
}

TEST_F(ReceivePath, HeldTextIsReplayedWithItsOwnRules)
{
    Take("start ");
    path_->EnterCaptureView();
    EXPECT_TRUE(path_->CaptureViewMode());
    Take("AB");
    Take(std::string("C\r\nD\b\0", 6));
    EXPECT_EQ(Lines().Line(0), "start ");
    EXPECT_EQ(Lines().LineCount(), 1);
    EXPECT_EQ(Capture(), "start ABC\r\n") << "completed lines are written as they arrive";
    path_->LeaveCaptureView();
    EXPECT_FALSE(path_->CaptureViewMode());
    EXPECT_EQ(Lines().Line(0), "start ABC");
    EXPECT_EQ(Lines().Line(1), "D\b");  // a held backspace is kept
    EXPECT_EQ(path_->LineIndex(), 1);
    EXPECT_TRUE(path_->HeldText().empty());
    EXPECT_EQ(Lines().LineCount(), 2);
    EXPECT_EQ(Capture(), "start ABC\r\n");
}

TEST_F(ReceivePath, ReplayAndLiveDifferOnlyInBackspaces)
{
    Take("HELLO");
    Hold(std::string("\bA\b\0\r", 5));
    path_->LeaveCaptureView();
    EXPECT_EQ(Lines().Line(0), "HELLO\bA\b") << "held: kept, and no shortening at the head";
    Take(std::string("\bA\b\0\r", 5));
    // Live: the line loses as many bytes as the cluster has; the backspaces are dropped.
    EXPECT_EQ(Lines().Line(0), "HELA");
    Take("\n");
    EXPECT_EQ(Capture(), "HELA\r\n");
}

TEST_F(ReceivePath, ReplayKeepsTheDisplayUnderTheLimitAsItGoesLiveTrimsOncePerCluster)
{
    path_->SetLineLimit(40);
    int most = 0;
    path_->Lines().OnChanged = [&](int) { most = std::max(most, Lines().LineCount()); };
    Hold(NumberedLines("H", 100));
    path_->LeaveCaptureView();
    EXPECT_LE(most, 42);
    EXPECT_EQ(Lines().LineCount(), 41);
    EXPECT_EQ(Lines().Line(0), "H61");
    EXPECT_EQ(Lines().Line(39), "H100");

    most = 0;
    Take(NumberedLines("L", 100));
    EXPECT_EQ(most, 141) << "a live cluster is trimmed before, not while, it is assembled";
    Take("");
    EXPECT_EQ(Lines().LineCount(), 41);
    EXPECT_EQ(Lines().Line(0), "L61");

    const std::string capture = Capture();
    EXPECT_EQ(std::count(capture.begin(), capture.end(), '\n'), 200) << "the file keeps every line";
}

TEST_F(ReceivePath, ADaySwitchDuringTheCaptureViewWritesTheReplayToTheFileOpenAtReplay)
{
    Take("a\n");
    Hold("b\nc");
    now_ = now_.addDays(1);
    Hold("d\n");
    EXPECT_EQ(path_->CaptureDay(), 7);
    path_->LeaveCaptureView();
    EXPECT_EQ(Capture(), "a\r\nb\r\ncd\r\n");
    EXPECT_EQ(ReadFile("archive/2026/12/08-12-26.CAP"), "<missing>");
    Take("e\n");
    EXPECT_EQ(path_->CaptureDay(), 8);
    EXPECT_EQ(ReadFile("archive/2026/12/08-12-26.CAP"), "e\r\n");
    EXPECT_EQ(opened_.back(), "08-12-26.CAP");
}

// With nothing pending a flush succeeds even without a file: the problem stays reported.
TEST_F(ReceivePath, AFileThatCannotBeOpenedIsReportedOnceAlsoForPartialLines)
{
    now_ = now_.addDays(1);
    ASSERT_TRUE(QDir().mkpath("archive/2026/12/08-12-26.CAP"));
    for (const char* echo : {"D", "I", "S", " ", "1"})
        Take(echo);
    Take("2\n");
    EXPECT_EQ(problems_.size(), 1u);
    EXPECT_EQ(Lines().Line(0), "DIS 12");
}

// /dev/full plays a full disk: it opens, and every write fails with ENOSPC.
TEST_F(ReceivePath, LinesAFullBacklogDropsAreCountedAndReportedOnceAndLeaveNoMarkInTheFile)
{
    if (!QFileInfo::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    std::vector<std::pair<uint64_t, uint64_t>> lost;
    path_->OnCaptureLost = [&](uint64_t dropped, uint64_t total) { lost.emplace_back(dropped, total); };
    now_ = now_.addDays(1);
    ASSERT_TRUE(QFile::link("/dev/full", "archive/2026/12/08-12-26.CAP"));
    int number = 0;
    std::string sent;
    const auto cluster = [&] {
        std::string text;
        for (int i = 0; i < 1000; ++i) {
            std::string line = "line " + std::to_string(++number) + " ";
            line.resize(1000, '.');
            text += line + "\n";
            sent += line + "\r\n";
        }
        return text;
    };
    while (lost.empty())
        Take(cluster());
    ASSERT_EQ(problems_.size(), 2u);
    EXPECT_NE(problems_[0].find("No space left on device"), std::string::npos) << problems_[0];
    EXPECT_NE(problems_[1].find(std::to_string(lost[0].first) + " bytes"), std::string::npos) << problems_[1];
    EXPECT_EQ(lost[0].first, lost[0].second);
    EXPECT_GE(lost[0].first, TCaptureFile::kBacklogLimit / 5);

    for (int i = 0; i < 8; ++i)
        Take(cluster());
    EXPECT_EQ(problems_.size(), 2u) << "one box for the loss while the file stays full";
    ASSERT_GT(lost.size(), 1u);
    uint64_t sum = 0;
    for (const auto& [dropped, total] : lost) {
        sum += dropped;
        EXPECT_EQ(total, sum);
    }
    EXPECT_EQ(sum, path_->CaptureFile().DroppedBytes());

    // The next day's file takes what the backlog kept: the newest lines, whole, and nothing else.
    now_ = now_.addDays(1);
    Take("last\n");
    sent += "last\r\n";
    const std::string file = ReadFile("archive/2026/12/09-12-26.CAP");
    EXPECT_EQ(file.size() + sum, sent.size());
    EXPECT_EQ(file, sent.substr(sent.size() - file.size()));
    EXPECT_EQ(file.rfind("line ", 0), 0u);
}

TEST_F(ReceivePath, HeldLinesReachTheFileAsTheyArriveAndTheReplayOnlyFillsTheDisplay)
{
    Take("start ");
    Hold(std::string("a\0b\r\bc\nd", 9));
    EXPECT_EQ(Capture(), "start ab\bc\r\n");
    Hold("e\nf");
    EXPECT_EQ(Capture(), "start ab\bc\r\nde\r\n");
    EXPECT_EQ(Lines().LineCount(), 1);
    path_->LeaveCaptureView();
    EXPECT_EQ(Capture(), "start ab\bc\r\nde\r\n") << "the replay writes nothing again";
    ASSERT_EQ(Lines().LineCount(), 3);
    EXPECT_EQ(Lines().Line(0), "start ab\bc");
    EXPECT_EQ(Lines().Line(1), "de");
    EXPECT_EQ(Lines().Line(2), "f");
    Take("g\n");
    EXPECT_EQ(Capture(), "start ab\bc\r\nde\r\nfg\r\n");

    // A program that ends in the capture view has the held lines in its file.
    Hold("one\ntwo\nthr");
    path_.reset();
    EXPECT_EQ(Capture(), "start ab\bc\r\nde\r\nfg\r\none\r\ntwo\r\n");
}

namespace {

// The receive path's rules written out plainly: the file, and the display's open line.
struct ReferencePath {
    std::string line, file, held;
    bool frozen = false;

    void Take(std::string_view text)
    {
        if (frozen) {
            held += text;
            return;
        }
        if (!text.empty() && text[0] == '\b')
            line.resize(line.size() - std::min(line.size(), text.size()));
        for (char c : text)
            Put(c, c == '\b');
    }
    void Leave()
    {
        frozen = false;
        for (char c : held)
            Put(c, false);
        held.clear();
    }
    void Put(char c, bool drop)
    {
        if (c == '\n') {
            file += line + "\r\n";
            line.clear();
        } else if (c != '\0' && c != '\r' && !drop) {
            line += c;
        }
    }
};

}  // namespace

TEST_F(ReceivePath, TheFileGetsTheSameBytesInTheSameOrderAsIfTheHeldTextWereWrittenAtReplay)
{
    path_->SetLineLimit(40);
    ReferencePath reference;
    std::mt19937 random(14);
    const std::string alphabet = std::string("abc\0\r\n\n\b", 8);
    for (int step = 0; step < 3000; ++step) {
        if (random() % 10 == 0) {
            if (reference.frozen) {
                path_->LeaveCaptureView();
                reference.Leave();
            } else {
                path_->EnterCaptureView();
                reference.frozen = true;
            }
        } else {
            std::string cluster(random() % 12, '\0');
            for (char& c : cluster)
                c = alphabet[random() % alphabet.size()];
            if (!cluster.empty() && random() % 4 == 0)
                cluster[0] = '\b';
            Take(cluster);
            reference.Take(cluster);
        }
        ReferencePath replayed = reference;
        replayed.Leave();
        ASSERT_EQ(Capture(), replayed.file) << "step " << step;
        if (!reference.frozen) {
            ASSERT_EQ(Lines().Line(path_->LineIndex()), reference.line) << "step " << step;
        }
    }
}

TEST_F(ReceivePath, WhatIsHeldForTheDisplayIsBoundedWhileTheFileGetsEveryLine)
{
    const auto line = [](int number) {
        std::string text = "line " + std::to_string(number) + " ";
        text.resize(4094, '.');
        return text;
    };
    Take("open ");
    path_->EnterCaptureView();
    int number = 0;
    uint64_t written = 0;
    while (written < TReceivePath::kHeldLimit + (8u << 20)) {
        std::string cluster;
        for (int i = 0; i < 256; ++i)
            cluster += line(++number) + "\n";
        Take(cluster);
        written += cluster.size() + 256;
        ASSERT_LE(path_->HeldText().size(), TReceivePath::kHeldLimit) << "after line " << number;
    }
    Take("still open");

    const std::string file = Capture();
    ASSERT_EQ(file.size(), 5 + written);
    EXPECT_EQ(file.substr(0, 5 + 4094 + 2), "open " + line(1) + "\r\n");
    EXPECT_EQ(file.substr(file.size() - 4096), line(number) + "\r\n");

    path_->LeaveCaptureView();
    EXPECT_EQ(Capture().size(), file.size());
    EXPECT_LT(path_->HeldText().capacity(), 64u) << "the held text's memory is released";
    // The display shows the newest lines as a full replay would.
    const int last = path_->LineIndex();
    EXPECT_EQ(Lines().Line(last), "still open");
    EXPECT_LE(last, path_->LineLimit());
    for (int back = 1; back <= last; ++back)
        ASSERT_EQ(Lines().Line(last - back), line(number + 1 - back)) << back;
}

TEST_F(ReceivePath, CompletedLinesAreToldByTheirNumberLiveAndReplayedAndTrimsByTheFirstNumberLeft)
{
    path_->SetLineLimit(40);
    std::vector<std::pair<int64_t, std::string>> completed;
    int64_t trimmedTo = -1;
    path_->OnLineCompleted = [&](int64_t number, std::string_view line) { completed.emplace_back(number, line); };
    path_->OnTrimmed = [&](int64_t first) { trimmedTo = first; };

    Take("L1\nL2");
    ASSERT_EQ(completed.size(), 1u) << "the open line is not complete";
    EXPECT_EQ(completed[0], (std::pair<int64_t, std::string>{0, "L1"}));
    Hold("-END\nH1\n");
    EXPECT_EQ(completed.size(), 1u) << "held lines are told when they reach the display";
    path_->LeaveCaptureView();
    ASSERT_EQ(completed.size(), 3u);
    EXPECT_EQ(completed[1], (std::pair<int64_t, std::string>{1, "L2-END"}));
    EXPECT_EQ(completed[2], (std::pair<int64_t, std::string>{2, "H1"}));

    Take(NumberedLines("N", 100));
    Take("");
    EXPECT_EQ(trimmedTo, Lines().FirstNumber());
    EXPECT_EQ(Lines().FirstNumber(), 80);
    // Each number names the same line through the trims.
    for (const auto& [number, line] : completed) {
        if (number >= Lines().FirstNumber()) {
            EXPECT_EQ(Lines().Line(int(number - Lines().FirstNumber())), line) << number;
        }
    }
    EXPECT_EQ(completed.back(), (std::pair<int64_t, std::string>{102, "N100"}));
}

namespace {

// Each line of the day's capture file with its receive time, and the number of records.
std::pair<std::vector<std::pair<std::string, std::optional<uint32_t>>>, size_t> TimedLines(const QDate& date)
{
    TArchiveDay day;
    std::vector<std::pair<std::string, std::optional<uint32_t>>> lines;
    if (!day.Load("archive", date))
        return {};
    day.ForEachLine([&](const TArchiveLine& line) {
        if (line.Offset < day.Bytes().size())
            lines.emplace_back(std::string(line.Bytes), line.Milliseconds);
    });
    return {lines, day.Times().Size()};
}

}  // namespace

TEST_F(ReceivePath, EachLineHasTheTimeItsLastByteArrivedAcrossTheCaptureViewAndTheDaySwitch)
{
    using Lines = std::vector<std::pair<std::string, std::optional<uint32_t>>>;
    constexpr uint32_t ten = 10 * 3600000;
    Take("a\nb");
    now_ = now_.addMSecs(1500);
    Take("c\nd");
    now_ = now_.addMSecs(500);
    Hold("e\nheld\n");
    now_ = now_.addSecs(300);
    Hold("f");
    path_->LeaveCaptureView();  // the replay writes nothing and keeps the times
    Take("g\n");
    EXPECT_EQ(TimedLines(QDate(2026, 12, 7)),
              std::make_pair(
                  Lines{{"a", ten}, {"bc", ten + 1500}, {"de", ten + 2000}, {"held", ten + 2000}, {"fg", ten + 302000}},
                  size_t(5)));

    // Held over midnight: the line goes to the file open before, without a time.
    Hold("h");
    now_ = QDateTime(QDate(2026, 12, 8), QTime(0, 0, 3));
    Hold("i\n");
    path_->LeaveCaptureView();
    now_ = now_.addSecs(1);
    Take("j\n");
    EXPECT_EQ(TimedLines(QDate(2026, 12, 7)).first.back(),
              std::make_pair(std::string("hi"), std::optional<uint32_t>()));
    EXPECT_EQ(TimedLines(QDate(2026, 12, 7)).second, 5u);
    EXPECT_EQ(TimedLines(QDate(2026, 12, 8)), std::make_pair(Lines{{"j", 4000u}}, size_t(1)));
}
