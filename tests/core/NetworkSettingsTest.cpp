#include "core/NetworkSettings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <stdexcept>
#include <sys/stat.h>

namespace {

TNetworkSettings Sample()
{
    TNetworkSettings s;
    s.RemoteEnabled = true;
    s.FullAccessPassword = "F";
    s.ViewerPassword = "V";
    s.SettingsPassword = "S";
    s.ListenAddress = "127.0.0.1";
    s.ListenPort = "2323";
    s.NmsEnabled = true;
    s.NmsHost = "10.0.0.2";
    s.NmsPort = "23";
    return s;
}

std::string Problem(std::string_view bytes)
{
    std::string problem;
    DecodeNetworkSettings(bytes, &problem);
    return problem;
}

}  // namespace

TEST(NetworkSettingsFile, AFileCutAnywhereLeavesBothServicesOffAndNamesTheLine)
{
    const std::string sound = EncodeNetworkSettings(Sample());
    std::string problem;
    const TNetworkSettings whole = DecodeNetworkSettings(sound, &problem);
    ASSERT_EQ(problem, "");
    EXPECT_TRUE(whole.RemoteEnabled);
    EXPECT_TRUE(whole.NmsEnabled);

    for (size_t cut = 1; cut + 1 < sound.size(); ++cut) {
        const TNetworkSettings s = DecodeNetworkSettings(sound.substr(0, cut), &problem);
        EXPECT_NE(problem, "") << "cut at " << cut;
        EXPECT_FALSE(s.RemoteEnabled) << "cut at " << cut;
        EXPECT_FALSE(s.NmsEnabled) << "cut at " << cut;
        // A password is the stored one or none: never a piece cut short.
        for (const std::string* p : {&s.FullAccessPassword, &s.ViewerPassword, &s.SettingsPassword})
            EXPECT_TRUE(p->empty() || *p == "F" || *p == "V" || *p == "S") << "cut at " << cut;
    }
    // Only the line feed missing: every line is there.
    EXPECT_EQ(Problem(sound.substr(0, sound.size() - 1)), "");

    EXPECT_EQ(Problem("1"), "line 1 is cut short");
    EXPECT_EQ(Problem("1\r\n"), "line 2 is missing");
    const std::string full = ScramblePassword("F");
    const TNetworkSettings partial = DecodeNetworkSettings("1\r\n" + full + "^" + full.substr(0, 4), &problem);
    EXPECT_EQ(problem, "line 2 is cut short");
    EXPECT_EQ(partial.FullAccessPassword, "F");
    EXPECT_EQ(partial.ViewerPassword, "") << "a cut piece that looks whole is not taken";
    EXPECT_EQ(Problem(sound.substr(0, sound.size() - 2)), "line 7 is cut short");
}

TEST(NetworkSettingsFile, BadPasswordPiecesAndSwitchLinesAreDamage)
{
    const std::string full = ScramblePassword("F");
    const std::string set = ScramblePassword("S");
    auto file = [](const std::string& first, const std::string& passwords, const std::string& fifth) {
        return first + "\r\n" + passwords + "\r\nA\r\nP\r\n" + fifth + "\r\nH\r\n7\r\n";
    };
    for (const std::string& bad : {std::string("f0680001"), std::string("F06"), std::string("F06800"),
                                   std::string("G0680001"), std::string(4 * kMaxPasswordLength + 4, 'A')}) {
        std::string problem;
        const TNetworkSettings s = DecodeNetworkSettings(file("1", full + "^" + bad + "^" + set, "1"), &problem);
        EXPECT_EQ(problem, "line 2 holds a viewer password that is not scrambled text") << bad;
        EXPECT_FALSE(s.RemoteEnabled);
        EXPECT_FALSE(s.NmsEnabled);
        EXPECT_EQ(s.FullAccessPassword, "F");
        EXPECT_EQ(s.ViewerPassword, "");
        EXPECT_EQ(s.SettingsPassword, "S");
        EXPECT_EQ(s.ListenAddress, "A") << "the rest is read as it stands";
        EXPECT_EQ(s.NmsPort, "7");
    }
    EXPECT_EQ(Problem(file(" 1", "^^", "0")), "line 1 is neither \"0\" nor \"1\"");
    EXPECT_EQ(Problem(file("0", "^^", "")), "line 5 is neither \"0\" nor \"1\"");
    EXPECT_EQ(Problem(file("x", "^^", "x")), "line 1 is neither \"0\" nor \"1\"") << "the first wrong line";
}

TEST(NetworkSettingsFile, LooseButCompleteFilesAreSound)
{
    const std::string full = ScramblePassword("F");
    const std::string view = ScramblePassword("V");
    const std::string set = ScramblePassword("S");
    std::string problem;

    TNetworkSettings emptyMiddle =
        DecodeNetworkSettings("0\r\n" + full + "^^" + set + "\r\n\r\n\r\n0\r\n\r\n\r\n", &problem);
    EXPECT_EQ(problem, "");
    EXPECT_EQ(emptyMiddle.FullAccessPassword, "F");
    EXPECT_EQ(emptyMiddle.ViewerPassword, "");
    EXPECT_EQ(emptyMiddle.SettingsPassword, "S");

    TNetworkSettings noDelimiter = DecodeNetworkSettings("0\r\n" + full + "\r\n\r\n\r\n0\r\n\r\n\r\n", &problem);
    EXPECT_EQ(problem, "");
    EXPECT_EQ(noDelimiter.FullAccessPassword, "F");
    EXPECT_EQ(noDelimiter.ViewerPassword, "");

    // Bare LF and bare CR end lines too; lines after the seventh are ignored.
    TNetworkSettings loose =
        DecodeNetworkSettings("1\r" + full + "^" + view + "^" + set + "\nA\r\nP\r\n1\r\nH\r\n7\nextra", &problem);
    EXPECT_EQ(problem, "");
    EXPECT_TRUE(loose.RemoteEnabled);
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
    std::string problem;
    EXPECT_FALSE(LoadNetworkSettings(path, settings, problem));
    QFile empty(QString::fromStdString(path));
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.close();
    EXPECT_FALSE(LoadNetworkSettings(path, settings, problem));
    EXPECT_EQ(settings.NmsHost, "10.1.1.1");

    ASSERT_TRUE(QFile::remove(QString::fromStdString(path)));
    ASSERT_TRUE(QDir(dir.path()).mkdir("Setings.str"));
    try {
        LoadNetworkSettings(path, settings, problem);
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
    std::string problem = "before";
    ASSERT_TRUE(LoadNetworkSettings(path, back, problem));
    EXPECT_EQ(problem, "");
    EXPECT_TRUE(back.RemoteEnabled);
    EXPECT_EQ(back.FullAccessPassword, s.FullAccessPassword);
    EXPECT_EQ(back.ViewerPassword, s.ViewerPassword);
    EXPECT_EQ(back.SettingsPassword, s.SettingsPassword);
    EXPECT_EQ(back.ListenAddress, s.ListenAddress);
    EXPECT_EQ(back.ListenPort, s.ListenPort);
    EXPECT_TRUE(back.NmsEnabled);
    EXPECT_EQ(back.NmsHost, s.NmsHost);
    EXPECT_EQ(back.NmsPort, s.NmsPort);

    QFile cut(QString::fromStdString(path));
    ASSERT_TRUE(cut.resize(5));
    ASSERT_TRUE(LoadNetworkSettings(path, back, problem));
    EXPECT_EQ(problem, "\"" + path + "\" is damaged: line 2 is cut short.");
    EXPECT_FALSE(back.RemoteEnabled);
    SaveNetworkSettings(path, s);

    // An existing file of wider access is narrowed when replaced.
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    SaveNetworkSettings(path, s);
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}
