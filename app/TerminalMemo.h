#pragma once
// The terminal display: a view of the line model that lays out and draws only
// the rows in sight. It follows the newest line unless the operator has
// scrolled away; then it holds still on its text and a marker says how many
// lines wait below, until the operator scrolls to the bottom again. Only the
// operator's scrolling, selecting and finding change that; a resize, a hidden
// window or a burst of lines never does. The selection is anchored to lines:
// it stays on its text while lines are added and trimmed. The view refreshes
// at once when quiet and at most five times a second while lines stream in.
#include "app/TerminalLayout.h"

#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QRawFont>
#include <QTimer>
#include <climits>
#include <compare>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

class QKeyEvent;
class QMimeData;
class TLineModel;

class TTerminalMemo : public QAbstractScrollArea {
    Q_OBJECT
public:
    // A place in the text: a line numbered from the first line the model ever
    // had (so it survives trimming), and a byte offset in that line.
    struct TextPos {
        int64_t Line = 0;
        size_t Offset = 0;
        auto operator<=>(const TextPos&) const = default;
    };
    // A row drawn: the line's model index, the bytes it shows and its cells.
    struct DrawnRow {
        int Line = 0;
        size_t Start = 0, End = 0;
        QString Cells;
    };

    // Space around the rows, and the height of the bands it paints in: Qt hands
    // a fill or line taller than about a hundred scan lines to its thread pool,
    // which costs more wake-ups than it saves here.
    static constexpr int kMargin = 4;
    static constexpr int kFillBand = 64;

    explicit TTerminalMemo(QWidget* parent = nullptr);
    ~TTerminalMemo() override;

    // Shows model from now on; the model outlives the display's use of it.
    void SetModel(TLineModel* model);
    const TLineModel& Model() const { return *model_; }

    // The whole text, lines separated by CR LF.
    std::string Text() const;
    // The selection as bytes, CR LF between lines.
    std::string SelectedBytes() const;
    int SelLength() const;
    // Selects length bytes from the 0-based position start of Text() and scrolls to them.
    void SelectText(size_t start, size_t length);

    // Lays out and draws what changed, now.
    void SyncNow();
    void SetColours(const QColor& background, const QColor& text);

    bool Following() const { return following_; }
    // Lines that came while the view held still.
    int WaitingLines() const;
    // The rows in sight, top to bottom (the last may show in part).
    std::vector<DrawnRow> DrawnRows() const;
    // Cells in a row, and rows that fit whole in the view.
    int Columns() const { return layout_.Columns(); }
    int PageRows() const;

    // Places as model indexes: Index(pos) is negative for a trimmed line.
    int Index(const TextPos& pos) const { return int(pos.Line - firstLine_); }
    TextPos PosOf(int index, size_t offset) const { return {firstLine_ + index, offset}; }
    TextPos Caret() const { return Clamped(caret_); }
    // The selection's start and end, in text order; equal when nothing is selected.
    std::pair<TextPos, TextPos> Selection() const;
    void Select(const TextPos& anchor, const TextPos& caret);
    // The cell of pos in viewport coordinates; empty when out of sight.
    QRect CellRect(const TextPos& pos) const;
    TextPos PosAt(QPointF viewportPoint) const;
    // Scrolls as little as needed to show pos, as the operator would.
    void ShowPos(const TextPos& pos);

    // Lines drawn on a red band (alarm lines), asked by line number for the rows in sight.
    std::function<bool(int64_t line)> IsMarked;
    // The mark of a line changed: it is drawn again.
    void MarkChanged(int64_t line);

    // Key hooks, run before the display's own handling of the key.
    std::function<void(QKeyEvent*)> OnKeyDown;
    std::function<void(QKeyEvent*)> OnKeyPress;

public slots:
    void copy();
    void selectAll();
    // Back to the newest line, following it.
    void FollowNewest();

signals:
    // The display laid out and asked to draw what changed: other repaints of
    // the window that wait can join it, for one trip to the screen.
    void Refreshed();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void scrollContentsBy(int, int) override {}
    // Tab is a character for the PBX, never a move to the next control.
    bool focusNextPrevChild(bool) override { return false; }

private:
    void Touch();
    void FrontRemoved(int count);
    void Relayout();
    void Refresh();
    void BarMoved(int value);
    // Scrolls to an absolute row; the operator's scroll decides following.
    void ScrollToRow(int64_t row);
    void Hold();
    int64_t MaxTop() const;
    int RowsIn(int height) const;  // whole rows in a viewport that high
    TextPos Clamped(TextPos pos) const;
    TextPos End() const;
    void DrawRow(QPainter& painter, int line, int row, int y, const std::pair<TextPos, TextPos>& selection) const;
    void DrawMarker(QPainter& painter);
    void DrawCells(QPainter& painter, QPointF at, const QString& cells) const;
    // Repaints what a refresh changed: rows moved up by the new ones are
    // scrolled on screen, only changed rows are drawn again.
    void UpdateChanged(const TextPos& oldTop, int64_t changedFrom, bool marker);
    bool MoveCaret(QKeyEvent* event);
    void DragStep();
    void SelectionChanged();
    void NotifyTextAdded();
    QMimeData* CreateMimeData() const;

    TLineModel* model_ = nullptr;
    TTerminalLayout layout_;
    int64_t firstLine_ = 0;  // number of the model's line 0
    bool dirty_ = false;
    int64_t changedFrom_ = INT64_MAX;  // first line changed since the last refresh
    bool following_ = true;
    int64_t heldAt_ = 0;       // last line when the view began to hold
    int shownWaiting_ = 0;     // the marker's count at the last refresh
    TextPos top_;              // first row shown, by its start
    int64_t topRow_ = 0;       // the same as an absolute row, at the last layout
    bool settingBar_ = false;  // the program moves the scroll bar, not the operator
    TextPos anchor_, caret_;   // the selection runs from anchor to caret
    bool dragging_ = false;
    bool followedBeforeDrag_ = false;
    QPointF dragPoint_;
    QTimer dragTimer_;  // scrolls while a drag is outside the view
    QTimer refreshTimer_;
    QElapsedTimer sinceRefresh_;
    qreal cellWidth_ = 8;
    QRawFont rawFont_;  // the font's own glyphs, drawn on the cell grid without shaping
    int rowHeight_ = 16;
    int ascent_ = 12;
    QRect markerRect_;
    TextPos notifiedEnd_;  // the text's end as assistive technologies last heard it
};
