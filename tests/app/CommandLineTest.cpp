#include "app/CommandLine.h"

#include <gtest/gtest.h>

namespace {

TCommandLine Parse(QStringList args)
{
    args.prepend(QStringLiteral("morvel-pbx"));
    return ParseCommandLine(args);
}

}  // namespace

TEST(CommandLine, PortsSpeedAndDataFolder)
{
    const TCommandLine line = Parse({"--port", "/tmp/pbx", "--port=ttyUSB1", "--speed", "19200", "--data-folder", "d"});
    EXPECT_EQ(line.Error, "");
    EXPECT_EQ(line.Ports, (std::vector<std::string>{"/tmp/pbx", "ttyUSB1"}));
    EXPECT_EQ(line.Speed, 19200u);
    EXPECT_EQ(line.DataFolder, "d");
    EXPECT_FALSE(line.Help || line.Version);

    const TCommandLine none = Parse({});
    EXPECT_EQ(none.Error, "");
    EXPECT_TRUE(none.Ports.empty());
    EXPECT_FALSE(none.Speed);
    EXPECT_EQ(none.DataFolder, "");
    EXPECT_TRUE(Parse({"--user-data"}).DataFolder.ends_with("/morvel-pbx"));
    EXPECT_TRUE(Parse({"--help"}).Help);
    EXPECT_TRUE(Parse({"--version"}).Version);
}

TEST(CommandLine, BadOptionsAndValuesSayWhatIsWrong)
{
    for (const QStringList& args :
         {QStringList{"--speed", "57600"}, QStringList{"--speed", "fast"}, QStringList{"--speed"},
          QStringList{"--port"}, QStringList{"--port="}, QStringList{"--bogus"}, QStringList{"stray"},
          QStringList{"--data-folder", "a", "--user-data"}}) {
        const TCommandLine line = Parse(args);
        EXPECT_NE(line.Error, "") << args.join(' ').toStdString();
    }
    EXPECT_NE(Parse({"--speed", "57600"}).Error.find("57600"), std::string::npos);
    EXPECT_NE(Parse({"--bogus"}).Error.find("bogus"), std::string::npos);
}

TEST(CommandLine, TheHelpHasALineForEveryOption)
{
    const QString help = CommandLineHelp();
    for (const char* option : {"--port", "--speed", "--data-folder", "--user-data", "--version", "--help", "--search",
                               "--from", "--to", "--regex", "--match-case", "--export", "--utf8"})
        EXPECT_TRUE(help.contains(QString::fromLatin1(option))) << option;
}

TEST(CommandLine, ArchiveSearchAndExportWithTheirOwnOptions)
{
    const TCommandLine search =
        Parse({"--search", "trunk 7", "--from", "2026-12-01", "--to", "2026-12-07", "--regex", "--match-case"});
    ASSERT_EQ(search.Error, "");
    ASSERT_TRUE(search.Archive);
    EXPECT_EQ(search.Archive->Kind, TArchiveCommand::TKind::Search);
    EXPECT_EQ(search.Archive->Query.Pattern, "trunk 7");
    EXPECT_EQ(search.Archive->Query.From, QDate(2026, 12, 1));
    EXPECT_EQ(search.Archive->Query.To, QDate(2026, 12, 7));
    EXPECT_TRUE(search.Archive->Query.Regex && search.Archive->Query.MatchCase);

    const TCommandLine exporting =
        Parse({"--data-folder", "d", "--export", "2026-12-07 14:00", "2026-12-07 15:30", "out.txt", "--utf8"});
    ASSERT_EQ(exporting.Error, "");
    ASSERT_TRUE(exporting.Archive);
    EXPECT_EQ(exporting.Archive->Kind, TArchiveCommand::TKind::Export);
    EXPECT_EQ(exporting.Archive->From, QDateTime(QDate(2026, 12, 7), QTime(14, 0)));
    EXPECT_EQ(exporting.Archive->To, QDateTime(QDate(2026, 12, 7), QTime(15, 30)));
    EXPECT_EQ(exporting.Archive->File, "out.txt");
    EXPECT_TRUE(exporting.Archive->Utf8);
    EXPECT_EQ(exporting.DataFolder, "d");
    EXPECT_FALSE(Parse({"--port", "p"}).Archive);

    for (const QStringList& args :
         {QStringList{"--search", "x", "--export", "2026-12-07 14:00", "2026-12-07 15:00", "f"},
          QStringList{"--from", "2026-12-01"}, QStringList{"--regex"}, QStringList{"--utf8"},
          QStringList{"--search", "x", "--from", "1.12.2026"}, QStringList{"--search", "x", "stray"},
          QStringList{"--export", "2026-12-07 14:00", "2026-12-07 15:00"},
          QStringList{"--export", "2026-12-07", "2026-12-07 15:00", "f"},
          QStringList{"--export", "2026-12-07 14:00", "2026-12-07 15:00", "f", "g"}}) {
        const TCommandLine line = Parse(args);
        EXPECT_NE(line.Error, "") << args.join(' ').toStdString();
    }
}
