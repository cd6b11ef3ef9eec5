// The operator's keyboard, the context menu and the clipboard to the port.
#include "app/Unit1.h"

#include "app/StringGrid.h"
#include "app/TerminalMemo.h"
#include "serial/SerialNG.h"
#include "support/CodePage.h"
#include "support/Dialogs.h"
#include "support/FindDialog.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QThread>

namespace {

// The character codes a key press produces: its text through the code page,
// or Ctrl with a letter as 1 to 26 where the platform gives no text.
std::string KeyCharacters(const QKeyEvent* event)
{
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    if (mods & Qt::AltModifier)
        return {};  // Alt combinations are commands, not characters
    std::string out;
    for (QChar ch : event->text()) {
        const int b = CodePage::CharToByte(ch);
        if (b > 0)
            out.push_back(char(b));
    }
    if (out.empty() && (mods & Qt::ControlModifier) && event->key() >= Qt::Key_A && event->key() <= Qt::Key_Z)
        out.push_back(char(event->key() - Qt::Key_A + 1));
    return out;
}

}  // namespace

void TForm1::WireConsole()
{
    Memo1->OnKeyDown = [this](QKeyEvent* event) {
        const int key = event->key();
        const Qt::KeyboardModifiers shift = event->modifiers() & ~Qt::KeypadModifier;
        Dialogs::Reported([this, key, shift] { Memo1KeyDown(key, shift); })();
    };
    Memo1->OnKeyPress = [this](QKeyEvent* event) {
        const std::string keys = KeyCharacters(event);
        Dialogs::Reported([this, keys] {
            for (char c : keys)
                Memo1KeyPress(static_cast<unsigned char>(c));
        })();
    };
    Memo1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Memo1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { PopupMenu1->popup(Memo1->viewport()->mapToGlobal(pos)); });
    connect(PopupMenu1, &QMenu::aboutToShow, this, Dialogs::Reported([this] { PopupMenu1Popup(); }));
    connect(CopytoPort1, &QAction::triggered, this, Dialogs::Reported([this] { CopytoPort1Click(); }));
    connect(CopyToPortCR, &QAction::triggered, this, Dialogs::Reported([this] { CopyToPortCRClick(); }));
    connect(CopytoClipboard1, &QAction::triggered, this, Dialogs::Reported([this] { CopytoClipboard1Click(); }));
    connect(PastefromClipboard1, &QAction::triggered, this, Dialogs::Reported([this] { PastefromClipboard1Click(); }));
    connect(SelectAll1, &QAction::triggered, this, Dialogs::Reported([this] { SelectAll1Click(); }));
    connect(Find1, &QAction::triggered, this, Dialogs::Reported([this] { Find1Click(); }));

    for (int t = 1; t <= 14; ++t)
        connect(meta[size_t(t)], &QPushButton::clicked, this, Dialogs::Reported([this, t] { MetaClick(t); }));
    connect(MetaSW, &QPushButton::clicked, this, Dialogs::Reported([this] { MetaSWClick(); }));
    connect(StringGrid1, &QTableWidget::cellDoubleClicked, this, Dialogs::Reported([this] { StringGrid1DblClick(); }));

    connect(Capture, &QPushButton::clicked, this, Dialogs::Reported([this] { CaptureClick(); }));
    connect(ButtonArch, &QPushButton::clicked, this, Dialogs::Reported([this] { ButtonArchClick(); }));
    FindDialog1 = new TFindDialog(this);
    FindDialog1->setObjectName(QStringLiteral("FindDialog1"));
    FindDialog1->OnFind = Dialogs::Reported([this] { FindDialog1Find(); });
}

void TForm1::Memo1KeyPress(unsigned char key)
{
    if (CaptureViewMode)
        CaptureClick();
    if (key == '\r' && CheckBox2->isChecked())
        SerialPortNG1->SendText("\r\n");
    else
        SerialPortNG1->SendText(std::string(1, char(key)));
}

void TForm1::Memo1KeyDown(int key, Qt::KeyboardModifiers shift)
{
    if (key != Qt::Key_B || shift != Qt::AltModifier)
        return;
    SerialPortNG1->SetBREAKState(true);
    if (options_.Pause)
        options_.Pause(200);
    else
        QThread::msleep(200);
    SerialPortNG1->SetBREAKState(false);
}

void TForm1::PopupMenu1Popup()
{
    const bool selected = Memo1->SelLength() > 0;
    CopytoPort1->setEnabled(selected);
    CopyToPortCR->setEnabled(selected);
    CopytoClipboard1->setEnabled(selected);
    const QMimeData* clip = QApplication::clipboard()->mimeData();
    PastefromClipboard1->setEnabled(clip && clip->hasText());
    SelectAll1->setEnabled(true);
    Find1->setEnabled(true);
}

void TForm1::CopytoPort1Click()
{
    const std::string text = Memo1->SelectedBytes();
    if (CaptureViewMode)
        CaptureClick();
    SerialPortNG1->SendText(text);
}

void TForm1::CopyToPortCRClick()
{
    const std::string text = Memo1->SelectedBytes();
    if (CaptureViewMode)
        CaptureClick();
    SerialPortNG1->SendText(text + '\r');
}

void TForm1::CopytoClipboard1Click() { Memo1->copy(); }

void TForm1::PastefromClipboard1Click()
{
    if (CaptureViewMode)
        CaptureClick();
    const QMimeData* clip = QApplication::clipboard()->mimeData();
    if (clip && clip->hasText())
        SerialPortNG1->SendText(CodePage::ToBytes(clip->text()));
}

void TForm1::SelectAll1Click()
{
    Memo1->SyncNow();
    Memo1->selectAll();
}

void TForm1::Find1Click()
{
    FindPosition = 0;
    FindDialog1->Execute();
}
