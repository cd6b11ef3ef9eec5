#include "app/TerminalMemoAccessible.h"

#include "core/LineModel.h"
#include "support/CodePage.h"

#include <QAccessible>
#include <algorithm>
#include <climits>

namespace {

QAccessibleInterface* Factory(const QString& key, QObject* object)
{
    if (key == QLatin1String("TTerminalMemo") && object && object->isWidgetType())
        return new TTerminalMemoAccessible(static_cast<TTerminalMemo*>(object));
    return nullptr;
}

int Clamp(size_t value) { return int(std::min<size_t>(value, INT_MAX)); }

}  // namespace

void InstallTerminalMemoAccessible()
{
    static const bool installed = [] {
        QAccessible::installFactory(Factory);
        return true;
    }();
    (void)installed;
}

int TerminalMemoOffset(const TTerminalMemo& memo, const TTerminalMemo::TextPos& pos)
{
    const TLineModel& model = memo.Model();
    const int index = std::clamp(memo.Index(pos), 0, model.LineCount());
    size_t offset = 0;
    for (int i = 0; i < index; ++i)
        offset += model.Line(i).size() + 1;
    if (index < model.LineCount())
        offset += std::min(pos.Offset, model.Line(index).size());
    return Clamp(offset);
}

TTerminalMemo::TextPos TerminalMemoPos(const TTerminalMemo& memo, int offset)
{
    const TLineModel& model = memo.Model();
    size_t left = size_t(std::max(0, offset));
    for (int i = 0; i < model.LineCount(); ++i) {
        const size_t size = model.Line(i).size();
        if (left <= size || i + 1 == model.LineCount())
            return memo.PosOf(i, std::min(left, size));
        left -= size + 1;
    }
    return memo.PosOf(0, 0);
}

QString TerminalMemoText(const TTerminalMemo& memo, const TTerminalMemo::TextPos& from,
                         const TTerminalMemo::TextPos& to)
{
    const TLineModel& model = memo.Model();
    QString text;
    const int first = std::max(0, memo.Index(from)), last = std::min(memo.Index(to), model.LineCount() - 1);
    for (int i = first; i <= last; ++i) {
        const std::string& line = model.Line(i);
        const size_t start = i == memo.Index(from) ? std::min(from.Offset, line.size()) : 0;
        const size_t end = i == memo.Index(to) ? std::min(to.Offset, line.size()) : line.size();
        if (i > first)
            text += QLatin1Char('\n');
        if (end > start)
            CodePage::AppendText(text, std::string_view(line).substr(start, end - start));
    }
    return text;
}

TTerminalMemoAccessible::TTerminalMemoAccessible(TTerminalMemo* memo)
    : QAccessibleWidget(memo, QAccessible::EditableText)
{}

void* TTerminalMemoAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

QAccessible::State TTerminalMemoAccessible::state() const
{
    QAccessible::State s = QAccessibleWidget::state();
    s.readOnly = true;
    s.editable = false;
    s.multiLine = true;
    s.selectableText = true;
    return s;
}

QString TTerminalMemoAccessible::text(QAccessible::Text type) const
{
    if (type == QAccessible::Value)
        return text(0, characterCount());
    return QAccessibleWidget::text(type);
}

void TTerminalMemoAccessible::selection(int selectionIndex, int* startOffset, int* endOffset) const
{
    *startOffset = *endOffset = 0;
    if (selectionIndex != 0 || selectionCount() == 0)
        return;
    const auto [from, to] = Memo()->Selection();
    *startOffset = TerminalMemoOffset(*Memo(), from);
    *endOffset = TerminalMemoOffset(*Memo(), to);
}

int TTerminalMemoAccessible::selectionCount() const
{
    const auto [from, to] = Memo()->Selection();
    return from < to ? 1 : 0;
}

void TTerminalMemoAccessible::addSelection(int startOffset, int endOffset) { setSelection(0, startOffset, endOffset); }

void TTerminalMemoAccessible::removeSelection(int selectionIndex)
{
    if (selectionIndex == 0)
        Memo()->Select(Memo()->Caret(), Memo()->Caret());
}

void TTerminalMemoAccessible::setSelection(int selectionIndex, int startOffset, int endOffset)
{
    if (selectionIndex == 0)
        Memo()->Select(TerminalMemoPos(*Memo(), startOffset), TerminalMemoPos(*Memo(), endOffset));
}

int TTerminalMemoAccessible::cursorPosition() const { return TerminalMemoOffset(*Memo(), Memo()->Caret()); }

void TTerminalMemoAccessible::setCursorPosition(int position)
{
    const TTerminalMemo::TextPos at = TerminalMemoPos(*Memo(), position);
    Memo()->Select(at, at);
}

QString TTerminalMemoAccessible::text(int startOffset, int endOffset) const
{
    if (endOffset < 0 || endOffset > characterCount())
        endOffset = characterCount();
    if (startOffset >= endOffset)
        return {};
    return TerminalMemoText(*Memo(), TerminalMemoPos(*Memo(), startOffset), TerminalMemoPos(*Memo(), endOffset));
}

int TTerminalMemoAccessible::characterCount() const
{
    const TLineModel& model = Memo()->Model();
    size_t count = 0;
    for (int i = 0; i < model.LineCount(); ++i)
        count += model.Line(i).size() + (i ? 1 : 0);
    return Clamp(count);
}

QRect TTerminalMemoAccessible::characterRect(int offset) const
{
    const QRect cell = Memo()->CellRect(TerminalMemoPos(*Memo(), offset));
    if (!cell.isValid())
        return {};
    return {Memo()->viewport()->mapToGlobal(cell.topLeft()), cell.size()};
}

int TTerminalMemoAccessible::offsetAtPoint(const QPoint& point) const
{
    const QPoint local = Memo()->viewport()->mapFromGlobal(point);
    if (!Memo()->viewport()->rect().contains(local))
        return -1;
    return TerminalMemoOffset(*Memo(), Memo()->PosAt(local));
}

void TTerminalMemoAccessible::scrollToSubstring(int startIndex, int endIndex)
{
    Memo()->ShowPos(TerminalMemoPos(*Memo(), endIndex));
    Memo()->ShowPos(TerminalMemoPos(*Memo(), startIndex));
}

QString TTerminalMemoAccessible::attributes(int offset, int* startOffset, int* endOffset) const
{
    *startOffset = 0;
    *endOffset = std::max(offset, characterCount());
    return {};
}
