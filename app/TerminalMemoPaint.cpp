// The display's drawing: only the rows in sight, each as up to three runs
// (before, in and after the selection) on a grid of character cells, the
// caret while focused (steady: a blink would wake the program twice a
// second), and the marker of lines waiting below while the view holds still.
#include "app/TerminalMemo.h"

#include "core/LineModel.h"

#include <QGlyphRun>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>

void TTerminalMemo::paintEvent(QPaintEvent* event)
{
    if (dirty_) {
        // Rows outside this paint may have moved too.
        Relayout();
        viewport()->update();
    }
    QPainter painter(viewport());
    const QRect area = event->rect();
    for (int y = area.top(); y <= area.bottom(); y += kFillBand)
        painter.fillRect(QRect(area.left(), y, area.width(), std::min(kFillBand, area.bottom() + 1 - y)),
                         palette().color(QPalette::Base));
    markerRect_ = QRect();
    if (!model_ || layout_.LineCount() == 0)
        return;
    painter.setFont(font());
    const auto selection = Selection();
    auto [line, row] = layout_.LineAtRow(topRow_);
    for (int y = kMargin; y < viewport()->height() && line < layout_.LineCount(); y += rowHeight_) {
        if (y + rowHeight_ > event->rect().top() && y <= event->rect().bottom())
            DrawRow(painter, line, row, y, selection);
        if (++row >= layout_.Rows(line)) {
            ++line;
            row = 0;
        }
    }
    const QRect caret = CellRect(Caret());
    if (hasFocus() && caret.isValid())
        painter.fillRect(QRect(caret.left(), caret.top(), 2, caret.height()), palette().color(QPalette::Text));
    DrawMarker(painter);
}

void TTerminalMemo::DrawRow(QPainter& painter, int line, int row, int y,
                            const std::pair<TextPos, TextPos>& selection) const
{
    const QString cells = layout_.RowCells(line, row);
    const size_t start = layout_.RowStart(line, row);
    const size_t end = layout_.RowStart(line, row + 1);
    const int64_t number = firstLine_ + line;
    const auto [from, to] = selection;
    int selFrom = 0, selTo = 0;  // selected cells of the row
    if (from < to && number >= from.Line && number <= to.Line) {
        const size_t a = number == from.Line ? std::max(start, from.Offset) : start;
        const size_t b = number == to.Line ? std::min(end, to.Offset) : end;
        if (a < b) {
            selFrom = layout_.ColumnIn(line, row, a);
            selTo = layout_.ColumnIn(line, row, b);
        }
        // A selected line end shows as one more cell.
        if (number < to.Line && row + 1 == layout_.Rows(line) && (number > from.Line || from.Offset <= end)) {
            if (selTo == selFrom)
                selFrom = selTo = int(cells.size());
            selTo += 1;
        }
    }
    const QPalette& pal = palette();
    const qreal left = kMargin;
    const int baseline = y + ascent_;
    auto run = [&](int first, int last, const QColor& colour) {
        if (last <= first || first >= cells.size())
            return;
        painter.setPen(colour);
        DrawCells(painter, QPointF(left + first * cellWidth_, baseline), cells.mid(first, last - first));
    };
    if (IsMarked && IsMarked(number)) {
        // Dark red under light text, light red under dark text (the capture view).
        const QColor band = pal.color(QPalette::Text).lightness() > 128 ? QColor(150, 0, 0) : QColor(255, 140, 140);
        painter.fillRect(QRectF(0, y, viewport()->width(), rowHeight_), band);
    }
    if (selTo > selFrom) {
        painter.fillRect(QRectF(left + selFrom * cellWidth_, y, (selTo - selFrom) * cellWidth_, rowHeight_),
                         pal.color(QPalette::Highlight));
    }
    run(0, selFrom, pal.color(QPalette::Text));
    run(selFrom, selTo, pal.color(QPalette::HighlightedText));
    run(std::max(selFrom, selTo), int(cells.size()), pal.color(QPalette::Text));
}

// A row's text is one character per cell: its glyphs need no shaping, which
// would cost more than the rest of a refresh. A character the font lacks
// sends the run to the text drawing that finds another font for it.
void TTerminalMemo::DrawCells(QPainter& painter, QPointF at, const QString& cells) const
{
    const QList<quint32> glyphs = rawFont_.isValid() ? rawFont_.glyphIndexesForString(cells) : QList<quint32>();
    if (glyphs.size() != cells.size() || glyphs.contains(0)) {
        painter.drawText(at, cells);
        return;
    }
    QList<QPointF> positions(glyphs.size());
    for (qsizetype i = 0; i < positions.size(); ++i)
        positions[i] = QPointF(qreal(i) * cellWidth_, 0);
    QGlyphRun run;
    run.setRawFont(rawFont_);
    run.setGlyphIndexes(glyphs);
    run.setPositions(positions);
    painter.drawGlyphRun(at, run);
}

void TTerminalMemo::DrawMarker(QPainter& painter)
{
    const int waiting = WaitingLines();
    if (waiting <= 0)
        return;
    const QString text =
        waiting == 1 ? QStringLiteral("\u25BC 1 new line") : QStringLiteral("\u25BC %1 new lines").arg(waiting);
    const QFontMetrics metrics(painter.font());
    const QSize size(metrics.horizontalAdvance(text) + 12, metrics.height() + 4);
    markerRect_ = QRect(QPoint(viewport()->width() - size.width() - 6, viewport()->height() - size.height() - 6), size);
    painter.setPen(Qt::NoPen);
    painter.setBrush(palette().color(QPalette::Highlight));
    painter.drawRoundedRect(markerRect_, 4, 4);
    painter.setPen(palette().color(QPalette::HighlightedText));
    painter.drawText(markerRect_, Qt::AlignCenter, text);
}

void TTerminalMemo::UpdateChanged(const TextPos& oldTop, int64_t changedFrom, bool marker)
{
    QWidget* view = viewport();
    const int oldIndex = Index(oldTop);
    if (oldIndex < 0 || oldIndex >= layout_.LineCount()) {
        view->update();
        return;
    }
    const int64_t shift = topRow_ - (layout_.FirstRowOf(oldIndex) + layout_.RowOf(oldIndex, oldTop.Offset));
    if (shift < 0 || shift >= PageRows()) {
        view->update();
        return;
    }
    const QRect rows(0, kMargin, view->width(), view->height() - kMargin);
    if (shift > 0)
        view->scroll(0, -int(shift) * rowHeight_, rows);
    if (changedFrom < INT64_MAX) {
        const int index = std::max(0, Index({changedFrom, 0}));
        const int64_t row = index < layout_.LineCount() ? layout_.FirstRowOf(index) : layout_.TotalRows();
        const int64_t y = kMargin + (row - topRow_) * rowHeight_;
        if (y < view->height())
            view->update(QRect(0, int(std::max<int64_t>(0, y)), view->width(), view->height()));
    }
    if (marker) {
        const int band = QFontMetrics(font()).height() + 16;
        view->update(QRect(0, view->height() - band, view->width(), band));
    }
}

std::vector<TTerminalMemo::DrawnRow> TTerminalMemo::DrawnRows() const
{
    std::vector<DrawnRow> rows;
    if (!model_ || layout_.LineCount() == 0)
        return rows;
    auto [line, row] = layout_.LineAtRow(topRow_);
    for (int y = kMargin; y < maximumViewportSize().height() && line < layout_.LineCount(); y += rowHeight_) {
        rows.push_back(
            {line, layout_.RowStart(line, row), layout_.RowStart(line, row + 1), layout_.RowCells(line, row)});
        if (++row >= layout_.Rows(line)) {
            ++line;
            row = 0;
        }
    }
    return rows;
}

QRect TTerminalMemo::CellRect(const TextPos& pos) const
{
    const int index = Index(pos);
    if (!model_ || index < 0 || index >= layout_.LineCount())
        return {};
    const int row = layout_.RowOf(index, pos.Offset);
    const int64_t shown = layout_.FirstRowOf(index) + row - topRow_;
    if (shown < 0 || shown > PageRows())
        return {};
    const int x = kMargin + int(layout_.ColumnOf(index, pos.Offset) * cellWidth_);
    return {x, kMargin + int(shown) * rowHeight_, std::max(1, int(cellWidth_)), rowHeight_};
}

TTerminalMemo::TextPos TTerminalMemo::PosAt(QPointF point) const
{
    if (!model_ || layout_.LineCount() == 0)
        return End();
    const int64_t row = topRow_ + int64_t(std::floor((point.y() - kMargin) / rowHeight_));
    if (row < 0)
        return {firstLine_, 0};
    if (row >= layout_.TotalRows())
        return End();
    const auto [line, lineRow] = layout_.LineAtRow(row);
    return PosOf(line, layout_.OffsetAt(line, lineRow, (point.x() - kMargin) / cellWidth_));
}

void TTerminalMemo::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void TTerminalMemo::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}
