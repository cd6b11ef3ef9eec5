#include "core/ArchiveExport.h"
#include "core/CaptureNames.h"
#include "support/CodePage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <stdexcept>

namespace {

constexpr uint32_t H = 3600000, M = 60000, S = 1000;

class ArchiveExport : public ::testing::Test {
protected:
    // A day's capture file from lines (each ended by CR LF unless open is set
    // for the last) and its time index from the times given, none for a nullopt.
    void Day(const QDate& date, const std::vector<std::pair<std::string, std::optional<uint32_t>>>& lines,
             bool lastOpen = false)
    {
        std::string cap, tim;
        for (size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].second)
                tim += EncodeTimeRecord({cap.size(), *lines[i].second});
            cap += lines[i].first;
            if (!(lastOpen && i + 1 == lines.size()))
                cap += "\r\n";
        }
        const auto y = unsigned(date.year()), m = unsigned(date.month()), d = unsigned(date.day());
        const QString folder = dir_.filePath(QString::fromStdString(CaptureDirectory(y, m)));
        Write(folder + QString::fromStdString(CaptureName(y, m, d)), cap);
        if (!tim.empty())
            Write(folder + QString::fromStdString(TimeIndexName(y, m, d)), tim);
    }
    static void Write(const QString& path, const std::string& bytes)
    {
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes.data(), qint64(bytes.size()));
    }
    std::string Export(const QDateTime& from, const QDateTime& to, bool utf8 = false)
    {
        const std::string out = dir_.filePath("out.txt").toStdString();
        QFile::remove(QString::fromStdString(out));
        ExportArchive(root(), {from, to, utf8}, out);
        QFile file(QString::fromStdString(out));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return file.readAll().toStdString();
    }
    std::string root() const { return dir_.filePath("archive").toStdString(); }
    static QDateTime At(int y, int m, int d, int hh, int mm) { return {QDate(y, m, d), QTime(hh, mm)}; }

    QTemporaryDir dir_;
};

}  // namespace

TEST_F(ArchiveExport, TimedLinesAcrossMidnightAndTheYearEndWithTheStartInAndTheEndOut)
{
    Day(QDate(2026, 12, 31), {{"a", 23 * H}, {"b", 23 * H + 59 * M}, {"c", 23 * H + 59 * M + 59 * S + 999}});
    Day(QDate(2027, 1, 1), {{"d", 0}, {"e", 1 * M - 1}, {"f", 1 * M}});
    EXPECT_EQ(Export(At(2026, 12, 31, 23, 59), At(2027, 1, 1, 0, 1)), "b\r\nc\r\nd\r\ne\r\n");
    EXPECT_EQ(Export(At(2026, 12, 31, 0, 0), At(2027, 1, 1, 0, 0)), "a\r\nb\r\nc\r\n");
    EXPECT_EQ(Export(At(2027, 1, 1, 0, 0), At(2027, 1, 2, 0, 0)), "d\r\ne\r\nf\r\n");
    EXPECT_EQ(Export(At(2027, 1, 1, 0, 2), At(2027, 1, 3, 0, 0)), "");
}

TEST_F(ArchiveExport, DaysWithoutTimesCountWholeOnlyInsideTheSpan)
{
    Day(QDate(2026, 12, 6), {{"old 1", std::nullopt}, {"old 2", std::nullopt}});
    Day(QDate(2026, 12, 7), {{"new", 9 * H}});
    EXPECT_EQ(Export(At(2026, 12, 6, 0, 0), At(2026, 12, 8, 0, 0)), "old 1\r\nold 2\r\nnew\r\n");
    EXPECT_EQ(Export(At(2026, 12, 6, 0, 1), At(2026, 12, 8, 0, 0)), "new\r\n") << "the day starts before the span";
    EXPECT_EQ(Export(At(2026, 12, 5, 0, 0), At(2026, 12, 6, 23, 59)), "") << "the day ends after the span";
    EXPECT_EQ(Export(At(2026, 12, 5, 12, 0), At(2026, 12, 7, 0, 0), true),
              "2026-12-06\t\told 1\n2026-12-06\t\told 2\n");
}

TEST_F(ArchiveExport, ALineWithoutItsRecordIsBoundedByTheTimesAroundIt)
{
    // The first line predates the time index; the third lost its record.
    Day(QDate(2026, 12, 7),
        {{"early", std::nullopt}, {"ten", 10 * H}, {"lost", std::nullopt}, {"five past", 10 * H + 5 * M}});
    EXPECT_EQ(Export(At(2026, 12, 7, 10, 0), At(2026, 12, 7, 10, 6)), "ten\r\nlost\r\nfive past\r\n");
    EXPECT_EQ(Export(At(2026, 12, 7, 10, 1), At(2026, 12, 7, 10, 6)), "five past\r\n");
    EXPECT_EQ(Export(At(2026, 12, 7, 10, 0), At(2026, 12, 7, 10, 5)), "ten\r\n");
    EXPECT_EQ(Export(At(2026, 12, 7, 0, 0), At(2026, 12, 7, 10, 0)), "") << "it may have come at 10:00";
    EXPECT_EQ(Export(At(2026, 12, 7, 0, 0), At(2026, 12, 7, 10, 1)), "early\r\nten\r\n");
}

TEST_F(ArchiveExport, BytesAsCapturedAndUtf8TextWithTheTimeColumn)
{
    const std::string cyrillic = CodePage::ToBytes(QStringLiteral("Авария линии"));
    Day(QDate(2026, 12, 7),
        {{cyrillic, 14 * H + 3 * M + 7 * S + 250}, {std::string("x\ry\xff\x01", 5), 14 * H + 4 * M}});
    EXPECT_EQ(Export(At(2026, 12, 7, 14, 0), At(2026, 12, 7, 15, 0)),
              cyrillic + "\r\n" + std::string("x\ry\xff\x01\r\n", 7));
    EXPECT_EQ(Export(At(2026, 12, 7, 14, 0), At(2026, 12, 7, 14, 4), true),
              "2026-12-07\t14:03:07.250\t" + QStringLiteral("Авария линии").toUtf8().toStdString() + "\n");
}

TEST_F(ArchiveExport, AFileBeingWrittenIsExportedAsFarAsItsWholeLinesAndADamagedIndexStopsNothing)
{
    Day(QDate(2026, 12, 7), {{"done", 8 * H}, {"half writ", 8 * H + 1}}, true);
    EXPECT_EQ(Export(At(2026, 12, 7, 0, 0), At(2026, 12, 8, 0, 0)), "done\r\n");
    // An index cut short and with a record out of order.
    Day(QDate(2026, 12, 8), {{"one", std::nullopt}, {"two", std::nullopt}});
    Write(dir_.filePath("archive/2026/12/08-12-26.TIM"),
          EncodeTimeRecord({5, 9 * H}) + EncodeTimeRecord({0, 8 * H}) + std::string("\x01\x02\x03", 3));
    EXPECT_EQ(Export(At(2026, 12, 8, 9, 0), At(2026, 12, 8, 9, 1)), "two\r\n");
    EXPECT_EQ(Export(At(2026, 12, 8, 0, 0), At(2026, 12, 9, 0, 0), true),
              "2026-12-08\t\tone\n2026-12-08\t09:00:00.000\ttwo\n");
}

TEST_F(ArchiveExport, AStoppedOrFailedExportLeavesTheOldFileAndABadSpanIsRefused)
{
    Day(QDate(2026, 12, 7), {{"line", 8 * H}});
    const std::string out = dir_.filePath("kept.txt").toStdString();
    Write(QString::fromStdString(out), "old");
    std::atomic<bool> stop{true};
    const TExportResult result =
        ExportArchive(root(), {At(2026, 12, 7, 0, 0), At(2026, 12, 8, 0, 0), false}, out, &stop);
    EXPECT_TRUE(result.Stopped);
    QFile kept(QString::fromStdString(out));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), "old");

    EXPECT_THROW(ExportArchive(root(), {At(2026, 12, 7, 0, 0), At(2026, 12, 8, 0, 0), false},
                               dir_.filePath("no/such/dir/out").toStdString()),
                 std::runtime_error);
    EXPECT_FALSE(CheckExportRequest({At(2026, 12, 8, 0, 0), At(2026, 12, 7, 0, 0), false}).empty());
    EXPECT_FALSE(CheckExportRequest({At(2026, 12, 7, 0, 0), At(2026, 12, 7, 0, 0), false}).empty());
    EXPECT_TRUE(CheckExportRequest({At(2026, 12, 7, 0, 0), At(2026, 12, 7, 0, 1), false}).empty());

    const TExportResult counted = ExportArchive(root(), {At(2026, 12, 7, 0, 0), At(2026, 12, 8, 0, 0), false}, out);
    EXPECT_EQ(counted.Lines, 1u);
    EXPECT_EQ(counted.Bytes, 6u);
}
