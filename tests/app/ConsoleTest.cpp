#include "app/StatusBar.h"
#include "app/StringGrid.h"
#include "app/TerminalMemo.h"
#include "archive/SpinEdit.h"
#include "archive/Unit2.h"
#include "core/MetaKeyFile.h"
#include "core/SettingWords.h"
#include "serial/SerialNG.h"
#include "support/FindDialog.h"
#include "tests/app/FormFixture.h"
#include "tests/app/PtyPort.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QGroupBox>
#include <QPushButton>

namespace {

void Mouse(QWidget* w, QEvent::Type type, QPoint at)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, QPointF(at), w->mapToGlobal(QPointF(at)), Qt::LeftButton, held, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

void DoubleClick(QWidget* w, QPoint at)
{
    Mouse(w, QEvent::MouseButtonPress, at);
    Mouse(w, QEvent::MouseButtonRelease, at);
    Mouse(w, QEvent::MouseButtonDblClick, at);
    Mouse(w, QEvent::MouseButtonRelease, at);
}

void Key(QWidget* w, Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier, const QString& text = {})
{
    QKeyEvent press(QEvent::KeyPress, key, mods, text);
    QApplication::sendEvent(w, &press);
}

}  // namespace

class Console : public FormFixture {
protected:
    void SetUp() override
    {
        FormFixture::SetUp();
        WriteFile("Setings.ini", EncodeSettingWords(TSettingWords{}));  // port 0: the pty
        TForm1Options options;
        options.ExtraPorts = {pty_.SlavePath()};
        options.Pause = [this](int ms) {
            pauses_.push_back(ms);
            breakDuringPause_ = form_->SerialPortNG1->BREAKState();
        };
        Create(options);
        ASSERT_TRUE(form_->SerialPortNG1->Active());
    }
    TTerminalMemo* memo() { return form_->Memo1; }
    // Lets one write finish before the next is started.
    std::string Sent(size_t count) { return pty_.Read(count); }

    PtyPort pty_;
    std::vector<int> pauses_;
    bool breakDuringPause_ = false;
};

TEST_F(Console, EnterSendsCrOrCrLfAsSendLfSaysAtThatMoment)
{
    Key(memo(), Qt::Key_Return, Qt::NoModifier, "\r");
    EXPECT_EQ(Sent(1), "\r");
    form_->CheckBox2->setChecked(true);  // not saved
    Key(memo(), Qt::Key_Return, Qt::NoModifier, "\r");
    EXPECT_EQ(Sent(2), "\r\n");
    EXPECT_EQ(form_->StatusBar1->Panels(5).Text, "No LF");
    form_->CheckBox1->setChecked(false);
    form_->CheckBox2->setChecked(false);
    Key(memo(), Qt::Key_Return, Qt::NoModifier, "\r");
    EXPECT_EQ(Sent(1), "\r");
}

TEST_F(Console, TypedCharactersGoOutAsTheirCodePageBytes)
{
    Key(memo(), Qt::Key_A, Qt::NoModifier, "a");
    EXPECT_EQ(Sent(1), "a");
    Key(memo(), Qt::Key_Tab, Qt::NoModifier, "\t");
    EXPECT_EQ(Sent(1), "\t");
    Key(memo(), Qt::Key_Backspace, Qt::NoModifier, "\b");
    EXPECT_EQ(Sent(1), "\b");
    Key(memo(), Qt::Key_Escape, Qt::NoModifier, "\x1b");
    EXPECT_EQ(Sent(1), "\x1b");
    Key(memo(), Qt::Key_unknown, Qt::NoModifier, QString::fromUtf8("д"));
    EXPECT_EQ(Sent(1), "\xE4");
    Key(memo(), Qt::Key_Z, Qt::ControlModifier);  // no text from the platform
    EXPECT_EQ(Sent(1), "\x1a");
}

TEST_F(Console, AltBHoldsBreakWithoutSendingOrEndingTheCaptureView)
{
    form_->CaptureClick();
    Key(memo(), Qt::Key_B, Qt::AltModifier, "b");
    ASSERT_EQ(pauses_, std::vector<int>{200});
    EXPECT_TRUE(breakDuringPause_);
    EXPECT_FALSE(form_->SerialPortNG1->BREAKState());
    EXPECT_TRUE(form_->CaptureViewMode);
    EXPECT_EQ(pty_.Drain(), "");

    form_->CaptureClick();
    Key(memo(), Qt::Key_B, Qt::AltModifier | Qt::ShiftModifier, "B");
    Key(memo(), Qt::Key_B, Qt::ControlModifier, "\x02");
    EXPECT_EQ(pauses_.size(), 1u);
    EXPECT_EQ(Sent(1), "\x02");
}

TEST_F(Console, ATypedKeyInCaptureViewFirstReplaysTheHeldText)
{
    form_->CaptureClick();
    Receive("held\r\n");
    EXPECT_EQ(memo()->LineCount(), 1);
    Key(memo(), Qt::Key_X, Qt::NoModifier, "x");
    EXPECT_FALSE(form_->CaptureViewMode);
    EXPECT_EQ(memo()->Line(0), "held");
    EXPECT_EQ(Sent(1), "x");
}

TEST_F(Console, CopyToPortAndEnterSendsTheSelectedLinesWithCrLfBetween)
{
    Receive("AB\r\nCD\r\n");
    form_->CaptureClick();
    memo()->SelectText(0, 6);  // AB CR LF CD
    EXPECT_EQ(memo()->SelectedBytes(), "AB\r\nCD");
    form_->PopupMenu1Popup();
    EXPECT_TRUE(form_->CopyToPortCR->isEnabled());
    form_->CopyToPortCR->trigger();
    EXPECT_FALSE(form_->CaptureViewMode);
    EXPECT_EQ(Sent(7), "AB\r\nCD\r");
    form_->CopytoPort1->trigger();
    EXPECT_EQ(Sent(6), "AB\r\nCD");
}

TEST_F(Console, MenuItemsFollowTheSelectionAndTheClipboard)
{
    QApplication::clipboard()->clear();
    form_->PopupMenu1Popup();
    EXPECT_FALSE(form_->CopytoPort1->isEnabled());
    EXPECT_FALSE(form_->CopyToPortCR->isEnabled());
    EXPECT_FALSE(form_->CopytoClipboard1->isEnabled());
    EXPECT_TRUE(form_->SelectAll1->isEnabled());
    EXPECT_TRUE(form_->Find1->isEnabled());
    QApplication::clipboard()->setText("x");
    form_->PopupMenu1Popup();
    EXPECT_TRUE(form_->PastefromClipboard1->isEnabled());
}

TEST_F(Console, PasteSendsTheClipboardTextUnchanged)
{
    QApplication::clipboard()->setText(QStringLiteral("x\ny"));
    form_->CaptureClick();
    form_->PastefromClipboard1->trigger();
    EXPECT_FALSE(form_->CaptureViewMode);
    EXPECT_EQ(Sent(3), "x\ny");
}

TEST_F(Console, SelectAllAndCopyToClipboardKeepTheViewFrozen)
{
    Receive("one\r\ntwo");
    form_->CaptureClick();
    form_->SelectAll1->trigger();
    form_->CopytoClipboard1->trigger();
    EXPECT_TRUE(form_->CaptureViewMode);
    EXPECT_EQ(QApplication::clipboard()->text(), "one\ntwo");
    EXPECT_EQ(pty_.Drain(), "");
}

TEST_F(Console, MetaKeysSendTheirRowOfTheBankShown)
{
    form_->StringGrid1->SetCells(2, 1, "ABC");
    form_->StringGrid1->SetCells(3, 1, "^M");
    form_->meta[1]->click();
    EXPECT_EQ(Sent(4), "ABC\r");
    form_->StringGrid1->SetCells(3, 1, "");
    form_->meta[1]->click();
    EXPECT_EQ(Sent(3), "ABC");
    form_->StringGrid1->SetCells(2, 2, "");
    form_->StringGrid1->SetCells(3, 2, "^M");
    form_->meta[2]->click();
    EXPECT_EQ(Sent(1), "\r");
    form_->StringGrid1->SetCells(3, 2, "");
    form_->meta[2]->click();

    form_->StringGrid1->SetCells(1, 29, "row29");
    form_->StringGrid1->SetCells(2, 29, "cmd29");
    form_->MetaSW->click();
    form_->MetaSW->click();
    EXPECT_EQ(form_->MetaSW->text(), "3");
    EXPECT_EQ(form_->meta[1]->text(), "row29");
    form_->CaptureClick();
    form_->meta[1]->click();  // the view stays frozen
    EXPECT_EQ(Sent(5), "cmd29");
    EXPECT_TRUE(form_->CaptureViewMode);
    form_->MetaSW->click();
    EXPECT_EQ(form_->MetaSW->text(), "1");
}

TEST_F(Console, DoubleClickTogglesTheCrMarkerInItsColumnOnly)
{
    form_->StringGrid1->SetCells(3, 5, "x");
    form_->StringGrid1->SetCurrent(3, 5);
    form_->StringGrid1DblClick();
    EXPECT_EQ(form_->StringGrid1->Cells(3, 5), "^M");
    form_->StringGrid1DblClick();
    EXPECT_EQ(form_->StringGrid1->Cells(3, 5), "");
    form_->StringGrid1->SetCells(2, 5, "cmd");
    form_->StringGrid1->SetCurrent(2, 5);
    form_->StringGrid1DblClick();
    EXPECT_EQ(form_->StringGrid1->Cells(2, 5), "cmd");
}

TEST_F(Console, HeldTextIsReplayedWithItsOwnRules)
{
    Receive("start ");
    form_->CaptureClick();
    EXPECT_EQ(form_->StatusBar1->Panels(6).Text, "Capture");
    EXPECT_EQ(form_->Capture->text(), "Exit Capture");
    Receive("AB");
    Receive(std::string("C\r\nD\b\0", 6));
    EXPECT_EQ(memo()->Line(0), "start ");
    EXPECT_EQ(ReadFile("archive/2026/12/07-12-26.CAP"), "");
    form_->CaptureClick();
    EXPECT_EQ(form_->StatusBar1->Panels(6).Text, "Normal");
    EXPECT_EQ(form_->Capture->text(), "View Capture");
    EXPECT_EQ(memo()->Line(0), "start ABC");
    EXPECT_EQ(memo()->Line(1), "D\b");  // a held backspace is kept
    EXPECT_EQ(form_->LineIndex, 1);
    EXPECT_TRUE(form_->HeldText.empty());
    EXPECT_EQ(form_->StatusBar1->Panels(0).Text, "Lines 2");
    EXPECT_EQ(ReadFile("archive/2026/12/07-12-26.CAP"), "start ABC\r\n");
}

TEST_F(Console, FindWalksTheMatchesThenSaysThereAreNoMoreAndStartsAgain)
{
    Receive("x abc y\r\nabc\r\n");
    form_->Find1->trigger();
    form_->FindDialog1->SetFindText("ABC");
    form_->FindDialog1->SetOptions(0);
    auto press = [this] {
        form_->FindDialog1->SetOptions(form_->FindDialog1->Options() | frFindNext);
        form_->FindDialog1Find();
    };
    press();
    EXPECT_EQ(form_->FindPosition, 3);
    EXPECT_EQ(memo()->textCursor().selectedText(), "abc");
    EXPECT_EQ(memo()->textCursor().selectionStart(), 2);
    press();
    EXPECT_EQ(form_->FindPosition, 10);
    EXPECT_EQ(memo()->textCursor().selectionStart(), 8);
    press();
    EXPECT_EQ(form_->FindPosition, 0);
    ASSERT_EQ(errors_.size(), 1);
    EXPECT_EQ(errors_[0], "There are no further occurences of \"ABC\" in Capture.");
    press();
    EXPECT_EQ(form_->FindPosition, 3);

    form_->FindDialog1->SetOptions(frMatchCase);
    form_->Find1->trigger();
    press();
    EXPECT_EQ(errors_.last(), "Could not find \"ABC\" in Capture.");
}

TEST_F(Console, DoubleClickOnTheOpenCellEditorTogglesTheCrMarker)
{
    form_->show();
    form_->PanelSetMeta->show();
    TStringGrid* grid = form_->StringGrid1;
    grid->SetCells(3, 2, "x");
    const QPoint cell = grid->visualRect(grid->model()->index(1, 2)).center();
    Mouse(grid->viewport(), QEvent::MouseButtonPress, cell);
    Mouse(grid->viewport(), QEvent::MouseButtonRelease, cell);
    // The always-shown editor now covers the cell and takes the double click.
    auto* editor = grid->viewport()->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    DoubleClick(editor, editor->rect().center());
    EXPECT_EQ(grid->Cells(3, 2), "^M");
    EXPECT_EQ(editor->text(), "^M");
    DoubleClick(editor, editor->rect().center());
    EXPECT_EQ(grid->Cells(3, 2), "");
    DoubleClick(editor, editor->rect().center());
    grid->SetCurrent(2, 2);  // the editor hands its text back as it closes
    EXPECT_EQ(grid->Cells(3, 2), "^M");
}

TEST(MetaKeyRecords, WriteExactly67BytesPerRecordCutToTheirFields)
{
    std::vector<TMetaKeyRecord> records(kMetaKeyRows);
    records[0] = {std::string(30, 'n'), "dis ext 100", "^M"};
    records[41] = {"last", std::string(50, 'c'), "^M^M^M"};
    const std::string bytes = EncodeMetaKeyRecords(records);
    ASSERT_EQ(bytes.size(), 2814u);
    EXPECT_EQ(bytes[0], 20);
    EXPECT_EQ(bytes.substr(1, 20), std::string(20, 'n'));
    EXPECT_EQ(bytes[21], 11);
    EXPECT_EQ(bytes.substr(22, 11), "dis ext 100");
    EXPECT_EQ(bytes.substr(62, 3), std::string("\x02^M", 3));
    const std::vector<TMetaKeyRecord> back = DecodeMetaKeyRecords(bytes);
    ASSERT_EQ(back.size(), 42u);
    EXPECT_EQ(back[0].Name, std::string(20, 'n'));
    EXPECT_EQ(back[41].Command, std::string(40, 'c'));
    EXPECT_EQ(back[41].CR, "^M^M");
}

TEST(MetaKeyRecords, FilesOutsideTheFormatAreReadAsFarAsTheyMakeSense)
{
    std::string bytes(44 * 67 + 30, '\0');
    bytes[0] = char(200);  // length above the field
    bytes[21] = char(255);
    bytes[62] = 9;
    const std::vector<TMetaKeyRecord> records = DecodeMetaKeyRecords(bytes);
    ASSERT_EQ(records.size(), 42u);  // surplus and the partial record ignored
    EXPECT_EQ(records[0].Name.size(), 20u);
    EXPECT_EQ(records[0].Command.size(), 40u);
    EXPECT_EQ(records[0].CR.size(), 4u);
    EXPECT_TRUE(DecodeMetaKeyRecords(std::string(66, 'x')).empty());
}

using MetaKeyFileStart = FormFixture;

TEST_F(MetaKeyFileStart, TenRecordsFillRowsOneToTenAndCaptionTheFirstBank)
{
    std::vector<TMetaKeyRecord> records(10);
    for (size_t i = 0; i < 10; ++i)
        records[i] = {"key" + std::to_string(i + 1), "cmd" + std::to_string(i + 1), i % 2 ? "^M" : ""};
    WriteFile("MetaKey.ini", EncodeMetaKeyRecords(records));
    TForm1& form = Create();
    EXPECT_EQ(form.StringGrid1->Cells(1, 10), "key10");
    EXPECT_EQ(form.StringGrid1->Cells(2, 1), "cmd1");
    EXPECT_EQ(form.StringGrid1->Cells(3, 2), "^M");
    EXPECT_EQ(form.StringGrid1->Cells(1, 11), "");
    EXPECT_EQ(form.meta[1]->text(), "key1");
    EXPECT_EQ(form.MetaSW->text(), "1");
    form.WriteMetaKeyFile();
    const std::string written = ReadFile("MetaKey.ini");
    ASSERT_EQ(written.size(), 2814u);
    EXPECT_EQ(DecodeMetaKeyRecords(written)[9].Name, "key10");
}

TEST_F(MetaKeyFileStart, TheStripIsLaidOutFromTheWindowWidth)
{
    TForm1& form = Create();
    const int step = (form.width() - 16 - 50) / 14;
    EXPECT_EQ(form.MetaStep, step);
    EXPECT_EQ(form.GroupBox1->width(), step * 14 + 53);
    EXPECT_EQ(form.meta[14]->x(), 50 + 13 * step);
    EXPECT_EQ(form.meta[14]->width(), step - 2);
}

TEST_F(MetaKeyFileStart, TheArchiveButtonShowsTheViewerAtTodaysDate)
{
    now_ = QDateTime(QDate(2026, 3, 2), QTime(9, 30));
    TForm1& form = Create();
    TForm2 viewer;
    form.SetArchiveWindow(&viewer);
    form.ButtonArch->click();
    EXPECT_TRUE(viewer.isVisible());
    EXPECT_EQ(viewer.SpinEditY->value(), 2026);
    EXPECT_EQ(viewer.ComboBoxM->currentIndex(), 2);
    EXPECT_EQ(viewer.SpinEditD->value(), 2);
    EXPECT_EQ(viewer.Label1->text(), "No File Open");
}

TEST_F(Console, CtrlCSendsItsByteAndTheDisplayStillCopies)
{
    Receive("copy me\r\n");
    memo()->SelectText(0, 4);
    QApplication::clipboard()->clear();
    Key(memo(), Qt::Key_C, Qt::ControlModifier, "\x03");
    EXPECT_EQ(Sent(1), "\x03");
    EXPECT_EQ(QApplication::clipboard()->text(), "copy");
}

TEST_F(Console, CopyToClipboardThenPasteSendsBackTheSameBytes)
{
    Receive(std::string("a\xA0\x98z\r\nb\tc"));
    memo()->SelectText(0, 9);
    form_->CopytoClipboard1->trigger();
    form_->PastefromClipboard1->trigger();
    EXPECT_EQ(Sent(8), std::string("a\xA0\x98z\nb\tc"));
}
