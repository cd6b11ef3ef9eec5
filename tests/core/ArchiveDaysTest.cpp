#include "core/ArchiveDays.h"
#include "core/CaptureNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

void Write(const QString& path, const std::string& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes.data(), qint64(bytes.size()));
}

}  // namespace

TEST(ArchiveDays, DaysInOrderAcrossMonthsAndYearsAndOnlyFilesWhoseNamesAgree)
{
    QTemporaryDir dir;
    const QString root = dir.filePath("archive");
    for (const char* path :
         {"2026/12/31-12-26.CAP", "2027/01/02-01-27.CAP", "2026/02/28-02-26.CAP", "2026/12/07-12-26.CAP"})
        Write(root + "/" + path, "x\r\n");
    for (const char* path : {"2026/12/08-12-26.TIM", "2026/12/09-11-26.CAP", "2026/13/01-13-26.CAP",
                             "2026/12/32-12-26.CAP", "2026/12/07-12-27.CAP", "26/12/07-12-26.CAP"})
        Write(root + "/" + path, "x\r\n");
    const std::vector<QDate> days = CaptureDays(root.toStdString());
    ASSERT_EQ(days,
              (std::vector<QDate>{QDate(2026, 2, 28), QDate(2026, 12, 7), QDate(2026, 12, 31), QDate(2027, 1, 2)}));
    EXPECT_EQ(NeighbourDay(days, QDate(2026, 12, 31), +1), QDate(2027, 1, 2));
    EXPECT_EQ(NeighbourDay(days, QDate(2026, 12, 31), -1), QDate(2026, 12, 7));
    EXPECT_EQ(NeighbourDay(days, QDate(2026, 6, 15), -1), QDate(2026, 2, 28)) << "over a gap of months";
    EXPECT_EQ(NeighbourDay(days, QDate(2026, 6, 15), +1), QDate(2026, 12, 7));
    EXPECT_FALSE(NeighbourDay(days, QDate(2026, 2, 28), -1));
    EXPECT_FALSE(NeighbourDay(days, QDate(2027, 1, 2), +1));
    EXPECT_TRUE(CaptureDays(dir.filePath("none").toStdString()).empty());
}

TEST(ArchiveDays, LinesWithTheirTimesAndAnOpenLastLine)
{
    QTemporaryDir dir;
    const std::string root = dir.filePath("archive").toStdString();
    Write(dir.filePath("archive/2026/12/07-12-26.CAP"), "first\r\n\r\nthird\r\nopen");
    Write(dir.filePath("archive/2026/12/07-12-26.TIM"),
          EncodeTimeRecord({0, 1000}) + EncodeTimeRecord({9, 3600000}));  // no record for the empty line
    TArchiveDay day;
    ASSERT_TRUE(day.Load(root, QDate(2026, 12, 7)));
    std::vector<std::string> lines;
    std::vector<std::optional<uint32_t>> times;
    day.ForEachLine([&](const TArchiveLine& line) {
        lines.emplace_back(line.Bytes);
        times.push_back(line.Milliseconds);
    });
    EXPECT_EQ(lines, (std::vector<std::string>{"first", "", "third", "open"}));
    EXPECT_EQ(times, (std::vector<std::optional<uint32_t>>{1000u, std::nullopt, 3600000u, std::nullopt}));
    EXPECT_EQ(day.LineAt(11).Bytes, "third");
    EXPECT_FALSE(day.Load(root, QDate(2026, 12, 8)));
    EXPECT_EQ(TimeText(3600000 + 61 * 1000 + 7), "01:01:01.007");
}
