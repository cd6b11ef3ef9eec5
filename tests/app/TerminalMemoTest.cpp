// The display view over a line model: what it draws, following and holding,
// the selection by mouse and keys, and its text as assistive technologies read it.
#include "app/TerminalMemo.h"
#include "core/LineModel.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QPainter>
#include <QScrollBar>
#include <QTest>
#include <cmath>
#include <gtest/gtest.h>

namespace {

class Memo : public ::testing::Test {
protected:
    void SetUp() override
    {
        QFont font(QStringLiteral("Courier New"));
        font.setStyleHint(QFont::TypeWriter);
        font.setPixelSize(16);
        memo_.setFont(font);
        memo_.SetModel(&model_);
        memo_.resize(420, 260);
        memo_.show();
        model_.AddLine();
    }
    // Completed lines, as the receive path adds them before its open line.
    void Lines(int count, const char* prefix = "line ")
    {
        for (int i = 0; i < count; ++i) {
            const int last = model_.LineCount() - 1;
            model_.AppendToLine(last, prefix + std::to_string(first_));
            model_.AddLine();
            ++first_;
        }
    }
    std::vector<TTerminalMemo::DrawnRow> Drawn()
    {
        memo_.SyncNow();
        return memo_.DrawnRows();
    }
    // A point just inside the left edge of the cell of the byte at offset.
    QPoint At(int line, size_t offset)
    {
        const QRect cell = memo_.CellRect(memo_.PosOf(line, offset));
        return {cell.left() + 1, cell.center().y()};
    }
    void Press(QPoint at, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QTest::mousePress(memo_.viewport(), Qt::LeftButton, mods, at);
    }
    void Drag(QPoint to)
    {
        QMouseEvent move(QEvent::MouseMove, QPointF(to), memo_.viewport()->mapToGlobal(QPointF(to)), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(memo_.viewport(), &move);
    }
    void Release(QPoint at) { QTest::mouseRelease(memo_.viewport(), Qt::LeftButton, Qt::NoModifier, at); }

    TLineModel model_;
    TTerminalMemo memo_;
    int first_ = 0;
};

}  // namespace

TEST_F(Memo, DrawsTheRowsInSightWithLongLinesWrappedAtTheWidth)
{
    const int columns = memo_.Columns();
    ASSERT_GT(columns, 10);
    Lines(100);
    const std::string wide = std::string(size_t(columns) * 2, 'w') + "tail";
    model_.AppendToLine(100, wide);
    auto rows = Drawn();
    // Following: the newest rows fill the view, the long line in three rows at its bottom.
    ASSERT_EQ(int(rows.size()), memo_.PageRows());
    EXPECT_EQ(rows.back().Line, 100);
    EXPECT_EQ(rows.back().Cells, "tail");
    EXPECT_EQ(rows[rows.size() - 2].Cells, QString(columns, 'w'));
    EXPECT_EQ(rows[rows.size() - 3].Start, 0u);
    EXPECT_EQ(rows[rows.size() - 4].Cells, "line 99");
    EXPECT_EQ(rows.front().Line, 100 - (memo_.PageRows() - 3));

    memo_.verticalScrollBar()->setValue(0);
    rows = Drawn();
    EXPECT_EQ(rows.front().Cells, "line 0");
    EXPECT_EQ(rows[size_t(memo_.PageRows()) - 1].Cells, QStringLiteral("line %1").arg(memo_.PageRows() - 1));

    // A narrower view wraps at its own width and keeps the top line.
    memo_.resize(300, 260);
    rows = Drawn();
    EXPECT_LT(memo_.Columns(), columns);
    EXPECT_EQ(rows.front().Cells, "line 0");
}

TEST_F(Memo, EachCellShowsItsCharacterAsTextDrawingWouldInPlainAndBold)
{
    // Latin, Cyrillic (Windows-1251) and a character the font may lack, which takes the text drawing's fallback.
    model_.AppendToLine(0, "CDR 0042 \xC0\xE1\xEE\xED\xE5\xED\xF2 \x98");
    for (const bool bold : {false, true}) {
        QFont font = memo_.font();
        font.setBold(bold);
        memo_.setFont(font);
        memo_.SyncNow();
        const QImage shown = memo_.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QImage expected(shown.size(), QImage::Format_RGB32);
        expected.fill(memo_.palette().color(QPalette::Base));
        QPainter painter(&expected);
        painter.setFont(font);
        painter.setPen(memo_.palette().color(QPalette::Text));
        const QFontMetricsF metrics(font);
        painter.drawText(QPointF(4, 4 + std::ceil(metrics.ascent())), memo_.DrawnRows().front().Cells);
        painter.end();
        const int rowHeight = int(std::ceil(metrics.lineSpacing()));
        EXPECT_EQ(shown.copy(0, 0, shown.width(), 4 + rowHeight), expected.copy(0, 0, shown.width(), 4 + rowHeight))
            << (bold ? "bold" : "plain");
    }
}

TEST_F(Memo, TheScrollBarLooksAsTheStockOne)
{
    Lines(300);
    memo_.SyncNow();
    QScrollBar* bar = memo_.verticalScrollBar();
    bar->setValue(bar->maximum() / 3);  // the slider away from both ends
    QAbstractScrollArea stock;
    stock.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    stock.setFont(memo_.font());
    stock.resize(memo_.size());
    stock.show();
    QScrollBar* stockBar = stock.verticalScrollBar();
    stockBar->setRange(bar->minimum(), bar->maximum());
    stockBar->setPageStep(bar->pageStep());
    stockBar->setValue(bar->value());
    ASSERT_EQ(bar->size(), stockBar->size());
    EXPECT_EQ(bar->grab().toImage(), stockBar->grab().toImage());
}

TEST_F(Memo, FollowsTheNewestLineUntilTheOperatorScrollsAwayThenHoldsItsText)
{
    Lines(60);
    Drawn();
    EXPECT_TRUE(memo_.Following());
    QWheelEvent up(QPointF(20, 20), memo_.viewport()->mapToGlobal(QPointF(20, 20)), QPoint(), QPoint(0, 120),
                   Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(memo_.viewport(), &up);
    EXPECT_FALSE(memo_.Following());
    const auto held = Drawn();

    Lines(30);
    model_.DeleteFirstLines(20);
    auto rows = Drawn();
    ASSERT_EQ(rows.size(), held.size());
    for (size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(rows[i].Cells, held[i].Cells);
    EXPECT_EQ(memo_.WaitingLines(), 30);
    memo_.resize(430, 200);  // a resize does not end the hold
    EXPECT_EQ(Drawn().front().Cells, held.front().Cells);

    QScrollBar* bar = memo_.verticalScrollBar();
    bar->setValue(bar->maximum());
    EXPECT_TRUE(memo_.Following());
    EXPECT_EQ(memo_.WaitingLines(), 0);
    Lines(1);
    EXPECT_EQ(Drawn()[Drawn().size() - 2].Cells, "line 90");
}

// A stream refreshes at most five times a second; a change that comes once
// the gap is over is shown on the pass of the event loop that brought it,
// not on a later wake-up of the timer.
TEST_F(Memo, AChangeThatComesOnceTheRefreshIsDueIsShownAtOnce)
{
    memo_.SyncNow();
    int refreshes = 0;
    QObject::connect(&memo_, &TTerminalMemo::Refreshed, [&] { ++refreshes; });
    Lines(1);
    QTest::qSleep(205);
    Lines(1);
    QCoreApplication::processEvents();
    EXPECT_EQ(refreshes, 1);
    EXPECT_EQ(memo_.DrawnRows()[memo_.DrawnRows().size() - 2].Cells, "line 1");
}

TEST_F(Memo, AHeldViewWhoseLinesAreTrimmedAwayShowsTheFirstLine)
{
    Lines(60);
    Drawn();
    memo_.verticalScrollBar()->setValue(2);
    model_.DeleteFirstLines(40);
    EXPECT_EQ(Drawn().front().Cells, "line 40");
    EXPECT_FALSE(memo_.Following());
}

TEST_F(Memo, ASelectionAcrossWrappedRowsAndLinesIsItsBytesWithCrLfBetweenLines)
{
    const int columns = memo_.Columns();
    std::string first;
    for (int i = 0; i < columns * 2 + 3; ++i)
        first += char('a' + i % 26);
    model_.AppendToLine(0, first);
    model_.AddLine();
    model_.AppendToLine(1, "xyz");
    Drawn();
    // Dragged from the first row's last cells into the second row: the wrap adds nothing.
    Press(At(0, size_t(columns) - 2));
    Drag(At(0, size_t(columns) + 2));
    Release(At(0, size_t(columns) + 2));
    EXPECT_EQ(memo_.SelectedBytes(), first.substr(size_t(columns) - 2, 4));
    // Shift and a click extend it into the next line.
    Press(At(1, 2), Qt::ShiftModifier);
    Release(At(1, 2));
    EXPECT_EQ(memo_.SelectedBytes(), first.substr(size_t(columns) - 2) + "\r\nxy");
    EXPECT_EQ(memo_.SelLength(), int(memo_.SelectedBytes().size()));
    // Keys: Shift+Right takes one byte more, Shift+Up one row back.
    QTest::keyClick(&memo_, Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(memo_.SelectedBytes(), first.substr(size_t(columns) - 2) + "\r\nxyz");
    QTest::keyClick(&memo_, Qt::Key_Up, Qt::ShiftModifier);
    EXPECT_EQ(memo_.Selection().second, memo_.PosOf(0, size_t(columns) * 2 + 3));
}

TEST_F(Memo, CopyPutsEveryByteOnTheClipboardWithCrLfBetweenLines)
{
    model_.AppendToLine(0, "a\xA0\xC0");
    model_.AddLine();
    model_.AppendToLine(1, "b");
    Drawn();
    memo_.selectAll();
    memo_.copy();
    EXPECT_EQ(QApplication::clipboard()->text(), QString::fromUtf8("a\u00A0\u0410\r\nb"));
    memo_.Select(memo_.PosOf(1, 0), memo_.PosOf(1, 0));
    memo_.copy();  // nothing selected: the clipboard keeps what it had
    EXPECT_EQ(QApplication::clipboard()->text(), QString::fromUtf8("a\u00A0\u0410\r\nb"));
}

TEST_F(Memo, ASelectionStaysOnItsTextWhileLinesAreAddedAndTrimmed)
{
    Lines(50);
    Drawn();
    memo_.Select(memo_.PosOf(10, 0), memo_.PosOf(12, 2));
    ASSERT_EQ(memo_.SelectedBytes(), "line 10\r\nline 11\r\nli");
    model_.DeleteFirstLines(5);
    Lines(10);
    EXPECT_EQ(memo_.SelectedBytes(), "line 10\r\nline 11\r\nli");
    // Its first line trimmed: it shrinks to what is left.
    model_.DeleteFirstLines(6);
    EXPECT_EQ(memo_.SelectedBytes(), "line 11\r\nli");
    // All of it trimmed: nothing is selected, no other text.
    model_.DeleteFirstLines(2);
    EXPECT_EQ(memo_.SelLength(), 0);
    EXPECT_EQ(memo_.SelectedBytes(), "");
}

TEST_F(Memo, AMouseSelectionHoldsTheViewSoItDoesNotDriftWithNewLines)
{
    Lines(60);
    Drawn();
    Press(At(58, 0));
    Lines(10);
    Drawn();
    Drag(At(58, 4));
    Release(At(58, 4));
    EXPECT_EQ(memo_.SelectedBytes(), "line");
    EXPECT_FALSE(memo_.Following());
    EXPECT_EQ(memo_.WaitingLines(), 10);
    // A plain click while following keeps following.
    memo_.FollowNewest();
    Press(At(65, 1));
    Release(At(65, 1));
    EXPECT_TRUE(memo_.Following());
}

TEST_F(Memo, SelectTextScrollsToTheMatchAndHoldsIt)
{
    Lines(200);
    Drawn();
    const std::string text = model_.Text();
    const size_t at = text.find("line 42");
    memo_.SelectText(at, 7);
    EXPECT_EQ(memo_.SelectedBytes(), "line 42");
    EXPECT_FALSE(memo_.Following());
    auto shown = [this] {
        for (const auto& row : Drawn())
            if (row.Cells == "line 42")
                return true;
        return false;
    };
    EXPECT_TRUE(shown());
    Lines(20);
    EXPECT_TRUE(shown());
}

TEST_F(Memo, AssistiveTechnologiesReadTheTextTheCaretAndTheSelection)
{
    model_.AppendToLine(0, "first");
    model_.AddLine();
    model_.AppendToLine(1, "\xC0\xE2");
    Drawn();
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(&memo_);
    ASSERT_NE(face, nullptr);
    EXPECT_EQ(face->role(), QAccessible::EditableText);
    EXPECT_TRUE(face->state().readOnly);
    EXPECT_TRUE(face->state().multiLine);
    QAccessibleTextInterface* text = face->textInterface();
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->characterCount(), 8);
    EXPECT_EQ(text->text(0, 8), QString::fromUtf8("first\n\u0410\u0432"));
    EXPECT_EQ(text->text(3, 7), QString::fromUtf8("st\n\u0410"));

    memo_.Select(memo_.PosOf(0, 1), memo_.PosOf(1, 1));
    int start = 0, end = 0;
    ASSERT_EQ(text->selectionCount(), 1);
    text->selection(0, &start, &end);
    EXPECT_EQ(start, 1);
    EXPECT_EQ(end, 7);
    EXPECT_EQ(text->cursorPosition(), 7);
    text->setSelection(0, 2, 4);
    EXPECT_EQ(memo_.SelectedBytes(), "rs");

    const QRect cell = text->characterRect(6);
    ASSERT_TRUE(cell.isValid());
    EXPECT_EQ(text->offsetAtPoint(cell.center() - QPoint(cell.width() / 4, 0)), 6);
}
