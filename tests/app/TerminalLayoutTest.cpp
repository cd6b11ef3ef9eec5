// The display's layout of lines into rows of cells, checked against what a
// fresh layout of the same text gives: growing a line piece by piece, cutting
// it, and trimming lines must never leave rows that a new layout would not draw.
#include "app/TerminalLayout.h"
#include "core/LineModel.h"

#include <gtest/gtest.h>
#include <random>

namespace {

class TerminalLayout : public ::testing::Test {
protected:
    void SetUp() override
    {
        model_.OnChanged = [this](int index) { layout_.Changed(index); };
        model_.OnShortened = [this](int index) { layout_.Shortened(index); };
        model_.OnFrontRemoved = [this](int count) { layout_.FrontRemoved(count); };
        layout_.SetModel(&model_);
        layout_.SetColumns(10);
    }
    void Add(const std::string& text)
    {
        model_.AddLine();
        model_.AppendToLine(model_.LineCount() - 1, text);
    }
    // Every row of every line, as a fresh layout of the model gives them.
    void ExpectSameAsFresh()
    {
        layout_.Update();
        TTerminalLayout fresh;
        fresh.SetModel(&model_);
        fresh.SetColumns(layout_.Columns());
        fresh.Update();
        ASSERT_EQ(layout_.LineCount(), fresh.LineCount());
        EXPECT_EQ(layout_.TotalRows(), fresh.TotalRows());
        int64_t above = 0;
        for (int line = 0; line < fresh.LineCount(); ++line) {
            ASSERT_EQ(layout_.Rows(line), fresh.Rows(line)) << "line " << line;
            for (int row = 0; row <= fresh.Rows(line); ++row)
                EXPECT_EQ(layout_.RowStart(line, row), fresh.RowStart(line, row)) << line << "/" << row;
            EXPECT_EQ(layout_.FirstRowOf(line), above) << "line " << line;
            above += fresh.Rows(line);
        }
        EXPECT_EQ(layout_.FirstRowOf(fresh.LineCount()), above);
    }

    TLineModel model_;
    TTerminalLayout layout_;
};

}  // namespace

TEST_F(TerminalLayout, LinesWrapAtTheColumnsAndAFullRowTakesNoEmptyOneAfterIt)
{
    Add("");
    Add("0123456789");
    Add("0123456789A");
    Add(std::string(25, 'x'));
    layout_.Update();
    EXPECT_EQ(layout_.Rows(0), 1);
    EXPECT_EQ(layout_.Rows(1), 1);
    EXPECT_EQ(layout_.Rows(2), 2);
    EXPECT_EQ(layout_.Rows(3), 3);
    EXPECT_EQ(layout_.TotalRows(), 7);
    EXPECT_EQ(layout_.RowStart(3, 2), 20u);
    EXPECT_EQ(layout_.RowCells(2, 1), "A");
    // The end of a full row is shown at that row's end, not on a new row.
    EXPECT_EQ(layout_.RowOf(1, 10), 0);
    EXPECT_EQ(layout_.ColumnOf(1, 10), 10);
    EXPECT_EQ(layout_.LineAtRow(4), std::make_pair(3, 0));
    EXPECT_EQ(layout_.LineAtRow(6), std::make_pair(3, 2));
    EXPECT_EQ(layout_.LineAtRow(99), std::make_pair(3, 2));
    EXPECT_EQ(layout_.FirstRowOf(3), 4);
}

TEST_F(TerminalLayout, TabsRunToTheNextStopAndControlBytesShowAsCaretLetters)
{
    Add("ab\tc");
    Add("12345678\tx");    // the tab at the stop ends the row
    Add("123456789\x1b");  // ^[ does not fit in the last cell and wraps whole
    Add(std::string("a\0\x7F\xC0\xAD", 5));
    layout_.Update();
    EXPECT_EQ(layout_.RowCells(0, 0), "ab      c");
    EXPECT_EQ(layout_.ColumnOf(0, 3), 8);
    EXPECT_EQ(layout_.Rows(1), 2);
    EXPECT_EQ(layout_.RowCells(1, 0), "12345678  ");
    EXPECT_EQ(layout_.RowCells(1, 1), "x");
    EXPECT_EQ(layout_.Rows(2), 2);
    EXPECT_EQ(layout_.RowCells(2, 1), "^[");
    EXPECT_EQ(layout_.RowCells(3, 0), QString::fromUtf8("a^@^?\u0410-"));
    // A point in the first half of a wide cell stands before its byte, in the second half after it.
    EXPECT_EQ(layout_.OffsetAt(0, 0, 3.0), 2u);
    EXPECT_EQ(layout_.OffsetAt(0, 0, 6.0), 3u);
    EXPECT_EQ(layout_.OffsetAt(0, 0, 99.0), 4u);
}

TEST_F(TerminalLayout, ALineLaidOutAsItGrowsAndShrinksEndsAsAFreshLayout)
{
    std::mt19937 random(7);
    const std::string alphabet = std::string("abcdefgh\t\x01 ", 11);
    for (int round = 0; round < 300; ++round) {
        if (model_.LineCount() == 0 || random() % 5 == 0)
            model_.AddLine();
        const int last = model_.LineCount() - 1;
        switch (random() % 4) {
        case 0:
            model_.ShortenLine(last, random() % 6);
            break;
        default: {
            std::string piece(random() % 9, 'x');
            for (char& c : piece)
                c = alphabet[random() % alphabet.size()];
            model_.AppendToLine(last, piece);
        }
        }
        if (random() % 7 == 0)
            model_.DeleteFirstLines(int(random() % 3));
        if (random() % 3 == 0)
            layout_.Update();
        if (random() % 50 == 0)
            layout_.SetColumns(3 + int(random() % 12));
        if (round % 25 == 0)
            ExpectSameAsFresh();
    }
    ExpectSameAsFresh();
}

TEST_F(TerminalLayout, ABackspaceThatReplacesATabBeforeTheNextUpdateIsLaidOutAgain)
{
    Add("123\t");
    layout_.Update();
    EXPECT_EQ(layout_.ColumnOf(0, 4), 8);
    model_.ShortenLine(0, 1);
    model_.AppendToLine(0, "x");  // same size, different cells
    ExpectSameAsFresh();
    EXPECT_EQ(layout_.ColumnOf(0, 4), 4);
}

TEST_F(TerminalLayout, TrimmedLinesTakeTheirRowsWithThem)
{
    for (int i = 0; i < 5; ++i)
        Add(std::string(size_t(i) * 10 + 1, 'a'));
    layout_.Update();
    EXPECT_EQ(layout_.TotalRows(), 1 + 2 + 3 + 4 + 5);
    model_.DeleteFirstLines(2);
    EXPECT_EQ(layout_.TotalRows(), 3 + 4 + 5);
    Add("b");
    ExpectSameAsFresh();
    EXPECT_EQ(layout_.RowCells(3, 0), "b");
}
