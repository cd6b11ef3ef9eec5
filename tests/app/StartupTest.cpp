#include "app/StatusBar.h"
#include "app/StringGrid.h"
#include "app/TerminalMemo.h"
#include "core/LineModel.h"
#include "core/SettingWords.h"
#include "serial/SerialNG.h"
#include "tests/app/FormFixture.h"
#include "tests/app/PtyPort.h"
#include "tests/net/NetTestUtil.h"

#include <csignal>

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGuiApplication>
#include <QSessionManager>

namespace {

TForm1Options TwoPorts()
{
    TForm1Options options;
    options.ExtraPorts = {"/nonexistent/ttyA", "/nonexistent/ttyB"};
    return options;
}

std::string Words(std::initializer_list<uint16_t> values)
{
    TSettingWords words;
    size_t i = 0;
    for (uint16_t v : values)
        words.Words[i++] = v;
    return EncodeSettingWords(words);
}

}  // namespace

using Startup = FormFixture;

TEST_F(Startup, FirstStartUsesTheDesignValuesAndOpensTodaysCaptureFile)
{
    TForm1& form = Create(TwoPorts());
    EXPECT_FALSE(form.Terminated());
    EXPECT_EQ(Selected("ComboBox1"), "1200");
    EXPECT_EQ(Combo("ComboBox2")->currentIndex(), -1);
    EXPECT_EQ(Combo("ComboBox2")->currentText(), "COM1");
    EXPECT_EQ(Combo("ComboBox2")->count(), 2);
    EXPECT_EQ(Port().CommPort(), "");
    EXPECT_FALSE(Port().Active());
    EXPECT_EQ(Status(7), "") << "no port chosen is no port error";
    EXPECT_TRUE(Check("CheckBox1")->isChecked());
    EXPECT_FALSE(Check("CheckBox2")->isChecked());
    EXPECT_EQ(Selected("CBfontsize"), "12");
    EXPECT_EQ(Memo()->Model().LineCount(), 1);
    EXPECT_EQ(Status(2), "Speed 1200");
    EXPECT_EQ(Status(4), "CR");
    EXPECT_EQ(Status(5), "No LF");
    EXPECT_EQ(Status(6), "Normal");
    EXPECT_EQ(Grid()->Cells(0, 42), "Meta Key 42");
    EXPECT_EQ(Grid()->Cells(2, 0), "Command");
    EXPECT_TRUE(Exists("archive/2026/12/07-12-26.CAP"));
    EXPECT_FALSE(Exists("Setings.ini"));
    Settle();
    EXPECT_TRUE(errors_.isEmpty());
}

TEST_F(Startup, ClosingWithYesWritesTheWordsOfTheLastSaveAndTheNextStartUsesThem)
{
    TForm1& form = Create(TwoPorts());
    Check("CheckBox2")->setChecked(true);  // not saved: the words stay as they were
    EXPECT_TRUE(form.close());
    EXPECT_EQ(confirms_, 1);
    EXPECT_EQ(ReadFile("Setings.ini"), std::string(30, '\0'));

    Create(TwoPorts());
    EXPECT_EQ(Combo("ComboBox2")->currentIndex(), 0);
    EXPECT_EQ(Port().CommPort(), "/nonexistent/ttyA");
    EXPECT_EQ(Selected("ComboBox1"), "1200");
    EXPECT_FALSE(Check("CheckBox1")->isChecked());
    EXPECT_FALSE(Check("CheckBox2")->isChecked());
    EXPECT_EQ(Selected("CBfontsize"), "8");
    EXPECT_EQ(Status(1), "/nonexistent/ttyA");
    EXPECT_EQ(Status(4), "No CR");
}

TEST_F(Startup, AnsweringNoLeavesEverythingRunning)
{
    TForm1& form = Create(TwoPorts());
    confirmAnswer_ = false;
    EXPECT_FALSE(form.close());
    EXPECT_FALSE(Exists("Setings.ini"));
    Receive("still here\n");
    EXPECT_TRUE(WaitFor([&] { return ReadFile("archive/2026/12/07-12-26.CAP") == "still here\r\n"; }));
}

TEST_F(Startup, ReservedWordsAreCarriedThroughAndIndexesUsedAsStored)
{
    const std::string stored = Words({6, 1, 1, 1, 10, 1, 7, 8, 9, 10, 11, 12, 13, 14, 0xFFFF});
    WriteFile("Setings.ini", stored);
    TForm1& form = Create(TwoPorts());
    EXPECT_EQ(Selected("ComboBox1"), "38400");
    EXPECT_EQ(Port().BaudRate(), 38400u);
    EXPECT_EQ(Port().CommPort(), "/nonexistent/ttyB");
    EXPECT_TRUE(Check("CheckBox2")->isChecked());
    EXPECT_EQ(Selected("CBfontsize"), "24");
    EXPECT_TRUE(form.close());
    EXPECT_EQ(ReadFile("Setings.ini"), stored);
}

TEST_F(Startup, AStoredPortIndexTheListLacksSelectsNoPort)
{
    WriteFile("Setings.ini", Words({0, 3}));
    Create(TwoPorts());
    EXPECT_EQ(Combo("ComboBox2")->currentIndex(), -1);
    EXPECT_EQ(Port().CommPort(), "");
    EXPECT_FALSE(Port().Active());
}

TEST_F(Startup, ADamagedSettingsFileStillOpensCaptureAndReportsOnceAfterStartup)
{
    WriteFile("Setings.ini", "broken");
    Create(TwoPorts());
    EXPECT_TRUE(errors_.isEmpty());  // not during start-up
    EXPECT_TRUE(Exists("archive/2026/12/07-12-26.CAP"));
    EXPECT_EQ(Selected("ComboBox1"), "1200");
    Settle();
    ASSERT_EQ(errors_.size(), 1);
    EXPECT_TRUE(errors_[0].contains("Setings.ini"));
}

TEST_F(Startup, AStoredSpeedTheListLacksFallsBackTo1200)
{
    WriteFile("Setings.ini", Words({9}));
    Create(TwoPorts());
    EXPECT_EQ(Port().BaudRate(), 1200u);
    EXPECT_EQ(Status(2), "Speed 1200");
    EXPECT_TRUE(Exists("archive/2026/12/07-12-26.CAP"));
    Settle();
    EXPECT_EQ(errors_.size(), 1);
}

TEST_F(Startup, ASecondInstanceEndsAtOnceAndChangesNoFile)
{
    TForm1Options options = TwoPorts();
    options.AnotherInstanceRunning = [] { return true; };
    TForm1& form = Create(options);
    EXPECT_TRUE(form.Terminated());
    EXPECT_TRUE(form.close());
    EXPECT_EQ(confirms_, 0);
    EXPECT_TRUE(QDir(".").entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
}

TEST_F(Startup, TheEndOfTheSessionSavesWithoutAsking)
{
    watchSessionEnd_ = true;
    Create(TwoPorts());
    Receive("open line\n");
    ::raise(SIGTERM);
    EXPECT_TRUE(WaitFor([&] { return Exists("Setings.ini"); }));
    EXPECT_EQ(confirms_, 0);
    EXPECT_EQ(ReadFile("Setings.ini"), std::string(30, '\0'));
    Receive("after the end\n");  // the capture file is closed: the line waits in its backlog
    EXPECT_EQ(ReadFile("archive/2026/12/07-12-26.CAP"), "open line\r\n");
}

TEST_F(Startup, ACheckpointOrACancelledLogoutEndsNothing)
{
    watchSessionEnd_ = true;
    Create(TwoPorts());
    Receive("before\n");
    // The session manager asks every program to save, for a checkpoint or a logout
    // that may yet be cancelled; nothing here reads the manager.
    alignas(16) unsigned char manager[256] = {};
    emit static_cast<QGuiApplication*>(qApp)->commitDataRequest(*reinterpret_cast<QSessionManager*>(manager));
    Receive("after\n");
    EXPECT_TRUE(WaitFor([&] { return ReadFile("archive/2026/12/07-12-26.CAP") == "before\r\nafter\r\n"; }));
    EXPECT_FALSE(Exists("Setings.ini"));
    EXPECT_TRUE(form_->close());
    EXPECT_EQ(confirms_, 1) << "a later close still asks";
    EXPECT_TRUE(Exists("Setings.ini"));
}

TEST_F(Startup, TheQuitAfterARealEndOfTheSessionSavesWithoutAnyBox)
{
    watchSessionEnd_ = true;
    Create(TwoPorts());
    QDir().mkdir("Setings.ini");  // cannot be replaced by a file
    testing::internal::CaptureStderr();
    QMetaObject::invokeMethod(qApp, "aboutToQuit", Qt::DirectConnection);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("Setings.ini"), std::string::npos) << said;
    Settle();
    EXPECT_TRUE(errors_.isEmpty());
    EXPECT_EQ(confirms_, 0);
}

TEST_F(Startup, ASettingsFileThatCannotBeWrittenAtCloseIsReportedOnceAndTheWindowCloses)
{
    Create(TwoPorts());
    QDir().mkdir("Setings.ini");
    EXPECT_TRUE(form_->close());
    ASSERT_EQ(errors_.size(), 1);
    EXPECT_TRUE(errors_[0].contains("Setings.ini"));
}

TEST_F(Startup, APortThatCannotBeOpenedIsShownInTheStatusBarUntilAPortOpens)
{
    PtyPort pty;
    WriteFile("Setings.ini", Words({0, 0}));
    TForm1Options options;
    options.ExtraPorts = {"/nonexistent/ttyA", pty.SlavePath()};
    Create(options);
    EXPECT_FALSE(Port().Active());
    EXPECT_EQ(Status(7), "Port error: No such file or directory");
    Combo("ComboBox2")->setCurrentIndex(1);
    emit Combo("ComboBox2")->activated(1);
    EXPECT_TRUE(Port().Active());
    EXPECT_EQ(Status(7), "");
}
