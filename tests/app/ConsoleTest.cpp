#include "app/StatusBar.h"
#include "app/StringGrid.h"
#include "app/TerminalMemo.h"
#include "archive/SpinEdit.h"
#include "archive/Unit2.h"
#include "core/LineModel.h"
#include "core/MetaKeyFile.h"
#include "core/SettingWords.h"
#include "serial/SerialNG.h"
#include "support/FindDialog.h"
#include "tests/app/FormFixture.h"
#include "tests/app/PtyPort.h"

#include <QComboBox>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QGroupBox>
#include <QPushButton>
#include <QTest>

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
            breakDuringPause_ = Port().BREAKState();
        };
        Create(options);
        ASSERT_TRUE(Port().Active());
    }
    TTerminalMemo* memo() { return Memo(); }
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
    Check("CheckBox2")->setChecked(true);  // not saved
    Key(memo(), Qt::Key_Return, Qt::NoModifier, "\r");
    EXPECT_EQ(Sent(2), "\r\n");
    EXPECT_EQ(Status(5), "No LF");
    Check("CheckBox1")->setChecked(false);
    Check("CheckBox2")->setChecked(false);
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
    Button("Capture")->click();
    Key(memo(), Qt::Key_B, Qt::AltModifier, "b");
    ASSERT_EQ(pauses_, std::vector<int>{200});
    EXPECT_TRUE(breakDuringPause_);
    EXPECT_FALSE(Port().BREAKState());
    EXPECT_EQ(Status(6), "Capture");
    EXPECT_EQ(pty_.Drain(), "");

    Button("Capture")->click();
    Key(memo(), Qt::Key_B, Qt::AltModifier | Qt::ShiftModifier, "B");
    Key(memo(), Qt::Key_B, Qt::ControlModifier, "\x02");
    EXPECT_EQ(pauses_.size(), 1u);
    EXPECT_EQ(Sent(1), "\x02");
}

TEST_F(Console, ATypedKeyInCaptureViewFirstReplaysTheHeldText)
{
    Button("Capture")->click();
    Receive("held\r\n");
    EXPECT_EQ(memo()->Model().LineCount(), 1);
    Key(memo(), Qt::Key_X, Qt::NoModifier, "x");
    EXPECT_EQ(Status(6), "Normal");
    EXPECT_EQ(memo()->Model().Line(0), "held");
    EXPECT_EQ(Sent(1), "x");
}

TEST_F(Console, CopyToPortAndEnterSendsTheSelectedLinesWithCrLfBetween)
{
    Receive("AB\r\nCD\r\n");
    Button("Capture")->click();
    memo()->SelectText(0, 6);  // AB CR LF CD
    EXPECT_EQ(memo()->SelectedBytes(), "AB\r\nCD");
    OpenMenu();
    EXPECT_TRUE(Action("CopyToPortCR")->isEnabled());
    Action("CopyToPortCR")->trigger();
    EXPECT_EQ(Status(6), "Normal");
    EXPECT_EQ(Sent(7), "AB\r\nCD\r");
    Action("CopytoPort1")->trigger();
    EXPECT_EQ(Sent(6), "AB\r\nCD");
}

TEST_F(Console, MenuItemsFollowTheSelectionAndTheClipboard)
{
    QApplication::clipboard()->clear();
    OpenMenu();
    EXPECT_FALSE(Action("CopytoPort1")->isEnabled());
    EXPECT_FALSE(Action("CopyToPortCR")->isEnabled());
    EXPECT_FALSE(Action("CopytoClipboard1")->isEnabled());
    EXPECT_TRUE(Action("SelectAll1")->isEnabled());
    EXPECT_TRUE(Action("Find1")->isEnabled());
    QApplication::clipboard()->setText("x");
    OpenMenu();
    EXPECT_TRUE(Action("PastefromClipboard1")->isEnabled());
}

TEST_F(Console, PasteSendsTheClipboardTextWithEveryLineEndedByCrLf)
{
    // Text another program copied: LF alone, CR LF, and a CR of its own.
    QApplication::clipboard()->setText(QStringLiteral("x\ny\r\nz\r"));
    Button("Capture")->click();
    Action("PastefromClipboard1")->trigger();
    EXPECT_EQ(Status(6), "Normal");
    EXPECT_EQ(Sent(8), "x\r\ny\r\nz\r");
}

TEST_F(Console, SelectAllAndCopyToClipboardKeepTheViewFrozen)
{
    Receive("one\r\ntwo");
    Button("Capture")->click();
    Action("SelectAll1")->trigger();
    Action("CopytoClipboard1")->trigger();
    EXPECT_EQ(Status(6), "Capture");
    EXPECT_EQ(QApplication::clipboard()->text(), "one\r\ntwo");
    EXPECT_EQ(pty_.Drain(), "");
}

TEST_F(Console, MetaKeysSendTheirRowOfTheBankShown)
{
    Grid()->SetCells(2, 1, "ABC");
    Grid()->SetCells(3, 1, "^M");
    Button("meta1")->click();
    EXPECT_EQ(Sent(4), "ABC\r");
    Grid()->SetCells(3, 1, "");
    Button("meta1")->click();
    EXPECT_EQ(Sent(3), "ABC");
    Grid()->SetCells(2, 2, "");
    Grid()->SetCells(3, 2, "^M");
    Button("meta2")->click();
    EXPECT_EQ(Sent(1), "\r");
    Grid()->SetCells(3, 2, "");
    Button("meta2")->click();

    Grid()->SetCells(1, 29, "row29");
    Grid()->SetCells(2, 29, "cmd29");
    Button("MetaSW")->click();
    Button("MetaSW")->click();
    EXPECT_EQ(Button("MetaSW")->text(), "3");
    EXPECT_EQ(Button("meta1")->text(), "row29");
    Button("Capture")->click();
    Button("meta1")->click();  // the view stays frozen
    EXPECT_EQ(Sent(5), "cmd29");
    EXPECT_EQ(Status(6), "Capture");
    Button("MetaSW")->click();
    EXPECT_EQ(Button("MetaSW")->text(), "1");
}

TEST_F(Console, DoubleClickTogglesTheCrMarkerInItsColumnOnly)
{
    Grid()->SetCells(3, 5, "x");
    Grid()->SetCurrent(3, 5);
    DoubleClickCell();
    EXPECT_EQ(Grid()->Cells(3, 5), "^M");
    DoubleClickCell();
    EXPECT_EQ(Grid()->Cells(3, 5), "");
    Grid()->SetCells(2, 5, "cmd");
    Grid()->SetCurrent(2, 5);
    DoubleClickCell();
    EXPECT_EQ(Grid()->Cells(2, 5), "cmd");
}

TEST_F(Console, HeldTextIsReplayedWithItsOwnRules)
{
    Receive("start ");
    Button("Capture")->click();
    EXPECT_EQ(Status(6), "Capture");
    EXPECT_EQ(Button("Capture")->text(), "Exit Capture");
    Receive("AB");
    Receive(std::string("C\r\nD\b\0", 6));
    EXPECT_EQ(memo()->Model().Line(0), "start ");
    // Held lines are written as they come, though the display does not refresh.
    EXPECT_TRUE(WaitFor([&] { return ReadFile("archive/2026/12/07-12-26.CAP") == "start ABC\r\n"; }));
    Button("Capture")->click();
    EXPECT_EQ(Status(6), "Normal");
    EXPECT_EQ(Button("Capture")->text(), "View Capture");
    EXPECT_EQ(memo()->Model().Line(0), "start ABC");
    EXPECT_EQ(memo()->Model().Line(1), "D\b");  // a held backspace is kept
    EXPECT_EQ(Status(0), "Lines 2");
    EXPECT_EQ(ReadFile("archive/2026/12/07-12-26.CAP"), "start ABC\r\n");
}

TEST_F(Console, FindWalksTheMatchesThenSaysThereAreNoMoreAndStartsAgain)
{
    Receive("x abc y\r\nabc\r\n");
    Action("Find1")->trigger();
    Find<TFindDialog>("FindDialog1")->SetFindText("ABC");
    Find<TFindDialog>("FindDialog1")->SetOptions(0);
    TFindDialog* dialog = Find<TFindDialog>("FindDialog1");
    auto press = [dialog] {
        dialog->SetOptions(dialog->Options() | frFindNext);
        dialog->OnFind();
    };
    press();
    EXPECT_EQ(memo()->SelectedBytes(), "abc");
    EXPECT_EQ(memo()->Selection().first, memo()->PosOf(0, 2));
    press();
    EXPECT_EQ(memo()->SelectedBytes(), "abc");
    EXPECT_EQ(memo()->Selection().first, memo()->PosOf(1, 0));
    press();
    ASSERT_EQ(errors_.size(), 1);
    EXPECT_EQ(errors_[0], "There are no further occurences of \"ABC\" in Capture.");
    press();
    EXPECT_EQ(memo()->Selection().first, memo()->PosOf(0, 2));

    dialog->SetOptions(frMatchCase);
    Action("Find1")->trigger();
    press();
    EXPECT_EQ(errors_.last(), "Could not find \"ABC\" in Capture.");
}

TEST_F(Console, DoubleClickOnTheOpenCellEditorTogglesTheCrMarker)
{
    form_->show();
    Frame("PanelSetMeta")->show();
    TStringGrid* grid = Grid();
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

using MetaKeyFileStart = FormFixture;

TEST_F(MetaKeyFileStart, TenRecordsFillRowsOneToTenAndCaptionTheFirstBank)
{
    std::vector<TMetaKeyRecord> records(10);
    for (size_t i = 0; i < 10; ++i)
        records[i] = {"key" + std::to_string(i + 1), "cmd" + std::to_string(i + 1), i % 2 ? "^M" : ""};
    WriteFile("MetaKey.ini", EncodeMetaKeyRecords(records));
    Create();
    EXPECT_EQ(Grid()->Cells(1, 10), "key10");
    EXPECT_EQ(Grid()->Cells(2, 1), "cmd1");
    EXPECT_EQ(Grid()->Cells(3, 2), "^M");
    EXPECT_EQ(Grid()->Cells(1, 11), "");
    EXPECT_EQ(Button("meta1")->text(), "key1");
    EXPECT_EQ(Button("MetaSW")->text(), "1");
    OpenSettings();
    Button("Button3")->click();  // Save writes all 42 rows
    const std::string written = ReadFile("MetaKey.ini");
    ASSERT_EQ(written.size(), 2814u);
    EXPECT_EQ(DecodeMetaKeyRecords(written)[9].Name, "key10");
}

TEST_F(MetaKeyFileStart, TheStripIsLaidOutFromTheWindowWidth)
{
    TForm1& form = Create();
    const int step = (form.width() - 16 - 50) / 14;
    EXPECT_EQ(Find<QGroupBox>("GroupBox1")->width(), step * 14 + 53);
    EXPECT_EQ(Button("meta14")->x(), 50 + 13 * step);
    EXPECT_EQ(Button("meta14")->width(), step - 2);
}

TEST_F(MetaKeyFileStart, TheArchiveButtonShowsTheViewerAtTodaysDate)
{
    now_ = QDateTime(QDate(2026, 3, 2), QTime(9, 30));
    TForm1& form = Create();
    TForm2 viewer;
    form.SetArchiveWindow(&viewer);
    Button("ButtonArch")->click();
    EXPECT_TRUE(viewer.isVisible());
    EXPECT_EQ(viewer.SpinEditY->value(), 2026);
    EXPECT_EQ(viewer.ComboBoxM->currentIndex(), 2);
    EXPECT_EQ(viewer.SpinEditD->value(), 2);
    EXPECT_EQ(viewer.Label1->text(), "No File Open");
}

TEST_F(Console, KeysWithoutACharacterSendNothing)
{
    for (const Qt::Key key : {Qt::Key_Delete, Qt::Key_Insert, Qt::Key_Left, Qt::Key_Up, Qt::Key_Home, Qt::Key_PageDown,
                              Qt::Key_F1, Qt::Key_F12, Qt::Key_Backtab})
        Key(memo(), key, Qt::NoModifier, key == Qt::Key_Delete ? QStringLiteral("\x7f") : QString());
    Key(memo(), Qt::Key_1, Qt::ControlModifier, "1");       // Ctrl with a digit
    Key(memo(), Qt::Key_BracketLeft, Qt::ControlModifier);  // Ctrl with a sign
    EXPECT_EQ(pty_.Drain(), "");
    Key(memo(), Qt::Key_Enter, Qt::KeypadModifier, "\r");
    Key(memo(), Qt::Key_A, Qt::ShiftModifier, "A");
    EXPECT_EQ(Sent(2), "\rA");
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
    Action("CopytoClipboard1")->trigger();
    Action("PastefromClipboard1")->trigger();
    EXPECT_EQ(QApplication::clipboard()->text().size(), 9);
    EXPECT_EQ(Sent(9), std::string("a\xA0\x98z\r\nb\tc"));
}

TEST_F(Console, TerminalShortcutsCopyPasteAndFindWhileCtrlLettersStayCodes)
{
    Receive("copy me\r\n");
    memo()->SelectText(0, 4);
    QApplication::clipboard()->clear();
    Key(memo(), Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier, "\x03");
    EXPECT_EQ(QApplication::clipboard()->text(), "copy");
    QApplication::clipboard()->setText(QStringLiteral("DIS 1\n"));
    Key(memo(), Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier, "\x16");
    EXPECT_EQ(Sent(7), "DIS 1\r\n");
    Key(memo(), Qt::Key_Insert, Qt::ShiftModifier);
    EXPECT_EQ(Sent(7), "DIS 1\r\n");
    Key(memo(), Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier, "\x06");
    EXPECT_TRUE(Find<TFindDialog>("FindDialog1")->isVisible());
    Find<TFindDialog>("FindDialog1")->hide();
    EXPECT_EQ(pty_.Drain(), "") << "no control code went out with them";

    Key(memo(), Qt::Key_V, Qt::ControlModifier, "\x16");
    EXPECT_EQ(Sent(1), "\x16");
    // The menu names the shortcuts.
    EXPECT_EQ(Action("CopytoClipboard1")->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+C")));
    EXPECT_EQ(Action("PastefromClipboard1")->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+V")));
    EXPECT_EQ(Action("Find1")->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+F")));
    EXPECT_TRUE(Action("Find1")->isShortcutVisibleInContextMenu());
}

TEST_F(Console, TheMiddleButtonSendsNothing)
{
    Receive("selected text\r\n");
    memo()->SelectText(0, 8);
    QApplication::clipboard()->setText(QStringLiteral("clipboard"));
    QApplication::clipboard()->setText(QStringLiteral("selection"), QClipboard::Selection);
    QWidget* target = memo()->viewport();
    const QPointF at(10, 10);
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent event(type, at, target->mapToGlobal(at), Qt::MiddleButton,
                          type == QEvent::MouseButtonPress ? Qt::MiddleButton : Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(target, &event);
    }
    EXPECT_EQ(pty_.Drain(), "");
}
