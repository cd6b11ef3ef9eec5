#pragma once
// Where the display's lines fall: each line of the line model wraps at a
// number of columns into rows of character cells. A byte takes one cell, a tab
// runs to the next multiple of 8 within its row, and another control byte shows
// as ^X in two cells. A line is laid out as it grows, from where it was left,
// so a long line costs its new bytes only.
#include <QString>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string_view>
#include <utility>
#include <vector>

class TLineModel;

class TTerminalLayout {
public:
    void SetModel(const TLineModel* model);
    // Lays every line out again when the count differs.
    void SetColumns(int columns);
    int Columns() const { return columns_; }

    // The model's notices, as they come.
    void Changed(int index);
    void Shortened(int index);
    void FrontRemoved(int count);
    // Brings the rows up to date with the model.
    void Update();

    // Lines laid out: the model's lines at the last update.
    int LineCount() const { return int(lines_.size()); }
    int64_t TotalRows() const { return totalRows_; }
    int Rows(int line) const { return lines_[size_t(line)].Rows; }
    // Where row begins in the line's bytes; row Rows(line) gives the line's size.
    size_t RowStart(int line, int row) const;
    // The row holding offset; the end of a full row stays on it.
    int RowOf(int line, size_t offset) const;
    // The cell column of offset in its row, and in the row given.
    int ColumnOf(int line, size_t offset) const { return ColumnIn(line, RowOf(line, offset), offset); }
    int ColumnIn(int line, int row, size_t offset) const;
    // The offset nearest to cell column column of the row.
    size_t OffsetAt(int line, int row, double column) const;
    // Rows above the line.
    int64_t FirstRowOf(int line) const;
    // The line and its row at an absolute row, clamped to the text.
    std::pair<int, int> LineAtRow(int64_t row) const;
    // The row's cells as characters to draw.
    QString RowCells(int line, int row) const;
    // Cells taken by byte at column of a row of columns cells.
    static int CellWidth(unsigned char byte, int column, int columns);

private:
    struct Line {
        size_t Measured = 0;  // bytes laid out
        int Column = 0;       // cell column after the measured bytes
        int Rows = 1;
        bool Plain = true;           // no tab or control byte so far: rows by arithmetic
        std::vector<size_t> Starts;  // where each row after the first begins; not for plain lines
    };
    std::string_view Bytes(int line) const;
    void Extend(Line& line, std::string_view bytes) const;
    void Truncate(Line& line, std::string_view bytes) const;
    void PlainRows(Line& line, size_t size) const;

    const TLineModel* model_ = nullptr;
    int columns_ = 80;
    std::deque<Line> lines_;
    int64_t totalRows_ = 0;
    int dirtyFrom_ = 0;
};
