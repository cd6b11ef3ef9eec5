// The operator's keyboard, the context menu and the clipboard to the port.
#include "app/Unit1Ui.h"

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
#include <functional>

namespace {

// The character codes a key press produces: printable characters through the
// code page, Enter, Backspace, Tab, Escape, and Ctrl with a letter as 1 to 26.
// Other keys (Delete, Insert, arrows, function keys) produce none.
std::string KeyCharacters(const QKeyEvent* event)
{
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    if (mods & Qt::AltModifier)
        return {};  // Alt combinations are commands, not characters
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return "\r";
    case Qt::Key_Backspace:
        return "\b";
    case Qt::Key_Tab:
        return "\t";
    case Qt::Key_Escape:
        return "\x1b";
    default:
        break;
    }
    if (mods & Qt::ControlModifier) {
        if (event->key() >= Qt::Key_A && event->key() <= Qt::Key_Z)
            return std::string(1, char(event->key() - Qt::Key_A + 1));
        return {};
    }
    std::string out;
    for (QChar ch : event->text()) {
        const int b = CodePage::CharToByte(ch);
        if (b >= 0x20 && b != 0x7F)
            out.push_back(char(b));
    }
    return out;
}

// Other programs on this desktop end clipboard lines with LF alone; the PBX
// wants CR LF, as the display's own copy gives it.
std::string WithCrLf(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            out.push_back('\r');
        out.push_back(text[i]);
    }
    return out;
}

}  // namespace

void TForm1::WireConsole()
{
    Ui& u = *ui_;
    const TDialogs& d = options_.Dialogs;
    u.Memo1->OnKeyDown = [this](QKeyEvent* event) {
        const int key = event->key();
        const Qt::KeyboardModifiers shift = event->modifiers() & ~Qt::KeypadModifier;
        options_.Dialogs.Reported([this, key, shift] { Memo1KeyDown(key, shift); })();
    };
    u.Memo1->OnKeyPress = [this](QKeyEvent* event) {
        if (TerminalShortcut(event))
            return;
        const std::string keys = KeyCharacters(event);
        options_.Dialogs.Reported([this, keys] {
            for (char c : keys)
                Memo1KeyPress(static_cast<unsigned char>(c));
        })();
    };
    u.Memo1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(u.Memo1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { ui_->PopupMenu1->popup(ui_->Memo1->viewport()->mapToGlobal(pos)); });
    connect(u.PopupMenu1, &QMenu::aboutToShow, this, d.Reported([this] { PopupMenu1Popup(); }));
    connect(u.CopytoPort1, &QAction::triggered, this, d.Reported([this] { CopytoPort1Click(); }));
    connect(u.CopyToPortCR, &QAction::triggered, this, d.Reported([this] { CopyToPortCRClick(); }));
    connect(u.CopytoClipboard1, &QAction::triggered, this, d.Reported([this] { CopytoClipboard1Click(); }));
    connect(u.PastefromClipboard1, &QAction::triggered, this, d.Reported([this] { PastefromClipboard1Click(); }));
    connect(u.SelectAll1, &QAction::triggered, this, d.Reported([this] { SelectAll1Click(); }));
    connect(u.Find1, &QAction::triggered, this, d.Reported([this] { Find1Click(); }));

    for (int t = 1; t <= 14; ++t)
        connect(u.meta[size_t(t)], &QPushButton::clicked, this, d.Reported([this, t] { MetaClick(t); }));
    connect(u.MetaSW, &QPushButton::clicked, this, d.Reported([this] { MetaSWClick(); }));
    connect(u.StringGrid1, &QTableWidget::cellDoubleClicked, this, d.Reported([this] { StringGrid1DblClick(); }));

    connect(u.Capture, &QPushButton::clicked, this, d.Reported([this] { CaptureClick(); }));
    connect(u.ButtonArch, &QPushButton::clicked, this, d.Reported([this] { ButtonArchClick(); }));
    FindDialog1 = new TFindDialog(this);
    FindDialog1->setObjectName(QStringLiteral("FindDialog1"));
    FindDialog1->OnFind = d.Reported([this] { FindDialog1Find(); });
}

// A terminal's own shortcuts; Ctrl with a letter alone stays a code for the PBX.
bool TForm1::TerminalShortcut(const QKeyEvent* event)
{
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    const bool ctrlShift = mods == (Qt::ControlModifier | Qt::ShiftModifier);
    std::function<void()> action;
    if (ctrlShift && event->key() == Qt::Key_C)
        action = [this] { CopytoClipboard1Click(); };
    else if ((ctrlShift && event->key() == Qt::Key_V) || (mods == Qt::ShiftModifier && event->key() == Qt::Key_Insert))
        action = [this] { PastefromClipboard1Click(); };
    else if (ctrlShift && event->key() == Qt::Key_F)
        action = [this] { Find1Click(); };
    if (!action)
        return false;
    options_.Dialogs.Reported(action)();
    return true;
}

void TForm1::Memo1KeyPress(unsigned char key)
{
    EndCaptureView();
    if (RefuseWhileLost())
        return;
    if (key == '\r' && ui_->CheckBox2->isChecked())
        SerialPortNG1->SendText("\r\n");
    else
        SerialPortNG1->SendText(std::string(1, char(key)));
    LogSent("key", std::string(1, char(key)));
}

void TForm1::Memo1KeyDown(int key, Qt::KeyboardModifiers shift)
{
    if (key != Qt::Key_B || shift != Qt::AltModifier)
        return;
    if (RefuseWhileLost())
        return;
    LogSent("break", {});
    SerialPortNG1->SetBREAKState(true);
    if (options_.Pause)
        options_.Pause(200);
    else
        QThread::msleep(200);
    SerialPortNG1->SetBREAKState(false);
}

void TForm1::PopupMenu1Popup()
{
    const bool selected = ui_->Memo1->SelLength() > 0;
    ui_->CopytoPort1->setEnabled(selected);
    ui_->CopyToPortCR->setEnabled(selected);
    ui_->CopytoClipboard1->setEnabled(selected);
    const QMimeData* clip = QApplication::clipboard()->mimeData();
    ui_->PastefromClipboard1->setEnabled(clip && clip->hasText());
    ui_->SelectAll1->setEnabled(true);
    ui_->Find1->setEnabled(true);
}

void TForm1::CopytoPort1Click()
{
    const std::string text = WithCrLf(ui_->Memo1->SelectedBytes());
    EndCaptureView();
    if (RefuseWhileLost())
        return;
    SerialPortNG1->SendText(text);
    LogSent("copy", text);
}

void TForm1::CopyToPortCRClick()
{
    const std::string text = WithCrLf(ui_->Memo1->SelectedBytes()) + '\r';
    EndCaptureView();
    if (RefuseWhileLost())
        return;
    SerialPortNG1->SendText(text);
    LogSent("copy", text);
}

void TForm1::CopytoClipboard1Click() { ui_->Memo1->copy(); }

void TForm1::PastefromClipboard1Click()
{
    EndCaptureView();
    const QMimeData* clip = QApplication::clipboard()->mimeData();
    if (!clip || !clip->hasText() || RefuseWhileLost())
        return;
    const std::string text = WithCrLf(CodePage::ToBytes(clip->text()));
    SerialPortNG1->SendText(text);
    LogSent("paste", text);
}

void TForm1::SelectAll1Click()
{
    ui_->Memo1->SyncNow();
    ui_->Memo1->selectAll();
}

void TForm1::Find1Click()
{
    FindPosition = 0;
    FindDialog1->Execute();
}
