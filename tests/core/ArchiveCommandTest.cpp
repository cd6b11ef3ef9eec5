#include "core/ArchiveCommand.h"
#include "core/CaptureNames.h"
#include "support/CodePage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sstream>

namespace {

class ArchiveCommand : public ::testing::Test {
protected:
    void SetUp() override
    {
        Day(QDate(2026, 12, 6), "Trunk 7 down\r\nok\r\n", "");
        Day(QDate(2026, 12, 7), "ALARM trunk 7\r\n" + CodePage::ToBytes(QStringLiteral("Авария ТРАНК 7")) + "\r\n",
            EncodeTimeRecord({0, 14 * 3600000 + 3 * 60000 + 7250}));
    }
    void Day(const QDate& date, const std::string& capture, const std::string& times)
    {
        const auto y = unsigned(date.year()), m = unsigned(date.month()), d = unsigned(date.day());
        const QString folder = dir_.filePath(QString::fromStdString(CaptureDirectory(y, m)));
        QDir().mkpath(folder);
        for (const auto& [name, bytes] : {std::pair{CaptureName(y, m, d), capture}, {TimeIndexName(y, m, d), times}}) {
            QFile file(folder + QString::fromStdString(name));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(bytes.data(), qint64(bytes.size()));
        }
    }
    int Search(const QString& pattern, bool regex = false, bool matchCase = false, QDate from = {}, QDate to = {})
    {
        TArchiveCommand command;
        command.Query = {from, to, pattern, regex, matchCase};
        return Run(command);
    }
    int Run(const TArchiveCommand& command, std::string folder = "")
    {
        out_.str("");
        err_.str("");
        return RunArchiveCommand(command, folder.empty() ? dir_.path().toStdString() : folder, out_, err_);
    }

    QTemporaryDir dir_;
    std::ostringstream out_, err_;
};

}  // namespace

TEST_F(ArchiveCommand, SearchPrintsDayTimeAndUtf8LineAndEndsLikeGrep)
{
    EXPECT_EQ(Search("trunk 7"), 0);
    EXPECT_EQ(out_.str(), "2026-12-06\t\tTrunk 7 down\n2026-12-07\t14:03:07.250\tALARM trunk 7\n");
    EXPECT_EQ(Search(QStringLiteral("транк"), true), 0) << err_.str();
    EXPECT_EQ(out_.str(), "2026-12-07\t\t" + QStringLiteral("Авария ТРАНК 7").toUtf8().toStdString() + "\n");
    EXPECT_EQ(Search("trunk 7", false, true, QDate(2026, 12, 6), QDate(2026, 12, 6)), 1);
    EXPECT_EQ(out_.str(), "");
    EXPECT_EQ(err_.str(), "");

    EXPECT_EQ(Search("(", true), 2);
    EXPECT_NE(err_.str().find("regular expression"), std::string::npos) << err_.str();
    EXPECT_EQ(Search(""), 2);
    EXPECT_EQ(Search("x", false, false, QDate(2026, 12, 8), QDate(2026, 12, 7)), 2);
    TArchiveCommand command;
    command.Query.Pattern = "ok";
    EXPECT_EQ(Run(command, dir_.filePath("elsewhere").toStdString()), 2) << "no archive there";
    EXPECT_NE(err_.str().find("elsewhere"), std::string::npos) << err_.str();
}

TEST_F(ArchiveCommand, ExportCountsToTheEndOfTheLastMinuteAndReportsAFileItCannotWrite)
{
    TArchiveCommand command;
    command.Kind = TArchiveCommand::TKind::Export;
    command.From = QDateTime(QDate(2026, 12, 7), QTime(14, 0));
    command.To = QDateTime(QDate(2026, 12, 7), QTime(14, 3));
    command.File = dir_.filePath("out.txt").toStdString();
    command.Utf8 = true;
    EXPECT_EQ(Run(command), 0) << err_.str();
    QFile file(QString::fromStdString(command.File));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().toStdString(), "2026-12-07\t14:03:07.250\tALARM trunk 7\n");

    command.File = dir_.filePath("no/such/folder/out.txt").toStdString();
    EXPECT_EQ(Run(command), 2);
    EXPECT_NE(err_.str().find("no/such/folder"), std::string::npos) << err_.str();
    command.File = dir_.filePath("out.txt").toStdString();
    command.To = QDateTime(QDate(2026, 12, 6), QTime(14, 3));
    EXPECT_EQ(Run(command), 2);
}

TEST(ArchiveCommandTimes, DaysAndMinutesOnlyInTheirOwnForm)
{
    EXPECT_EQ(ParseArchiveDay("2026-12-07"), QDate(2026, 12, 7));
    EXPECT_EQ(ParseArchiveMinute("2026-12-07 14:30"), QDateTime(QDate(2026, 12, 7), QTime(14, 30)));
    for (const char* bad : {"2026-2-07", "2026-02-30", "07-12-2026", "2026-12-07 ", ""})
        EXPECT_FALSE(ParseArchiveDay(bad).isValid()) << bad;
    for (const char* bad :
         {"2026-12-07", "2026-12-07 24:00", "2026-12-07 9:30", "2026-12-07T14:30", "2026-12-07 14:60"})
        EXPECT_FALSE(ParseArchiveMinute(bad).isValid()) << bad;
}
