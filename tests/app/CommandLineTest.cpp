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
    for (const char* option : {"--port", "--speed", "--data-folder", "--user-data", "--version", "--help"})
        EXPECT_TRUE(help.contains(QString::fromLatin1(option))) << option;
}
