#pragma once
// The display as assistive technologies see it: a read-only, multi-line text
// with a caret and a selection (Qt's accessible text interface). Offsets count
// characters of the whole text with one "\n" between lines.
#include "app/TerminalMemo.h"

#include <QAccessibleWidget>

// Makes the display's accessible interface known to Qt; idempotent.
void InstallTerminalMemoAccessible();

int TerminalMemoOffset(const TTerminalMemo& memo, const TTerminalMemo::TextPos& pos);
TTerminalMemo::TextPos TerminalMemoPos(const TTerminalMemo& memo, int offset);
QString TerminalMemoText(const TTerminalMemo& memo, const TTerminalMemo::TextPos& from,
                         const TTerminalMemo::TextPos& to);

class TTerminalMemoAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit TTerminalMemoAccessible(TTerminalMemo* memo);

    void* interface_cast(QAccessible::InterfaceType type) override;
    QAccessible::State state() const override;
    QString text(QAccessible::Text type) const override;

    void selection(int selectionIndex, int* startOffset, int* endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint& point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int* startOffset, int* endOffset) const override;

private:
    TTerminalMemo* Memo() const { return static_cast<TTerminalMemo*>(widget()); }
};
