#include "app/ImageButton.h"
#include "app/StatusBar.h"
#include "app/StringGrid.h"
#include "app/TerminalMemo.h"
#include "core/MetaKeyFile.h"
#include "core/NetworkSettings.h"
#include "core/SettingWords.h"
#include "net/TnCnx.h"
#include "net/WSocket.h"
#include "serial/SerialNG.h"
#include "support/MyCript.h"
#include "support/MyUtils.h"
#include "tests/app/FormFixture.h"
#include "tests/app/PtyPort.h"
#include "tests/net/FreePort.h"
#include "tests/net/NetTestUtil.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void Type(QWidget* widget, const QString& text)
{
    for (QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
    }
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    QApplication::sendEvent(widget, &enter);
}

// A click delivered as the window system does, so that errors reach the application object.
void Press(QWidget* button)
{
    const QPointF at(button->width() / 2.0, button->height() / 2.0);
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent event(type, at, button->mapToGlobal(at), Qt::LeftButton,
                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(button, &event);
    }
}

// The operator picks an entry of a list.
void Choose(QComboBox* box, int index)
{
    box->setCurrentIndex(index);
    emit box->activated(index);
}

std::vector<std::string> Lines(const std::string& bytes)
{
    std::vector<std::string> lines;
    size_t pos = 0;
    for (size_t end; (end = bytes.find("\r\n", pos)) != std::string::npos; pos = end + 2)
        lines.push_back(bytes.substr(pos, end - pos));
    if (pos != bytes.size())
        lines.push_back("<unterminated>" + bytes.substr(pos));
    return lines;
}

}  // namespace

class SettingsPanel : public FormFixture {
protected:
    void SetUp() override
    {
        FormFixture::SetUp();
        prompt_ = [this](const QString& caption, const QString& prompt, bool masked, QString& value) {
            prompts_.push_back({caption, prompt, masked, value});
            if (answers_.empty())
                return false;
            value = answers_.front();
            answers_.erase(answers_.begin());
            return true;
        };
    }

    TForm1& CreateOnPorts(std::vector<std::string> ports)
    {
        TForm1Options options;
        options.ExtraPorts = std::move(ports);
        return Create(options);
    }

    struct Prompt {
        QString Caption, Text;
        bool Masked;
        QString Initial;
    };
    std::vector<Prompt> prompts_;
    std::vector<QString> answers_;  // confirmed entries in order; then Cancel
};

TEST_F(SettingsPanel, WithNoNetworkFileAnEmptyEntryOpensTheSubPanel)
{
    TForm1& form = CreateOnPorts({});
    OpenSettings();
    answers_ = {QString()};
    Button("Bra")->click();
    ASSERT_EQ(prompts_.size(), 1u);
    EXPECT_EQ(prompts_[0].Caption, "Password check");
    EXPECT_EQ(prompts_[0].Text, "Enter Pasword for access to program settings:");
    EXPECT_TRUE(prompts_[0].Masked);
    EXPECT_EQ(prompts_[0].Initial, "");
    EXPECT_TRUE(Frame("PsetRA")->isVisibleTo(&form));
    EXPECT_EQ(Frame("PsetRA")->pos(), QPoint(4, 4));
    EXPECT_FALSE(Check("CBoxEnDi")->isChecked());
    EXPECT_EQ(Edit("EpassRA")->text(), "");

    // Save and Cancel leave the sub-panel as it is; only its close button hides it.
    Button("Button3")->click();
    OpenSettings();
    EXPECT_TRUE(Frame("PsetRA")->isVisibleTo(&form));
    Button("Bclose")->click();
    EXPECT_FALSE(Frame("PsetRA")->isVisibleTo(&form));
}

TEST_F(SettingsPanel, AWrongPasswordAsksAgainWithAnEmptyEntryUntilRightOrCancelled)
{
    TNetworkSettings stored;
    stored.SettingsPassword = "s3cret";
    WriteFile("Setings.str", EncodeNetworkSettings(stored));
    TForm1& form = CreateOnPorts({});
    OpenSettings();

    answers_ = {"wrong", "S3CRET", ""};
    Button("Bra")->click();  // the fourth prompt is cancelled
    EXPECT_EQ(prompts_.size(), 4u);
    EXPECT_FALSE(Frame("PsetRA")->isVisibleTo(&form));

    prompts_.clear();
    answers_ = {"s3cre", "s3cret"};
    Button("Bra")->click();
    ASSERT_EQ(prompts_.size(), 2u);
    for (const Prompt& p : prompts_)
        EXPECT_EQ(p.Initial, "");
    EXPECT_TRUE(Frame("PsetRA")->isVisibleTo(&form));
}

TEST_F(SettingsPanel, ASpeedChoiceReopensThePortAtOnceAndCancelShowsTheStoredSpeed)
{
    PtyPort pbx;
    ASSERT_FALSE(pbx.SlavePath().empty());
    WriteFile("Setings.ini", EncodeSettingWords(TSettingWords{}));  // port 0, 1200
    WriteFile("MetaKey.ini", EncodeMetaKeyRecords(std::vector<TMetaKeyRecord>(kMetaKeyRows)));
    CreateOnPorts({pbx.SlavePath()});
    ASSERT_TRUE(Port().Active());
    EXPECT_EQ(pbx.Speed(), 1200u);

    OpenSettings();
    Choose(Combo("ComboBox1"), 5);  // 19200
    EXPECT_TRUE(Port().Active());
    EXPECT_EQ(Port().BaudRate(), 19200u);
    EXPECT_EQ(pbx.Speed(), 19200u);
    EXPECT_EQ(Status(2), "Speed 1200");  // follows at Save

    Button("Button4")->click();
    EXPECT_EQ(Selected("ComboBox1"), "1200");
    EXPECT_TRUE(Port().Active());
    EXPECT_EQ(pbx.Speed(), 19200u);
}

TEST_F(SettingsPanel, TypedPortAndSpeedTextsTakeEffectOnEnter)
{
    PtyPort pbx;
    WriteFile("Setings.ini", EncodeSettingWords(TSettingWords{}));
    CreateOnPorts({"/nonexistent/ttyA", pbx.SlavePath()});
    OpenSettings();
    ASSERT_FALSE(Port().Active());

    Combo("ComboBox2")->lineEdit()->clear();
    Type(Combo("ComboBox2")->lineEdit(), QString::fromStdString(pbx.SlavePath()));
    EXPECT_EQ(Combo("ComboBox2")->currentIndex(), 1);
    EXPECT_EQ(Port().CommPort(), pbx.SlavePath());
    EXPECT_TRUE(Port().Active());

    Combo("ComboBox2")->lineEdit()->clear();
    Type(Combo("ComboBox2")->lineEdit(), QStringLiteral("ttyNothing"));
    EXPECT_EQ(Combo("ComboBox2")->currentIndex(), -1);
    EXPECT_EQ(Combo("ComboBox2")->currentText(), "ttyNothing");
    EXPECT_EQ(Port().CommPort(), "");
    EXPECT_FALSE(Port().Active());
    EXPECT_EQ(Status(7), "");

    // A speed that is not in the list leaves the port closed and says why.
    Choose(Combo("ComboBox2"), 1);
    ASSERT_TRUE(Port().Active());
    Combo("ComboBox1")->lineEdit()->clear();
    Type(Combo("ComboBox1")->lineEdit(), QStringLiteral("57600"));
    EXPECT_EQ(Combo("ComboBox1")->currentIndex(), -1);
    EXPECT_FALSE(Port().Active());
    ASSERT_EQ(errors_.size(), 1);
    EXPECT_TRUE(errors_[0].contains("speed"));
    Choose(Combo("ComboBox1"), 3);
    EXPECT_TRUE(Port().Active());
    EXPECT_EQ(pbx.Speed(), 9600u);
}

TEST_F(SettingsPanel, SaveWritesTheThreeFilesExactly)
{
    WriteFile("Setings.str", "0\r\n");
    ::chmod("Setings.str", 0644);
    CreateOnPorts({"/nonexistent/ttyA", "/nonexistent/ttyB"});
    OpenSettings();
    Combo("ComboBox2")->setCurrentIndex(1);
    Combo("ComboBox1")->setCurrentIndex(6);
    Check("CheckBox1")->setChecked(false);
    Check("CheckBox2")->setChecked(true);
    Combo("CBfontsize")->setCurrentIndex(10);
    Check("CheckBoxBold")->setChecked(true);
    Grid()->SetCells(1, 1, "Status");
    Grid()->SetCells(2, 1, "DIS-STAT");
    Grid()->SetCells(3, 1, "^M");
    Grid()->SetCells(1, 42, QString(30, 'n'));
    Check("CBoxEnDi")->setChecked(true);
    Edit("EipAddRA")->setText("127.0.0.1");
    const std::string listenPort = std::to_string(FreePort());
    Edit("EportRA")->setText(QString::fromStdString(listenPort));
    Edit("EpassRA")->setText("full");
    Edit("EpassRAviewer")->setText(QString::fromUtf8("зрител"));
    Edit("EsetPass")->setText("S^et");
    Edit("EipTrap")->setText("10.0.0.9");
    Edit("EportTrap")->setText("23");
    Button("Button3")->click();

    EXPECT_EQ(ReadFile("Setings.ini"),
              std::string("\x06\x00\x01\x00\x00\x00\x01\x00\x0A\x00\x01\x00", 12) + std::string(18, '\0'));
    EXPECT_EQ(Status(1), "/nonexistent/ttyB");
    EXPECT_EQ(Status(2), "Speed 38400");
    EXPECT_EQ(Status(4), "No CR");
    EXPECT_EQ(Status(5), "LF");
    EXPECT_EQ(Button("meta1")->text(), "Status");

    const std::vector<std::string> lines = Lines(ReadFile("Setings.str"));
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0], "1");
    EXPECT_EQ(lines[2], "127.0.0.1");
    EXPECT_EQ(lines[3], listenPort);
    EXPECT_EQ(lines[4], "0");
    EXPECT_EQ(lines[5], "10.0.0.9");
    EXPECT_EQ(lines[6], "23");
    const std::string pieces = lines[1] + "^";
    EXPECT_EQ(GetPiece(pieces, 4, 1, '^'), "");
    EXPECT_EQ(GetPiece(pieces, 1, 1, '^').size(), 16u);
    EXPECT_EQ(UnscramblePassword(GetPiece(pieces, 1, 1, '^')), "full");
    EXPECT_EQ(UnscramblePassword(GetPiece(pieces, 2, 1, '^')), "\xE7\xF0\xE8\xF2\xE5\xEB");  // Windows-1251
    // A "^" inside a password is scrambled into hex digits and cannot split the line.
    EXPECT_EQ(UnscramblePassword(GetPiece(pieces, 3, 1, '^')), "S^et");
    struct stat st {};
    ASSERT_EQ(::stat("Setings.str", &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    const std::string meta = ReadFile("MetaKey.ini");
    ASSERT_EQ(meta.size(), 2814u);
    EXPECT_EQ(meta.substr(0, 7), "\x06Status");
    EXPECT_EQ(meta.substr(21, 9), "\x08"
                                  "DIS-STAT");
    EXPECT_EQ(meta.substr(62, 3), "\x02^M");
    EXPECT_EQ(meta.substr(67, 1), std::string(1, '\0'));
    EXPECT_EQ(meta.substr(41 * 67, 21), "\x14" + std::string(20, 'n'));
    EXPECT_FALSE(QDir(".").entryList({"*.tmp~"}, QDir::Files).size() > 0);

    // The next start reads back what was saved.
    form_.reset();
    CreateOnPorts({"/nonexistent/ttyA", "/nonexistent/ttyB"});
    EXPECT_TRUE(Check("CBoxEnDi")->isChecked());
    RawPeer client;
    EXPECT_TRUE(client.Connect(std::stoi(listenPort))) << "remote access listens";
    EXPECT_FALSE(Check("CBoxTrap")->isChecked());
    EXPECT_EQ(Edit("EpassRAviewer")->text(), QString::fromUtf8("зрител"));
    EXPECT_EQ(Edit("EsetPass")->text(), "S^et");
    EXPECT_EQ(Edit("EipTrap")->text(), "10.0.0.9");
    EXPECT_EQ(Grid()->Cells(1, 42), QString(20, 'n'));
}

TEST_F(SettingsPanel, PasswordsShowStars)
{
    CreateOnPorts({});
    for (const char* name : {"EpassRA", "EpassRAviewer", "EsetPass"}) {
        Edit(name)->setText(QStringLiteral("abc"));
        EXPECT_EQ(Edit(name)->displayText(), "***") << name;
    }
}

TEST_F(SettingsPanel, PasswordsStopAtTheLongestTheFileReadsBack)
{
    CreateOnPorts({});
    const QString longest(127, 'p');
    Edit("EsetPass")->setText(longest + "tail");
    Edit("EpassRA")->setText(QString(300, 'f'));
    EXPECT_EQ(Edit("EsetPass")->text(), longest);
    OpenSettings();
    Button("Button3")->click();
    form_.reset();
    CreateOnPorts({});
    EXPECT_EQ(Edit("EsetPass")->text(), longest);
    EXPECT_EQ(Edit("EpassRA")->text(), QString(127, 'f'));
}

TEST_F(SettingsPanel, AFailedSaveKeepsThePanelOpenForAnotherTry)
{
    TForm1& form = CreateOnPorts({});
    const int height = Memo()->height();
    QDir().mkdir("Setings.str");  // cannot be replaced by a file
    emit Find<TImageButton>("ImageSetings")->clicked();
    EXPECT_FALSE(Find<TImageButton>("ImageSetings")->isEnabled());
    Edit("EportRA")->setText("4000");
    Press(Button("Button3"));
    ASSERT_EQ(errors_.size(), 1);
    EXPECT_TRUE(errors_[0].contains("Setings.str"));
    EXPECT_TRUE(Frame("PanelSetMeta")->isVisibleTo(&form));
    EXPECT_FALSE(Find<TImageButton>("ImageSetings")->isEnabled());
    EXPECT_EQ(Memo()->height(), height - 130);

    QDir().rmdir("Setings.str");
    Press(Button("Button3"));
    EXPECT_FALSE(Frame("PanelSetMeta")->isVisibleTo(&form));
    EXPECT_EQ(Memo()->height(), height);
    EXPECT_EQ(Lines(ReadFile("Setings.str")).at(3), "4000");
}

TEST_F(SettingsPanel, CancelPutsBackTheSavedControlsFontAndNetworkSettings)
{
    TSettingWords words;
    words[TSettingWords::SpeedIndex] = 3;
    words[TSettingWords::SendCR] = 1;
    words[TSettingWords::FontSizeIndex] = 4;
    WriteFile("Setings.ini", EncodeSettingWords(words));
    std::vector<TMetaKeyRecord> keys(kMetaKeyRows);
    keys[0] = {"Stat", "DIS", "^M"};
    WriteFile("MetaKey.ini", EncodeMetaKeyRecords(keys));
    TNetworkSettings net;
    net.ListenPort = "2323";
    WriteFile("Setings.str", EncodeNetworkSettings(net));
    TForm1& form = CreateOnPorts({});
    form.show();
    const QFont saved = Memo()->font();
    ASSERT_FALSE(saved.bold());

    OpenSettings();
    Choose(Combo("CBfontsize"), 10);
    Check("CheckBoxBold")->click();
    EXPECT_TRUE(Memo()->font().bold());
    EXPECT_NE(Memo()->font().pixelSize(), saved.pixelSize());
    Combo("ComboBox1")->setCurrentIndex(0);
    Check("CheckBox1")->setChecked(false);
    Check("CheckBox2")->setChecked(true);
    Grid()->SetCells(2, 1, "changed");
    Edit("EportRA")->setText("9999");
    Check("CBoxTrap")->setChecked(true);

    Button("Button4")->click();
    EXPECT_EQ(Selected("ComboBox1"), "9600");
    EXPECT_TRUE(Check("CheckBox1")->isChecked());
    EXPECT_FALSE(Check("CheckBox2")->isChecked());
    EXPECT_EQ(Selected("CBfontsize"), "12");
    EXPECT_FALSE(Check("CheckBoxBold")->isChecked());
    EXPECT_EQ(Memo()->font().pixelSize(), saved.pixelSize());
    EXPECT_FALSE(Memo()->font().bold());
    EXPECT_EQ(Grid()->Cells(2, 1), "DIS");
    EXPECT_EQ(Edit("EportRA")->text(), "2323");
    EXPECT_FALSE(Check("CBoxTrap")->isChecked());
    EXPECT_FALSE(Frame("PanelSetMeta")->isVisibleTo(&form));
    EXPECT_TRUE(Find<TImageButton>("ImageSetings")->isEnabled());
    EXPECT_TRUE(errors_.isEmpty());
}

TEST_F(SettingsPanel, AnUnreadableNetworkFileIsReportedAfterStartup)
{
    QDir().mkdir("Setings.str");
    CreateOnPorts({});
    EXPECT_TRUE(Exists("archive/2026/12/07-12-26.CAP"));
    Settle();
    ASSERT_EQ(errors_.size(), 1);
    EXPECT_TRUE(errors_[0].contains("Setings.str"));
}
