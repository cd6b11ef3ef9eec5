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
#include "support/Dialogs.h"
#include "support/MyCript.h"
#include "support/MyUtils.h"
#include "tests/app/FormFixture.h"
#include "tests/app/FreePort.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <asm/termbits.h>
#include <cstdlib>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The PBX side of a pseudo-terminal; the line settings the program applies
// to the slave show on the master too.
class PbxLine {
public:
    PbxLine()
    {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0)
            slave_ = ::ptsname(master_);
    }
    ~PbxLine()
    {
        if (master_ >= 0)
            ::close(master_);
    }
    const std::string& SlavePath() const { return slave_; }
    unsigned Speed() const
    {
        termios2 tio{};
        return ::ioctl(master_, TCGETS2, &tio) == 0 ? tio.c_ospeed : 0;
    }

private:
    int master_ = -1;
    std::string slave_;
};

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
        Dialogs::PasswordPrompt = [this](const QString& caption, const QString& prompt, bool masked, QString& value) {
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
    form.Button2Click();
    answers_ = {QString()};
    form.Bra->click();
    ASSERT_EQ(prompts_.size(), 1u);
    EXPECT_EQ(prompts_[0].Caption, "Password check");
    EXPECT_EQ(prompts_[0].Text, "Enter Pasword for access to program settings:");
    EXPECT_TRUE(prompts_[0].Masked);
    EXPECT_EQ(prompts_[0].Initial, "");
    EXPECT_TRUE(form.PsetRA->isVisibleTo(&form));
    EXPECT_EQ(form.PsetRA->pos(), QPoint(4, 4));
    EXPECT_FALSE(form.CBoxEnDi->isChecked());
    EXPECT_EQ(form.EpassRA->text(), "");

    // Save and Cancel leave the sub-panel as it is; only its close button hides it.
    form.Button3Click();
    form.Button2Click();
    EXPECT_TRUE(form.PsetRA->isVisibleTo(&form));
    form.Bclose->click();
    EXPECT_FALSE(form.PsetRA->isVisibleTo(&form));
}

TEST_F(SettingsPanel, AWrongPasswordAsksAgainWithAnEmptyEntryUntilRightOrCancelled)
{
    TNetworkSettings stored;
    stored.SettingsPassword = "s3cret";
    WriteFile("Setings.str", EncodeNetworkSettings(stored));
    TForm1& form = CreateOnPorts({});
    form.Button2Click();

    answers_ = {"wrong", "S3CRET", ""};
    form.BraClick();  // the fourth prompt is cancelled
    EXPECT_EQ(prompts_.size(), 4u);
    EXPECT_FALSE(form.PsetRA->isVisibleTo(&form));

    prompts_.clear();
    answers_ = {"s3cre", "s3cret"};
    form.BraClick();
    ASSERT_EQ(prompts_.size(), 2u);
    for (const Prompt& p : prompts_)
        EXPECT_EQ(p.Initial, "");
    EXPECT_TRUE(form.PsetRA->isVisibleTo(&form));
}

TEST_F(SettingsPanel, ASpeedChoiceReopensThePortAtOnceAndCancelShowsTheStoredSpeed)
{
    PbxLine pbx;
    ASSERT_FALSE(pbx.SlavePath().empty());
    WriteFile("Setings.ini", EncodeSettingWords(TSettingWords{}));  // port 0, 1200
    WriteFile("MetaKey.ini", EncodeMetaKeyRecords(std::vector<TMetaKeyRecord>(kMetaKeyRows)));
    TForm1& form = CreateOnPorts({pbx.SlavePath()});
    ASSERT_TRUE(form.SerialPortNG1->Active());
    EXPECT_EQ(pbx.Speed(), 1200u);

    form.Button2Click();
    Choose(form.ComboBox1, 5);  // 19200
    EXPECT_TRUE(form.SerialPortNG1->Active());
    EXPECT_EQ(form.SerialPortNG1->BaudRate(), 19200u);
    EXPECT_EQ(pbx.Speed(), 19200u);
    EXPECT_EQ(form.StatusBar1->Panels(2).Text, "Speed 1200");  // follows at Save

    form.Button4Click();
    EXPECT_EQ(TForm1::SelectedText(form.ComboBox1), "1200");
    EXPECT_TRUE(form.SerialPortNG1->Active());
    EXPECT_EQ(pbx.Speed(), 19200u);
    EXPECT_EQ(form.SettingWords[TSettingWords::SpeedIndex], 0);
}

TEST_F(SettingsPanel, TypedPortAndSpeedTextsTakeEffectOnEnter)
{
    PbxLine pbx;
    WriteFile("Setings.ini", EncodeSettingWords(TSettingWords{}));
    TForm1& form = CreateOnPorts({"/nonexistent/ttyA", pbx.SlavePath()});
    form.Button2Click();
    ASSERT_FALSE(form.SerialPortNG1->Active());

    form.ComboBox2->lineEdit()->clear();
    Type(form.ComboBox2->lineEdit(), QString::fromStdString(pbx.SlavePath()));
    EXPECT_EQ(form.ComboBox2->currentIndex(), 1);
    EXPECT_EQ(form.SerialPortNG1->CommPort(), pbx.SlavePath());
    EXPECT_TRUE(form.SerialPortNG1->Active());

    form.ComboBox2->lineEdit()->clear();
    Type(form.ComboBox2->lineEdit(), QStringLiteral("ttyNothing"));
    EXPECT_EQ(form.ComboBox2->currentIndex(), -1);
    EXPECT_EQ(form.ComboBox2->currentText(), "ttyNothing");
    EXPECT_EQ(form.SerialPortNG1->CommPort(), "");
    EXPECT_FALSE(form.SerialPortNG1->Active());

    // A speed that is not in the list leaves the port closed and says why.
    Choose(form.ComboBox2, 1);
    ASSERT_TRUE(form.SerialPortNG1->Active());
    form.ComboBox1->lineEdit()->clear();
    Type(form.ComboBox1->lineEdit(), QStringLiteral("57600"));
    EXPECT_EQ(form.ComboBox1->currentIndex(), -1);
    EXPECT_FALSE(form.SerialPortNG1->Active());
    ASSERT_EQ(errors_.size(), 1);
    EXPECT_TRUE(errors_[0].contains("speed"));
    Choose(form.ComboBox1, 3);
    EXPECT_TRUE(form.SerialPortNG1->Active());
    EXPECT_EQ(pbx.Speed(), 9600u);
}

TEST_F(SettingsPanel, SaveWritesTheThreeFilesExactly)
{
    WriteFile("Setings.str", "0\r\n");
    ::chmod("Setings.str", 0644);
    TForm1& form = CreateOnPorts({"/nonexistent/ttyA", "/nonexistent/ttyB"});
    form.Button2Click();
    form.ComboBox2->setCurrentIndex(1);
    form.ComboBox1->setCurrentIndex(6);
    form.CheckBox1->setChecked(false);
    form.CheckBox2->setChecked(true);
    form.CBfontsize->setCurrentIndex(10);
    form.CheckBoxBold->setChecked(true);
    form.StringGrid1->SetCells(1, 1, "Status");
    form.StringGrid1->SetCells(2, 1, "DIS-STAT");
    form.StringGrid1->SetCells(3, 1, "^M");
    form.StringGrid1->SetCells(1, 42, QString(30, 'n'));
    form.CBoxEnDi->setChecked(true);
    form.EipAddRA->setText("127.0.0.1");
    const std::string listenPort = std::to_string(FreePort());
    form.EportRA->setText(QString::fromStdString(listenPort));
    form.EpassRA->setText("full");
    form.EpassRAviewer->setText(QString::fromUtf8("зрител"));
    form.EsetPass->setText("S^et");
    form.EipTrap->setText("10.0.0.9");
    form.EportTrap->setText("23");
    form.Button3Click();

    EXPECT_EQ(ReadFile("Setings.ini"),
              std::string("\x06\x00\x01\x00\x00\x00\x01\x00\x0A\x00\x01\x00", 12) + std::string(18, '\0'));
    EXPECT_EQ(form.StatusBar1->Panels(1).Text, "/nonexistent/ttyB");
    EXPECT_EQ(form.StatusBar1->Panels(2).Text, "Speed 38400");
    EXPECT_EQ(form.StatusBar1->Panels(4).Text, "No CR");
    EXPECT_EQ(form.StatusBar1->Panels(5).Text, "LF");
    EXPECT_EQ(form.meta[1]->text(), "Status");

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
    TForm1& again = CreateOnPorts({"/nonexistent/ttyA", "/nonexistent/ttyB"});
    EXPECT_TRUE(again.CBoxEnDi->isChecked());
    EXPECT_EQ(again.WSvr->State(), wsListening);
    EXPECT_FALSE(again.CBoxTrap->isChecked());
    EXPECT_EQ(again.EpassRAviewer->text(), QString::fromUtf8("зрител"));
    EXPECT_EQ(again.EsetPass->text(), "S^et");
    EXPECT_EQ(again.EipTrap->text(), "10.0.0.9");
    EXPECT_EQ(again.StringGrid1->Cells(1, 42), QString(20, 'n'));
}

TEST_F(SettingsPanel, PasswordsStopAtTheLongestTheFileReadsBack)
{
    TForm1& form = CreateOnPorts({});
    const QString longest(127, 'p');
    form.EsetPass->setText(longest + "tail");
    form.EpassRA->setText(QString(300, 'f'));
    EXPECT_EQ(form.EsetPass->text(), longest);
    form.Button2Click();
    form.Button3Click();
    form_.reset();
    TForm1& again = CreateOnPorts({});
    EXPECT_EQ(again.EsetPass->text(), longest);
    EXPECT_EQ(again.EpassRA->text(), QString(127, 'f'));
}

TEST_F(SettingsPanel, AFailedSaveKeepsThePanelOpenForAnotherTry)
{
    TForm1& form = CreateOnPorts({});
    const int height = form.Memo1->height();
    QDir().mkdir("Setings.str");  // cannot be replaced by a file
    emit form.ImageSetings->clicked();
    EXPECT_FALSE(form.ImageSetings->isEnabled());
    form.EportRA->setText("4000");
    EXPECT_THROW(form.Button3Click(), std::runtime_error);
    EXPECT_TRUE(form.PanelSetMeta->isVisibleTo(&form));
    EXPECT_FALSE(form.ImageSetings->isEnabled());
    EXPECT_EQ(form.Memo1->height(), height - 130);

    // Through the button the error reaches the error box.
    Press(form.Button3);
    ASSERT_EQ(errors_.size(), 1);
    EXPECT_TRUE(errors_[0].contains("Setings.str"));

    QDir().rmdir("Setings.str");
    Press(form.Button3);
    EXPECT_FALSE(form.PanelSetMeta->isVisibleTo(&form));
    EXPECT_EQ(form.Memo1->height(), height);
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
    const QFont saved = form.Memo1->font();
    ASSERT_FALSE(saved.bold());

    form.Button2Click();
    Choose(form.CBfontsize, 10);
    form.CheckBoxBold->click();
    EXPECT_TRUE(form.Memo1->font().bold());
    EXPECT_NE(form.Memo1->font().pixelSize(), saved.pixelSize());
    form.ComboBox1->setCurrentIndex(0);
    form.CheckBox1->setChecked(false);
    form.CheckBox2->setChecked(true);
    form.StringGrid1->SetCells(2, 1, "changed");
    form.EportRA->setText("9999");
    form.CBoxTrap->setChecked(true);

    form.Button4->click();
    EXPECT_EQ(TForm1::SelectedText(form.ComboBox1), "9600");
    EXPECT_TRUE(form.CheckBox1->isChecked());
    EXPECT_FALSE(form.CheckBox2->isChecked());
    EXPECT_EQ(TForm1::SelectedText(form.CBfontsize), "12");
    EXPECT_FALSE(form.CheckBoxBold->isChecked());
    EXPECT_EQ(form.Memo1->font().pixelSize(), saved.pixelSize());
    EXPECT_FALSE(form.Memo1->font().bold());
    EXPECT_EQ(form.StringGrid1->Cells(2, 1), "DIS");
    EXPECT_EQ(form.EportRA->text(), "2323");
    EXPECT_FALSE(form.CBoxTrap->isChecked());
    EXPECT_FALSE(form.PanelSetMeta->isVisibleTo(&form));
    EXPECT_TRUE(form.ImageSetings->isEnabled());
    EXPECT_TRUE(errors_.isEmpty());
}

TEST_F(SettingsPanel, AnUnreadableNetworkFileIsReportedAfterStartup)
{
    QDir().mkdir("Setings.str");
    TForm1& form = CreateOnPorts({});
    EXPECT_TRUE(form.CaptureFile.IsOpen());
    Settle();
    ASSERT_EQ(errors_.size(), 1);
    EXPECT_TRUE(errors_[0].contains("Setings.str"));
}

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

TEST_F(SettingsPanel, SaveAppliesRemoteAccessAndNmsForwarding)
{
    TForm1& form = CreateOnPorts({});
    form.Button2Click();
    form.CBoxEnDi->setChecked(true);
    form.EipAddRA->setText(QStringLiteral("127.0.0.1"));
    form.EportRA->setText(QString::number(FreePort()));
    form.NmsPending = "kept while down";
    form.CBoxTrap->setChecked(true);
    form.EipTrap->setText(QStringLiteral("127.0.0.1"));
    form.EportTrap->setText(QString::number(FreePort()));
    form.Button3Click();
    EXPECT_EQ(form.WSvr->State(), wsListening);
    EXPECT_TRUE(form.NmsPending.empty());  // a new link starts afresh
    EXPECT_EQ(form.NmsLastAttempt, now_);

    form.Button2Click();
    form.CBoxEnDi->setChecked(false);
    form.CBoxTrap->setChecked(false);
    form.NmsPending = "kept for later";
    form.Button3Click();
    EXPECT_EQ(form.WSvr->State(), wsClosed);
    EXPECT_EQ(form.TnCnx->State(), wsClosed);
    EXPECT_EQ(form.NmsPending, "kept for later");
}
