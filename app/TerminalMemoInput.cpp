// The display's keys and mouse: the window's key hooks first, then copy,
// select all and caret moves (Shift extends the selection); mouse selection,
// a double click for a word. A middle click pastes nothing: a stray click
// must never send text to the PBX.
#include "app/TerminalMemo.h"

#include "core/LineModel.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QScrollBar>

namespace {

bool WordByte(unsigned char byte) { return std::isalnum(byte) || byte == '_' || byte >= 0xC0; }

}  // namespace

void TTerminalMemo::keyPressEvent(QKeyEvent* event)
{
    if (OnKeyDown)
        OnKeyDown(event);
    if (OnKeyPress)
        OnKeyPress(event);
    if (event->matches(QKeySequence::Copy)) {
        copy();
    } else if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
    } else if (!MoveCaret(event)) {
        event->ignore();
        return;
    }
    event->accept();
}

bool TTerminalMemo::MoveCaret(QKeyEvent* event)
{
    using K = QKeySequence;
    struct Move {
        K::StandardKey Plain, Extend;
        int Rows;       // rows to move, or a page (±1000000) or the text's end (±2000000)
        int Character;  // bytes to move in the line
        int RowEnd;     // -1: start of the row, 1: its end
    };
    static const Move moves[] = {
        {K::MoveToNextChar, K::SelectNextChar, 0, 1, 0},
        {K::MoveToPreviousChar, K::SelectPreviousChar, 0, -1, 0},
        {K::MoveToNextLine, K::SelectNextLine, 1, 0, 0},
        {K::MoveToPreviousLine, K::SelectPreviousLine, -1, 0, 0},
        {K::MoveToNextPage, K::SelectNextPage, 1000000, 0, 0},
        {K::MoveToPreviousPage, K::SelectPreviousPage, -1000000, 0, 0},
        {K::MoveToStartOfLine, K::SelectStartOfLine, 0, 0, -1},
        {K::MoveToEndOfLine, K::SelectEndOfLine, 0, 0, 1},
        {K::MoveToStartOfDocument, K::SelectStartOfDocument, -2000000, 0, 0},
        {K::MoveToEndOfDocument, K::SelectEndOfDocument, 2000000, 0, 0},
    };
    const Move* move = nullptr;
    bool extend = false;
    for (const Move& m : moves) {
        if (event->matches(m.Plain) || event->matches(m.Extend)) {
            move = &m;
            extend = event->matches(m.Extend);
            break;
        }
    }
    if (!move || !model_)
        return false;
    if (dirty_)
        Relayout();
    TextPos caret = Caret();
    int index = Index(caret);
    if (index >= layout_.LineCount())
        return true;
    int row = layout_.RowOf(index, caret.Offset);
    if (move->Rows == 2000000) {
        caret = End();
    } else if (move->Rows == -2000000) {
        caret = {firstLine_, 0};
    } else if (move->Character != 0) {
        const size_t size = model_->Line(index).size();
        if (move->Character > 0)
            caret = caret.Offset < size               ? TextPos{caret.Line, caret.Offset + 1}
                    : index + 1 < model_->LineCount() ? PosOf(index + 1, 0)
                                                      : caret;
        else
            caret = caret.Offset > 0 ? TextPos{caret.Line, caret.Offset - 1}
                    : index > 0      ? PosOf(index - 1, model_->Line(index - 1).size())
                                     : caret;
    } else if (move->RowEnd != 0) {
        caret.Offset = move->RowEnd < 0 ? layout_.RowStart(index, row)
                                        : std::min(layout_.RowStart(index, row + 1), model_->Line(index).size());
    } else {
        const int rows = std::abs(move->Rows) == 1000000 ? (move->Rows > 0 ? PageRows() : -PageRows()) : move->Rows;
        const int column = layout_.ColumnOf(index, caret.Offset);
        const auto [line, lineRow] = layout_.LineAtRow(layout_.FirstRowOf(index) + row + rows);
        caret = PosOf(line, layout_.OffsetAt(line, lineRow, column));
    }
    caret_ = caret;
    if (!extend)
        anchor_ = caret;
    ShowPos(caret_);
    if (move->Rows == 2000000)
        FollowNewest();
    SelectionChanged();
    return true;
}

void TTerminalMemo::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();  // the middle button pastes nothing here
        return;
    }
    if (markerRect_.contains(event->position().toPoint())) {
        FollowNewest();
        return;
    }
    const TextPos at = PosAt(event->position());
    caret_ = at;
    if (!(event->modifiers() & Qt::ShiftModifier))
        anchor_ = at;
    // The view holds still under a selecting hand.
    dragging_ = true;
    followedBeforeDrag_ = following_;
    Hold();
    dragPoint_ = event->position();
    SelectionChanged();
}

void TTerminalMemo::mouseMoveEvent(QMouseEvent* event)
{
    if (!dragging_)
        return;
    dragPoint_ = event->position();
    caret_ = PosAt(dragPoint_);
    const bool outside = dragPoint_.y() < 0 || dragPoint_.y() >= viewport()->height();
    if (outside && !dragTimer_.isActive())
        dragTimer_.start();
    else if (!outside)
        dragTimer_.stop();
    SelectionChanged();
}

void TTerminalMemo::DragStep()
{
    const int step = dragPoint_.y() < 0 ? -1 : 1;
    verticalScrollBar()->setValue(verticalScrollBar()->value() + step);
    caret_ = PosAt(dragPoint_);
    SelectionChanged();
}

void TTerminalMemo::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !dragging_)
        return;
    dragging_ = false;
    dragTimer_.stop();
    // A click without a selection, or a selection while nothing arrived, leaves following as it was.
    if (followedBeforeDrag_ && (SelLength() == 0 || topRow_ >= MaxTop()))
        FollowNewest();
    QClipboard* clipboard = QApplication::clipboard();
    if (SelLength() > 0 && clipboard->supportsSelection())
        clipboard->setMimeData(CreateMimeData(), QClipboard::Selection);
}

void TTerminalMemo::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !model_)
        return;
    const TextPos at = PosAt(event->position());
    const int index = Index(at);
    if (index < 0 || index >= model_->LineCount())
        return;
    const std::string& line = model_->Line(index);
    size_t from = at.Offset, to = at.Offset;
    while (from > 0 && WordByte(static_cast<unsigned char>(line[from - 1])))
        --from;
    while (to < line.size() && WordByte(static_cast<unsigned char>(line[to])))
        ++to;
    Select({at.Line, from}, {at.Line, to});
    dragging_ = false;
}
