// The window's wiring of remote access and NMS forwarding: settings from the
// network sub-panel and "Setings.str", PBX output to both, remote input to the
// serial line. The services' own rules are tested on their units.
#include "core/NetworkSettings.h"
#include "support/MyCript.h"
#include "tests/app/FormFixture.h"
#include "tests/app/PtyPort.h"
#include "tests/net/FreePort.h"
#include "tests/net/LoopbackHost.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

namespace {

using Host = LoopbackHost;

std::string NetworkFile(int listenPort, int nmsPort, const std::string& passwords = "^^")
{
    return "1\r\n" + passwords + "\r\n127.0.0.1\r\n" + std::to_string(listenPort) + "\r\n1\r\n127.0.0.1\r\n" +
           std::to_string(nmsPort) + "\r\n";
}

const std::string kGreeting = "\r\nWelcome to Morvel PBX.\r\nEnter password:";

}  // namespace

using NetworkStartup = FormFixture;

TEST_F(NetworkStartup, StartsTheListenerThenTheNmsLinkAndFeedsBothWithPbxOutput)
{
    PtyPort pbx;
    WriteFile("Setings.ini", std::string(30, '\0'));  // port 0: the pty
    Host nms(FreePort());
    ASSERT_TRUE(nms.ok());
    const int listenPort = FreePort();
    WriteFile(QStringLiteral("Setings.str"), NetworkFile(listenPort, nms.port(), ScramblePassword("pw") + "^^"));
    TForm1Options options;
    options.ExtraPorts = {pbx.SlavePath()};
    Create(options);
    ASSERT_TRUE(nms.WaitFor([&] { return nms.accepted == 1; }));

    RawPeer client;
    ASSERT_TRUE(client.Connect(listenPort));
    ASSERT_TRUE(client.WaitReceived(kGreeting.size()));
    client.received.clear();
    client.Send("pw\r");
    ASSERT_TRUE(client.WaitReceived(1));
    client.received.clear();

    client.Send("DIS 1\r");
    EXPECT_EQ(pbx.Read(6), "DIS 1\r");
    pbx.Write("EXT 1 IDLE\r\n");
    ASSERT_TRUE(client.WaitReceived(12));
    EXPECT_EQ(client.received, "EXT 1 IDLE\r\n");
    ASSERT_TRUE(nms.WaitFor([&] { return nms.received.find("EXT 1 IDLE\r\n") != std::string::npos; }));
    Settle();
    EXPECT_TRUE(errors_.isEmpty());
}

TEST_F(NetworkStartup, AListenerThatCannotStartIsReportedOnceAndTheNmsLinkIsNotStarted)
{
    Host occupant(FreePort());
    ASSERT_TRUE(occupant.ok());
    Host nms(FreePort());
    ASSERT_TRUE(nms.ok());
    WriteFile(QStringLiteral("Setings.str"), NetworkFile(occupant.port(), nms.port()));
    Create();
    Settle();
    ASSERT_EQ(errors_.size(), 1);
    EXPECT_EQ(errors_[0], "Error 10048 in function Bind\r\nAddress already in use");
    EXPECT_FALSE(nms.WaitFor([&] { return nms.accepted > 0; }, 500));
}

TEST_F(NetworkStartup, SaveAppliesRemoteAccessAndNmsForwarding)
{
    Create();
    Host nms(FreePort());
    ASSERT_TRUE(nms.ok());
    const int listenPort = FreePort();
    OpenSettings();
    Check("CBoxEnDi")->setChecked(true);
    Edit("EipAddRA")->setText(QStringLiteral("127.0.0.1"));
    Edit("EportRA")->setText(QString::number(listenPort));
    Check("CBoxTrap")->setChecked(true);
    Edit("EipTrap")->setText(QStringLiteral("127.0.0.1"));
    Edit("EportTrap")->setText(QString::number(nms.port()));
    Button("Button3")->click();
    EXPECT_TRUE(nms.WaitFor([&] { return nms.accepted == 1; }));
    RawPeer client;
    ASSERT_TRUE(client.Connect(listenPort));
    EXPECT_TRUE(client.WaitReceived(kGreeting.size()));

    OpenSettings();
    Check("CBoxEnDi")->setChecked(false);
    Check("CBoxTrap")->setChecked(false);
    Button("Button3")->click();
    EXPECT_TRUE(client.WaitEnded());
    EXPECT_TRUE(nms.WaitFor([&] { return nms.ended > 0; }));
    RawPeer late;
    EXPECT_FALSE(late.Connect(listenPort));
    EXPECT_TRUE(errors_.isEmpty());
}

TEST_F(NetworkStartup, WrongRemotePasswordsAreCountedInTheStatusBar)
{
    const int listenPort = FreePort();
    WriteFile(QStringLiteral("Setings.str"), NetworkFile(listenPort, FreePort(), ScramblePassword("pw") + "^^"));
    Create();
    EXPECT_EQ(Status(8), "");
    RawPeer client;
    ASSERT_TRUE(client.Connect(listenPort));
    ASSERT_TRUE(client.WaitReceived(kGreeting.size()));
    client.Send("guess\r");
    ASSERT_TRUE(client.WaitEnded());
    EXPECT_EQ(Status(8), "Wrong passwords 1, penalties 0");
}

TEST_F(NetworkStartup, ACutSettingsFileKeepsBothServicesOffIsReportedOnceAndSaveMendsIt)
{
    Host nms(FreePort());
    ASSERT_TRUE(nms.ok());
    const int listenPort = FreePort();
    const std::string sound = NetworkFile(listenPort, nms.port(), ScramblePassword("pw") + "^^");
    WriteFile(QStringLiteral("Setings.str"), sound.substr(0, 9));  // within the first password
    Create();
    Settle();
    ASSERT_EQ(errors_.size(), 1);
    EXPECT_EQ(errors_[0], "\"Setings.str\" is damaged: line 2 is cut short. Remote access and NMS forwarding stay "
                          "off; Save writes the file anew.");
    EXPECT_FALSE(Check("CBoxEnDi")->isChecked());
    EXPECT_EQ(Edit("EpassRA")->text(), "") << "a cut password is not taken";

    OpenSettings();
    Button("Button3")->click();
    std::string problem;
    DecodeNetworkSettings(ReadFile("Setings.str"), &problem);
    EXPECT_EQ(problem, "");
    EXPECT_EQ(errors_.size(), 1);
    EXPECT_FALSE(nms.WaitFor([&] { return nms.accepted > 0; }, 300));
}

TEST_F(NetworkStartup, ABurstFromAFullAccessClientReachesThePortWhole)
{
    PtyPort pbx;
    WriteFile("Setings.ini", std::string(30, '\0'));  // port 0: the pty
    const int listenPort = FreePort();
    WriteFile(QStringLiteral("Setings.str"), NetworkFile(listenPort, FreePort(), ScramblePassword("pw") + "^^"));
    TForm1Options options;
    options.ExtraPorts = {pbx.SlavePath()};
    Create(options);
    RawPeer client;
    ASSERT_TRUE(client.Connect(listenPort));
    ASSERT_TRUE(client.WaitReceived(kGreeting.size()));
    client.received.clear();
    client.Send("pw\r");
    ASSERT_TRUE(client.WaitReceived(1));

    std::string burst;
    for (int i = 0; burst.size() < 200 * 1024; ++i)
        burst += "ASSIGN EXT " + std::to_string(1000 + i) + " CLASS " + std::to_string(i % 17) + "\r";
    client.Send(burst);
    const std::string got = pbx.Read(burst.size(), 60000);
    EXPECT_EQ(got.size(), burst.size());
    EXPECT_TRUE(got == burst) << "input lost or out of order";
}
