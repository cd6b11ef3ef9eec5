// The settings panel, and the network sub-panel behind the settings password.
#include "app/Unit1Ui.h"

#include "app/AppIcon.h"
#include "app/ImageButton.h"
#include "app/StatusBar.h"
#include "app/TerminalMemo.h"
#include "core/NetworkSettings.h"
#include "core/NmsForwarder.h"
#include "core/RemoteAccess.h"
#include "serial/SerialNG.h"
#include "support/CodePage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFrame>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <stdexcept>

namespace {

const char* const kSettingsFile = "Setings.ini";
const char* const kNetworkFile = "Setings.str";
const char* const kMetaKeyFile = "MetaKey.ini";

std::string Bytes(const QLineEdit* edit) { return CodePage::ToBytes(edit->text()); }

// A text typed into a list counts once the operator finishes it (Enter or
// leaving the list): it selects the entry it names, or none. True when that
// changed the selection.
bool TakeTypedText(QComboBox* box)
{
    QLineEdit* edit = box->lineEdit();
    if (!edit->isModified())
        return false;
    edit->setModified(false);
    const QString text = edit->text();
    const int index = box->findText(text);
    if (index == box->currentIndex())
        return false;
    box->setCurrentIndex(index);
    if (index < 0)
        box->setEditText(text);
    return true;
}

}  // namespace

void TForm1::WireSettings()
{
    Ui& u = *ui_;
    const TDialogs& d = options_.Dialogs;
    u.ImageSetings->setPixmap(SettingsImage());
    u.ImageHelp->setPixmap(HelpImage());
    for (QLineEdit* password : {u.EpassRA, u.EpassRAviewer, u.EsetPass})
        password->setMaxLength(kMaxPasswordLength);

    connect(u.ImageSetings, &TImageButton::clicked, this, d.Reported([this] { Button2Click(); }));
    connect(u.ImageHelp, &TImageButton::clicked, this, d.Reported([this] { ButtonHelpClick(); }));
    connect(u.Bra, &QPushButton::clicked, this, d.Reported([this] { BraClick(); }));
    connect(u.Bclose, &QPushButton::clicked, this, d.Reported([this] { BcloseClick(); }));
    connect(u.Button3, &QPushButton::clicked, this, d.Reported([this] { Button3Click(); }));
    connect(u.Button4, &QPushButton::clicked, this, d.Reported([this] { Button4Click(); }));
    // The operator's choices only: lists set by the program leave the port alone.
    for (QComboBox* list : {u.ComboBox1, u.ComboBox2}) {
        connect(list, &QComboBox::activated, this, d.Reported([this] { ComboBox2Change(); }));
        connect(list->lineEdit(), &QLineEdit::editingFinished, this, d.Reported([this, list] {
            if (TakeTypedText(list))
                ComboBox2Change();
        }));
    }
    connect(u.CBfontsize, &QComboBox::activated, this, d.Reported([this] { CBfontsizeChange(); }));
    connect(u.CheckBoxBold, &QCheckBox::toggled, this, d.Reported([this] { CheckBoxBoldClick(); }));
}

void TForm1::Button2Click()
{
    Ui& u = *ui_;
    u.PanelSetMeta->show();
    u.PanelSetMeta->raise();
    ApplyLayout(width(), height());
    u.ImageSetings->setEnabled(false);
}

bool TForm1::AskSettingsPassword()
{
    for (;;) {
        QString entry;
        if (!options_.Dialogs.PasswordPrompt(QStringLiteral("Password check"),
                                             QStringLiteral("Enter Pasword for access to program settings:"), true,
                                             entry))
            return false;
        if (entry == ui_->EsetPass->text())
            return true;
    }
}

void TForm1::BraClick()
{
    if (!AskSettingsPassword())
        return;
    Ui& u = *ui_;
    u.PsetRA->move(4, 4);
    u.PsetRA->show();
    u.PsetRA->raise();
}

void TForm1::BcloseClick() { ui_->PsetRA->hide(); }

void TForm1::ComboBox2Change()
{
    ClosePort();
    SerialPortNG1->SetCommPort(SelectedText(ui_->ComboBox2).toStdString());
    bool ok = false;
    const uint32_t speed = SelectedText(ui_->ComboBox1).toUInt(&ok);
    if (!ok)
        throw std::runtime_error("Choose a speed from the list; the port stays closed until then.");
    SerialPortNG1->SetBaudRate(speed);
    OpenPort();
    ui_->Memo1->setFocus();
}

void TForm1::Button3Click()
{
    Ui& u = *ui_;
    WriteMetaKeyFile();
    u.PanelSetMeta->hide();
    try {
        CaptionMetaKeys();
        u.StatusBar1->SetPanelText(1, SelectedText(u.ComboBox2));
        SettingWords[TSettingWords::PortIndex] = IndexWord(u.ComboBox2->currentIndex());
        u.StatusBar1->SetPanelText(2, QStringLiteral("Speed ") + SelectedText(u.ComboBox1));
        SettingWords[TSettingWords::SpeedIndex] = IndexWord(u.ComboBox1->currentIndex());
        u.StatusBar1->SetPanelText(4, u.CheckBox1->isChecked() ? QStringLiteral("CR") : QStringLiteral("No CR"));
        SettingWords[TSettingWords::SendCR] = u.CheckBox1->isChecked() ? 1 : 0;
        u.StatusBar1->SetPanelText(5, u.CheckBox2->isChecked() ? QStringLiteral("LF") : QStringLiteral("No LF"));
        SettingWords[TSettingWords::SendLF] = u.CheckBox2->isChecked() ? 1 : 0;
        SettingWords[TSettingWords::FontSizeIndex] = IndexWord(u.CBfontsize->currentIndex());
        SettingWords[TSettingWords::FontBold] = u.CheckBoxBold->isChecked() ? 1 : 0;
        WriteSettingWords(kSettingsFile, SettingWords);
        WriteNetworkSettings();
        remote_->Apply();
        nms_->Apply();
        SaveAlarmRules();
        WriteExtras();
        LogEvent("settings-saved");
    } catch (...) {
        // The panel stays open so that the operator can save again or cancel;
        // with it hidden and the settings image disabled there would be no way back.
        u.PanelSetMeta->show();
        throw;
    }
    ApplyLayout(width(), height());
    u.ImageSetings->setEnabled(true);
    u.Memo1->setFocus();
}

void TForm1::Button4Click()
{
    Ui& u = *ui_;
    if (QFile::exists(QString::fromLatin1(kMetaKeyFile))) {
        ReadMetaKeyFile();
        SelectIndex(u.ComboBox1, SettingWords[TSettingWords::SpeedIndex]);
        SelectIndex(u.ComboBox2, SettingWords[TSettingWords::PortIndex]);
        u.CheckBox1->setChecked(SettingWords[TSettingWords::SendCR] != 0);
        u.CheckBox2->setChecked(SettingWords[TSettingWords::SendLF] != 0);
        SelectIndex(u.CBfontsize, SettingWords[TSettingWords::FontSizeIndex]);
        u.CheckBoxBold->setChecked(SettingWords[TSettingWords::FontBold] != 0);
    }
    ReadNetworkSettings();  // a damaged file was reported at start-up
    u.EditWatch->setPlainText(QString::fromStdString(watchText_));
    ReadExtras();
    Memo1FontSet();
    u.PanelSetMeta->hide();
    u.ImageSetings->setEnabled(true);
    ApplyLayout(width(), height());
    u.Memo1->setFocus();
}

std::string TForm1::ReadNetworkSettings()
{
    TNetworkSettings settings;
    std::string problem;
    if (!LoadNetworkSettings(kNetworkFile, settings, problem))
        return {};
    Ui& u = *ui_;
    u.CBoxEnDi->setChecked(settings.RemoteEnabled);
    u.EpassRA->setText(CodePage::ToText(settings.FullAccessPassword));
    u.EpassRAviewer->setText(CodePage::ToText(settings.ViewerPassword));
    u.EsetPass->setText(CodePage::ToText(settings.SettingsPassword));
    u.EipAddRA->setText(CodePage::ToText(settings.ListenAddress));
    u.EportRA->setText(CodePage::ToText(settings.ListenPort));
    u.CBoxTrap->setChecked(settings.NmsEnabled);
    u.EipTrap->setText(CodePage::ToText(settings.NmsHost));
    u.EportTrap->setText(CodePage::ToText(settings.NmsPort));
    return problem;
}

void TForm1::WriteNetworkSettings()
{
    const Ui& u = *ui_;
    TNetworkSettings settings;
    settings.RemoteEnabled = u.CBoxEnDi->isChecked();
    settings.FullAccessPassword = Bytes(u.EpassRA);
    settings.ViewerPassword = Bytes(u.EpassRAviewer);
    settings.SettingsPassword = Bytes(u.EsetPass);
    settings.ListenAddress = Bytes(u.EipAddRA);
    settings.ListenPort = Bytes(u.EportRA);
    settings.NmsEnabled = u.CBoxTrap->isChecked();
    settings.NmsHost = Bytes(u.EipTrap);
    settings.NmsPort = Bytes(u.EportTrap);
    SaveNetworkSettings(kNetworkFile, settings);
}
