// The settings panel, the network sub-panel behind the settings password,
// and the network settings file "Setings.str".
#include "app/Unit1.h"

#include "app/AppIcon.h"
#include "app/ImageButton.h"
#include "app/StatusBar.h"
#include "app/TerminalMemo.h"
#include "core/NetworkSettings.h"
#include "serial/SerialNG.h"
#include "support/AtomicFile.h"
#include "support/CodePage.h"
#include "support/Dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace {

const char* const kSettingsFile = "Setings.ini";
const char* const kNetworkFile = "Setings.str";
const char* const kMetaKeyFile = "MetaKey.ini";
// The band the settings panel takes from the display.
constexpr int kPanelBand = 130;

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
    ImageSetings->setPixmap(SettingsImage());
    ImageHelp->setPixmap(HelpImage());
    for (QLineEdit* password : {EpassRA, EpassRAviewer, EsetPass})
        password->setMaxLength(kMaxPasswordLength);

    connect(ImageSetings, &TImageButton::clicked, this, Dialogs::Reported([this] { Button2Click(); }));
    connect(ImageHelp, &TImageButton::clicked, this, Dialogs::Reported([this] { ButtonHelpClick(); }));
    connect(Bra, &QPushButton::clicked, this, Dialogs::Reported([this] { BraClick(); }));
    connect(Bclose, &QPushButton::clicked, this, Dialogs::Reported([this] { BcloseClick(); }));
    connect(Button3, &QPushButton::clicked, this, Dialogs::Reported([this] { Button3Click(); }));
    connect(Button4, &QPushButton::clicked, this, Dialogs::Reported([this] { Button4Click(); }));
    // The operator's choices only: lists set by the program leave the port alone.
    for (QComboBox* list : {ComboBox1, ComboBox2}) {
        connect(list, &QComboBox::activated, this, Dialogs::Reported([this] { ComboBox2Change(); }));
        connect(list->lineEdit(), &QLineEdit::editingFinished, this, Dialogs::Reported([this, list] {
                    if (TakeTypedText(list))
                        ComboBox2Change();
                }));
    }
    connect(CBfontsize, &QComboBox::activated, this, Dialogs::Reported([this] { CBfontsizeChange(); }));
    connect(CheckBoxBold, &QCheckBox::toggled, this, Dialogs::Reported([this] { CheckBoxBoldClick(); }));
}

void TForm1::Button2Click()
{
    PanelSetMeta->show();
    PanelSetMeta->raise();
    Memo1->resize(Memo1->width(), Memo1->height() - kPanelBand);
    ImageSetings->setEnabled(false);
}

void TForm1::BraClick()
{
    for (;;) {
        QString entry;
        if (!Dialogs::PasswordPrompt(QStringLiteral("Password check"),
                                     QStringLiteral("Enter Pasword for access to program settings:"), true, entry))
            return;
        if (entry == EsetPass->text())
            break;
    }
    PsetRA->move(4, 4);
    PsetRA->show();
    PsetRA->raise();
}

void TForm1::BcloseClick() { PsetRA->hide(); }

void TForm1::ComboBox2Change()
{
    SerialPortNG1->SetActive(false);
    SerialPortNG1->SetCommPort(SelectedText(ComboBox2).toStdString());
    bool ok = false;
    const uint32_t speed = SelectedText(ComboBox1).toUInt(&ok);
    if (!ok)
        throw std::runtime_error("Choose a speed from the list; the port stays closed until then.");
    SerialPortNG1->SetBaudRate(speed);
    OpenPort();
    Memo1->setFocus();
}

void TForm1::Button3Click()
{
    WriteMetaKeyFile();
    PanelSetMeta->hide();
    try {
        CaptionMetaKeys();
        StatusBar1->SetPanelText(1, SelectedText(ComboBox2));
        SettingWords[TSettingWords::PortIndex] = IndexWord(ComboBox2->currentIndex());
        StatusBar1->SetPanelText(2, QStringLiteral("Speed ") + SelectedText(ComboBox1));
        SettingWords[TSettingWords::SpeedIndex] = IndexWord(ComboBox1->currentIndex());
        StatusBar1->SetPanelText(4, CheckBox1->isChecked() ? QStringLiteral("CR") : QStringLiteral("No CR"));
        SettingWords[TSettingWords::SendCR] = CheckBox1->isChecked() ? 1 : 0;
        StatusBar1->SetPanelText(5, CheckBox2->isChecked() ? QStringLiteral("LF") : QStringLiteral("No LF"));
        SettingWords[TSettingWords::SendLF] = CheckBox2->isChecked() ? 1 : 0;
        SettingWords[TSettingWords::FontSizeIndex] = IndexWord(CBfontsize->currentIndex());
        SettingWords[TSettingWords::FontBold] = CheckBoxBold->isChecked() ? 1 : 0;
        WriteSettingWords(kSettingsFile, SettingWords);
        WriteNetworkSettings();
        ApplyRemoteAccess();
        ApplyNms();
    } catch (...) {
        // The panel stays open so that the operator can save again or cancel;
        // with it hidden and the settings image disabled there would be no way back.
        PanelSetMeta->show();
        throw;
    }
    Memo1->resize(Memo1->width(), Memo1->height() + kPanelBand);
    ImageSetings->setEnabled(true);
    Memo1->setFocus();
}

void TForm1::Button4Click()
{
    if (QFile::exists(QString::fromLatin1(kMetaKeyFile))) {
        ReadMetaKeyFile();
        SelectIndex(ComboBox1, SettingWords[TSettingWords::SpeedIndex]);
        SelectIndex(ComboBox2, SettingWords[TSettingWords::PortIndex]);
        CheckBox1->setChecked(SettingWords[TSettingWords::SendCR] != 0);
        CheckBox2->setChecked(SettingWords[TSettingWords::SendLF] != 0);
        SelectIndex(CBfontsize, SettingWords[TSettingWords::FontSizeIndex]);
        CheckBoxBold->setChecked(SettingWords[TSettingWords::FontBold] != 0);
    }
    ReadNetworkSettings();
    Memo1FontSet();
    PanelSetMeta->hide();
    ImageSetings->setEnabled(true);
    Memo1->resize(Memo1->width(), Memo1->height() + kPanelBand);
    Memo1->setFocus();
}

void TForm1::ReadNetworkSettings()
{
    std::string bytes;
    if (!ReadWholeFile(kNetworkFile, bytes)) {
        if (errno == ENOENT)
            return;
        throw std::runtime_error(std::string("Cannot read \"") + kNetworkFile + "\": " + std::strerror(errno));
    }
    if (bytes.empty())
        return;
    const TNetworkSettings settings = DecodeNetworkSettings(bytes);
    CBoxEnDi->setChecked(settings.RemoteEnabled);
    EpassRA->setText(CodePage::ToText(settings.FullAccessPassword));
    EpassRAviewer->setText(CodePage::ToText(settings.ViewerPassword));
    EsetPass->setText(CodePage::ToText(settings.SettingsPassword));
    EipAddRA->setText(CodePage::ToText(settings.ListenAddress));
    EportRA->setText(CodePage::ToText(settings.ListenPort));
    CBoxTrap->setChecked(settings.NmsEnabled);
    EipTrap->setText(CodePage::ToText(settings.NmsHost));
    EportTrap->setText(CodePage::ToText(settings.NmsPort));
}

void TForm1::WriteNetworkSettings()
{
    TNetworkSettings settings;
    settings.RemoteEnabled = CBoxEnDi->isChecked();
    settings.FullAccessPassword = Bytes(EpassRA);
    settings.ViewerPassword = Bytes(EpassRAviewer);
    settings.SettingsPassword = Bytes(EsetPass);
    settings.ListenAddress = Bytes(EipAddRA);
    settings.ListenPort = Bytes(EportRA);
    settings.NmsEnabled = CBoxTrap->isChecked();
    settings.NmsHost = Bytes(EipTrap);
    settings.NmsPort = Bytes(EportTrap);
    // It holds the passwords: readable by its owner only.
    AtomicWriteFile(kNetworkFile, EncodeNetworkSettings(settings), 0600);
}
