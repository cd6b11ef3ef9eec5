#include "app/TerminalLayout.h"

#include "core/LineModel.h"
#include "support/CodePage.h"

#include <algorithm>

namespace {

bool Special(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

}  // namespace

int TTerminalLayout::CellWidth(unsigned char byte, int column, int columns)
{
    if (byte == '\t')
        return std::max(1, std::min(8 - column % 8, columns - column));
    return Special(byte) ? 2 : 1;
}

void TTerminalLayout::SetModel(const TLineModel* model)
{
    model_ = model;
    lines_.clear();
    totalRows_ = 0;
    dirtyFrom_ = 0;
}

void TTerminalLayout::SetColumns(int columns)
{
    columns = std::max(1, columns);
    if (columns == columns_)
        return;
    columns_ = columns;
    lines_.clear();
    totalRows_ = 0;
    dirtyFrom_ = 0;
}

void TTerminalLayout::Changed(int index) { dirtyFrom_ = std::min(dirtyFrom_, index); }

void TTerminalLayout::Shortened(int index)
{
    if (index < LineCount()) {
        Line& line = lines_[size_t(index)];
        const int rows = line.Rows;
        Truncate(line, Bytes(index));
        totalRows_ += line.Rows - rows;
    }
    Changed(index);
}

void TTerminalLayout::FrontRemoved(int count)
{
    const int gone = std::min(count, LineCount());
    for (int i = 0; i < gone; ++i) {
        totalRows_ -= lines_.front().Rows;
        lines_.pop_front();
    }
    dirtyFrom_ = std::max(0, dirtyFrom_ - count);
}

std::string_view TTerminalLayout::Bytes(int line) const { return model_->Line(line); }

void TTerminalLayout::Update()
{
    if (!model_)
        return;
    const int count = model_->LineCount();
    while (LineCount() > count) {
        totalRows_ -= lines_.back().Rows;
        lines_.pop_back();
    }
    for (int i = std::min(dirtyFrom_, LineCount()); i < count; ++i) {
        if (i == LineCount()) {
            lines_.emplace_back();
            totalRows_ += 1;
        }
        Line& line = lines_[size_t(i)];
        const int rows = line.Rows;
        const std::string_view bytes = Bytes(i);
        if (bytes.size() < line.Measured)
            Truncate(line, bytes);
        Extend(line, bytes);
        totalRows_ += line.Rows - rows;
    }
    dirtyFrom_ = count;
}

void TTerminalLayout::PlainRows(Line& line, size_t size) const
{
    const size_t columns = size_t(columns_);
    const size_t rows = size == 0 ? 1 : (size + columns - 1) / columns;
    line.Measured = size;
    line.Rows = int(rows);
    line.Column = int(size - (rows - 1) * columns);
}

void TTerminalLayout::Extend(Line& line, std::string_view bytes) const
{
    size_t i = line.Measured;
    if (line.Plain) {
        while (i < bytes.size() && !Special(static_cast<unsigned char>(bytes[i])))
            ++i;
        PlainRows(line, i);
        if (i == bytes.size())
            return;
        // The first tab or control byte: from here on each row's start is kept.
        line.Plain = false;
        line.Starts.clear();
        for (int row = 1; row < line.Rows; ++row)
            line.Starts.push_back(size_t(row) * size_t(columns_));
    }
    for (; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (line.Column >= columns_) {
            line.Starts.push_back(i);
            line.Column = 0;
        }
        int width = CellWidth(byte, line.Column, columns_);
        if (line.Column + width > columns_ && line.Column > 0) {
            line.Starts.push_back(i);
            line.Column = 0;
            width = CellWidth(byte, 0, columns_);
        }
        line.Column += width;
    }
    line.Measured = bytes.size();
    line.Rows = int(line.Starts.size()) + 1;
}

void TTerminalLayout::Truncate(Line& line, std::string_view bytes) const
{
    const size_t size = bytes.size();
    if (size >= line.Measured)
        return;
    if (line.Plain) {
        PlainRows(line, size);
        return;
    }
    while (!line.Starts.empty() && line.Starts.back() >= size)
        line.Starts.pop_back();
    const size_t from = line.Starts.empty() ? 0 : line.Starts.back();
    line.Column = 0;
    for (size_t i = from; i < size; ++i)
        line.Column += CellWidth(static_cast<unsigned char>(bytes[i]), line.Column, columns_);
    line.Measured = size;
    line.Rows = int(line.Starts.size()) + 1;
}

size_t TTerminalLayout::RowStart(int line, int row) const
{
    const Line& l = lines_[size_t(line)];
    if (row <= 0)
        return 0;
    if (row >= l.Rows)
        return l.Measured;
    return l.Plain ? size_t(row) * size_t(columns_) : l.Starts[size_t(row) - 1];
}

int TTerminalLayout::RowOf(int line, size_t offset) const
{
    const Line& l = lines_[size_t(line)];
    const size_t row = l.Plain ? offset / size_t(columns_)
                               : size_t(std::upper_bound(l.Starts.begin(), l.Starts.end(), offset) - l.Starts.begin());
    return int(std::min(row, size_t(l.Rows) - 1));
}

int TTerminalLayout::ColumnIn(int line, int row, size_t offset) const
{
    const size_t start = RowStart(line, row);
    offset = std::clamp(offset, start, RowStart(line, row + 1));
    if (lines_[size_t(line)].Plain)
        return int(offset - start);
    const std::string_view bytes = Bytes(line);
    int column = 0;
    for (size_t i = start; i < offset && i < bytes.size(); ++i)
        column += CellWidth(static_cast<unsigned char>(bytes[i]), column, columns_);
    return column;
}

size_t TTerminalLayout::OffsetAt(int line, int row, double column) const
{
    const size_t start = RowStart(line, row);
    const size_t end = RowStart(line, row + 1);
    if (lines_[size_t(line)].Plain)
        return std::clamp(start + size_t(std::max(0.0, column + 0.5)), start, end);
    const std::string_view bytes = Bytes(line);
    int at = 0;
    for (size_t i = start; i < end; ++i) {
        const int width = CellWidth(static_cast<unsigned char>(bytes[i]), at, columns_);
        if (column < at + width / 2.0)
            return i;
        at += width;
    }
    return end;
}

int64_t TTerminalLayout::FirstRowOf(int line) const
{
    line = std::clamp(line, 0, LineCount());
    // From the nearer end, as LineAtRow: the view mostly shows the newest lines.
    int64_t row = 0;
    if (line <= LineCount() / 2) {
        for (int i = 0; i < line; ++i)
            row += lines_[size_t(i)].Rows;
        return row;
    }
    for (int i = line; i < LineCount(); ++i)
        row += lines_[size_t(i)].Rows;
    return totalRows_ - row;
}

std::pair<int, int> TTerminalLayout::LineAtRow(int64_t row) const
{
    if (lines_.empty())
        return {0, 0};
    row = std::clamp<int64_t>(row, 0, totalRows_ - 1);
    // From the nearer end: the view mostly shows the newest lines.
    if (row < totalRows_ / 2) {
        for (int i = 0;; ++i) {
            if (row < lines_[size_t(i)].Rows)
                return {i, int(row)};
            row -= lines_[size_t(i)].Rows;
        }
    }
    int64_t below = totalRows_ - 1 - row;  // rows after the one asked for
    for (int i = LineCount() - 1;; --i) {
        const int rows = lines_[size_t(i)].Rows;
        if (below < rows)
            return {i, int(rows - 1 - below)};
        below -= rows;
    }
}

QString TTerminalLayout::RowCells(int line, int row) const
{
    const std::string_view bytes = Bytes(line);
    const size_t start = RowStart(line, row);
    const size_t end = std::min(RowStart(line, row + 1), bytes.size());
    QString cells;
    cells.reserve(qsizetype(end - start) + 8);
    int column = 0;
    for (size_t i = start; i < end; ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        const int width = CellWidth(byte, column, columns_);
        if (byte == '\t') {
            cells.append(QString(width, QChar(' ')));
        } else if (Special(byte)) {
            cells.append(QChar('^'));
            cells.append(QChar(char16_t(byte ^ 0x40)));
        } else if (byte == 0xAD) {
            cells.append(QChar('-'));  // the soft hyphen would draw nothing
        } else {
            const QChar ch = CodePage::ByteToChar(byte);
            cells.append(ch.isPrint() ? ch : QChar('?'));
        }
        column += width;
    }
    return cells;
}
