#include "core/NetworkSettings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <stdexcept>
#include <sys/stat.h>

TEST(NetworkSettingsFile, ShortAndDamagedFilesReadMissingValuesAsEmpty)
{
    const std::string full = ScramblePassword("F");
    const std::string view = ScramblePassword("V");
    const std::string set = ScramblePassword("S");

    TNetworkSettings onlyFirst = DecodeNetworkSettings("1\r\n");
    EXPECT_TRUE(onlyFirst.RemoteEnabled);
    EXPECT_EQ(onlyFirst.FullAccessPassword, "");
    EXPECT_EQ(onlyFirst.SettingsPassword, "");
    EXPECT_EQ(onlyFirst.ListenAddress, "");
    EXPECT_FALSE(onlyFirst.NmsEnabled);
    EXPECT_EQ(onlyFirst.NmsPort, "");

    TNetworkSettings emptyMiddle = DecodeNetworkSettings("0\r\n" + full + "^^" + set + "\r\n");
    EXPECT_EQ(emptyMiddle.FullAccessPassword, "F");
    EXPECT_EQ(emptyMiddle.ViewerPassword, "");
    EXPECT_EQ(emptyMiddle.SettingsPassword, "S");

    TNetworkSettings noDelimiter = DecodeNetworkSettings("0\r\n" + full + "\r\n");
    EXPECT_EQ(noDelimiter.FullAccessPassword, "F");
    EXPECT_EQ(noDelimiter.ViewerPassword, "");
    EXPECT_EQ(noDelimiter.SettingsPassword, "");

    // Only "1" enables; the last line needs no line end; bare LF ends lines too.
    TNetworkSettings loose =
        DecodeNetworkSettings(" 1\r\n" + full + "^" + view + "^" + set + "\nA\r\nP\r\n1\r\nH\r\n7");
    EXPECT_FALSE(loose.RemoteEnabled);
    EXPECT_EQ(loose.ViewerPassword, "V");
    EXPECT_EQ(loose.ListenAddress, "A");
    EXPECT_TRUE(loose.NmsEnabled);
    EXPECT_EQ(loose.NmsPort, "7");
}

TEST(NetworkSettingsFile, WritesSevenLinesAndKeepsTypedTextsOnTheirLines)
{
    TNetworkSettings s;
    s.NmsEnabled = true;
    s.ListenAddress = "10.0.0.1\r\n1";
    s.FullAccessPassword = "ab";
    uint8_t next = 0;
    const std::string bytes = EncodeNetworkSettings(s, [&next] { return next++; });
    // "a" ^ key[1] ^ 0 = 0x61 ^ 0x91, "b" ^ key[2] ^ 1 = 0x62 ^ 0x0B ^ 1.
    EXPECT_EQ(bytes, "0\r\nF068"
                     "0001^^\r\n10.0.0.11\r\n\r\n1\r\n\r\n\r\n");
}

TEST(NetworkSettingsFile, MissingOrEmptyFilesLeaveTheSettingsAsTheyWere)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("Setings.str").toStdString();
    TNetworkSettings settings;
    settings.NmsHost = "10.1.1.1";
    EXPECT_FALSE(LoadNetworkSettings(path, settings));
    QFile empty(QString::fromStdString(path));
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.close();
    EXPECT_FALSE(LoadNetworkSettings(path, settings));
    EXPECT_EQ(settings.NmsHost, "10.1.1.1");

    ASSERT_TRUE(QFile::remove(QString::fromStdString(path)));
    ASSERT_TRUE(QDir(dir.path()).mkdir("Setings.str"));
    try {
        LoadNetworkSettings(path, settings);
        FAIL() << "read a directory";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
    EXPECT_EQ(settings.NmsHost, "10.1.1.1");
}

TEST(NetworkSettingsFile, ASavedFileIsTheOwnersOnlyAndReadsBack)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("Setings.str").toStdString();
    TNetworkSettings s;
    s.RemoteEnabled = true;
    s.FullAccessPassword = std::string(kMaxPasswordLength, 'f');
    s.ViewerPassword = "v^iew";
    s.SettingsPassword = "\xE4\xFF";
    s.ListenAddress = "127.0.0.1";
    s.ListenPort = "2323";
    s.NmsEnabled = true;
    s.NmsHost = "10.0.0.2";
    s.NmsPort = "23";
    SaveNetworkSettings(path, s);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    TNetworkSettings back;
    ASSERT_TRUE(LoadNetworkSettings(path, back));
    EXPECT_TRUE(back.RemoteEnabled);
    EXPECT_EQ(back.FullAccessPassword, s.FullAccessPassword);
    EXPECT_EQ(back.ViewerPassword, s.ViewerPassword);
    EXPECT_EQ(back.SettingsPassword, s.SettingsPassword);
    EXPECT_EQ(back.ListenAddress, s.ListenAddress);
    EXPECT_EQ(back.ListenPort, s.ListenPort);
    EXPECT_TRUE(back.NmsEnabled);
    EXPECT_EQ(back.NmsHost, s.NmsHost);
    EXPECT_EQ(back.NmsPort, s.NmsPort);

    // An existing file of wider access is narrowed when replaced.
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    SaveNetworkSettings(path, s);
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}
