#include "app/StatusBar.h"
#include "app/StringGrid.h"
#include "app/TerminalMemo.h"
#include "core/SettingWords.h"
#include "serial/SerialNG.h"
#include "tests/app/FormFixture.h"
#include "tests/app/PtyPort.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>

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
    EXPECT_EQ(TForm1::SelectedText(form.ComboBox1), "1200");
    EXPECT_EQ(form.ComboBox2->currentIndex(), -1);
    EXPECT_EQ(form.ComboBox2->currentText(), "COM1");
    EXPECT_EQ(form.ComboBox2->count(), 2);
    EXPECT_EQ(form.SerialPortNG1->CommPort(), "");
    EXPECT_FALSE(form.SerialPortNG1->Active());
    EXPECT_TRUE(form.CheckBox1->isChecked());
    EXPECT_FALSE(form.CheckBox2->isChecked());
    EXPECT_EQ(TForm1::SelectedText(form.CBfontsize), "12");
    EXPECT_EQ(form.LineLimit, 6000);
    EXPECT_EQ(form.Memo1->LineCount(), 1);
    EXPECT_EQ(form.StatusBar1->Panels(2).Text, "Speed 1200");
    EXPECT_EQ(form.StatusBar1->Panels(4).Text, "CR");
    EXPECT_EQ(form.StatusBar1->Panels(5).Text, "No LF");
    EXPECT_EQ(form.StatusBar1->Panels(6).Text, "Normal");
    EXPECT_EQ(form.StringGrid1->Cells(0, 42), "Meta Key 42");
    EXPECT_EQ(form.StringGrid1->Cells(2, 0), "Command");
    EXPECT_TRUE(Exists("archive/2026/12/07-12-26.CAP"));
    EXPECT_FALSE(Exists("Setings.ini"));
    Settle();
    EXPECT_TRUE(errors_.isEmpty());
}

TEST_F(Startup, ClosingWithYesWritesTheWordsOfTheLastSaveAndTheNextStartUsesThem)
{
    TForm1& form = Create(TwoPorts());
    form.CheckBox2->setChecked(true);  // not saved: the words stay as they were
    EXPECT_TRUE(form.close());
    EXPECT_EQ(confirms_, 1);
    EXPECT_EQ(ReadFile("Setings.ini"), std::string(30, '\0'));

    TForm1& again = Create(TwoPorts());
    EXPECT_EQ(again.ComboBox2->currentIndex(), 0);
    EXPECT_EQ(again.SerialPortNG1->CommPort(), "/nonexistent/ttyA");
    EXPECT_EQ(TForm1::SelectedText(again.ComboBox1), "1200");
    EXPECT_FALSE(again.CheckBox1->isChecked());
    EXPECT_FALSE(again.CheckBox2->isChecked());
    EXPECT_EQ(TForm1::SelectedText(again.CBfontsize), "8");
    EXPECT_EQ(again.StatusBar1->Panels(1).Text, "/nonexistent/ttyA");
    EXPECT_EQ(again.StatusBar1->Panels(4).Text, "No CR");
}

TEST_F(Startup, AnsweringNoLeavesEverythingRunning)
{
    TForm1& form = Create(TwoPorts());
    confirmAnswer_ = false;
    EXPECT_FALSE(form.close());
    EXPECT_FALSE(Exists("Setings.ini"));
    EXPECT_TRUE(form.CaptureFile.IsOpen());
    Receive("still here\n");
    EXPECT_EQ(ReadFile("archive/2026/12/07-12-26.CAP"), "still here\r\n");
}

TEST_F(Startup, ReservedWordsAreCarriedThroughAndIndexesUsedAsStored)
{
    const std::string stored = Words({6, 1, 1, 1, 10, 1, 7, 8, 9, 10, 11, 12, 13, 14, 0xFFFF});
    WriteFile("Setings.ini", stored);
    TForm1& form = Create(TwoPorts());
    EXPECT_EQ(TForm1::SelectedText(form.ComboBox1), "38400");
    EXPECT_EQ(form.SerialPortNG1->BaudRate(), 38400u);
    EXPECT_EQ(form.SerialPortNG1->CommPort(), "/nonexistent/ttyB");
    EXPECT_TRUE(form.CheckBox2->isChecked());
    EXPECT_EQ(TForm1::SelectedText(form.CBfontsize), "24");
    EXPECT_TRUE(form.close());
    EXPECT_EQ(ReadFile("Setings.ini"), stored);
}

TEST_F(Startup, AStoredPortIndexTheListLacksSelectsNoPort)
{
    WriteFile("Setings.ini", Words({0, 3}));
    TForm1& form = Create(TwoPorts());
    EXPECT_EQ(form.ComboBox2->currentIndex(), -1);
    EXPECT_EQ(form.SerialPortNG1->CommPort(), "");
    EXPECT_FALSE(form.SerialPortNG1->Active());
}

TEST_F(Startup, ADamagedSettingsFileStillOpensCaptureAndReportsOnceAfterStartup)
{
    WriteFile("Setings.ini", "broken");
    TForm1& form = Create(TwoPorts());
    EXPECT_TRUE(errors_.isEmpty());  // not during start-up
    EXPECT_TRUE(form.CaptureFile.IsOpen());
    EXPECT_EQ(TForm1::SelectedText(form.ComboBox1), "1200");
    Settle();
    ASSERT_EQ(errors_.size(), 1);
    EXPECT_TRUE(errors_[0].contains("Setings.ini"));
}

TEST_F(Startup, AStoredSpeedTheListLacksFallsBackTo1200)
{
    WriteFile("Setings.ini", Words({9}));
    TForm1& form = Create(TwoPorts());
    EXPECT_EQ(form.SerialPortNG1->BaudRate(), 1200u);
    EXPECT_EQ(form.StatusBar1->Panels(2).Text, "Speed 1200");
    EXPECT_TRUE(form.CaptureFile.IsOpen());
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
    TForm1& form = Create(TwoPorts());
    Receive("open line");
    form.EndSession();
    EXPECT_EQ(confirms_, 0);
    EXPECT_FALSE(form.CaptureFile.IsOpen());
    EXPECT_EQ(ReadFile("Setings.ini"), std::string(30, '\0'));
}

TEST_F(Startup, APortThatCannotBeOpenedIsShownInTheStatusBarUntilAPortOpens)
{
    PtyPort pty;
    WriteFile("Setings.ini", Words({0, 0}));
    TForm1Options options;
    options.ExtraPorts = {"/nonexistent/ttyA", pty.SlavePath()};
    TForm1& form = Create(options);
    EXPECT_FALSE(form.SerialPortNG1->Active());
    EXPECT_EQ(form.StatusBar1->Panels(7).Text, "Port error: No such file or directory");
    form.ComboBox2->setCurrentIndex(1);
    form.ComboBox2Change();
    EXPECT_TRUE(form.SerialPortNG1->Active());
    EXPECT_EQ(form.StatusBar1->Panels(7).Text, "");
}
