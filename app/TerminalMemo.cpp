// The display's model, layout, scrolling and selection; input and drawing are
// in TerminalMemoInput.cpp and TerminalMemoPaint.cpp.
#include "app/TerminalMemo.h"

#include "app/TerminalMemoAccessible.h"
#include "core/LineModel.h"
#include "support/CodePage.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <algorithm>
#include <climits>
#include <cmath>
#include <utility>

namespace {

// A quiet display shows an echo at once; a streaming one refreshes at most
// five times a second, which reads just as well.
constexpr qint64 kRefreshGapMs = 200;
// Once the gap is over, a change is shown on the wake-up that brought it; a
// timer a little later shows the last change of a burst, on a wake-up of its own.
constexpr qint64 kLastChangeMs = 20;

// A scroll bar that repaints only when its slider moves on screen, and while
// the display follows a stream of lines (the slider creeping a pixel at a
// time) at most once a second; the operator's own moves show at once.
class TTerminalScrollBar : public QScrollBar {
public:
    TTerminalScrollBar() : QScrollBar(Qt::Vertical)
    {
        deferred_.setSingleShot(true);
        deferred_.setInterval(1000);
        connect(&deferred_, &QTimer::timeout, this, [this] { Repaint(SliderValueChange); });
    }

    // The display refreshes: a repaint that waits and is nearly due joins it.
    void CatchUp()
    {
        if (deferred_.isActive() && sincePaint_.elapsed() >= 1000 - kRefreshGapMs)
            Repaint(SliderValueChange);
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        // The stock paint knows which part the mouse is on or presses.
        if (isSliderDown() || underMouse() || QGuiApplication::mouseButtons() != Qt::NoButton) {
            QScrollBar::paintEvent(event);
            return;
        }
        // In bands, as the display's own paint; each band is drawn apart,
        // since the style sets clips of its own.
        QPainter painter(this);
        QStyleOptionSlider option;
        initStyleOption(&option);
        option.subControls = QStyle::SC_All;
        const qreal ratio = devicePixelRatioF();
        QImage band((QSizeF(width(), TTerminalMemo::kFillBand) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
        band.setDevicePixelRatio(ratio);
        const QRect area = event->rect();
        for (int y = area.top() - area.top() % TTerminalMemo::kFillBand; y <= area.bottom();
             y += TTerminalMemo::kFillBand) {
            band.fill(Qt::transparent);
            QPainter bandPainter(&band);
            bandPainter.translate(0, -y);
            style()->drawComplexControl(QStyle::CC_ScrollBar, &option, &bandPainter, this);
            bandPainter.end();
            painter.drawImage(QPoint(0, y), band);
        }
    }
    void sliderChange(SliderChange change) override
    {
        if (change != SliderOrientationChange && SliderRect() == slider_ && (maximum() > minimum()) == enabled_)
            return;
        const bool operating = isSliderDown() || underMouse();
        if (!operating && change != SliderOrientationChange && sincePaint_.isValid() && sincePaint_.elapsed() < 1000) {
            if (!deferred_.isActive())
                deferred_.start();
            return;
        }
        Repaint(change);
    }

private:
    QRect SliderRect()
    {
        QStyleOptionSlider option;
        initStyleOption(&option);
        return style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this);
    }
    void Repaint(SliderChange change)
    {
        deferred_.stop();
        slider_ = SliderRect();
        enabled_ = maximum() > minimum();
        sincePaint_.start();
        QScrollBar::sliderChange(change);
    }

    QRect slider_;
    bool enabled_ = false;
    QTimer deferred_;
    QElapsedTimer sincePaint_;
};

}  // namespace

TTerminalMemo::TTerminalMemo(QWidget* parent) : QAbstractScrollArea(parent)
{
    InstallTerminalMemoAccessible();
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBar(new TTerminalScrollBar);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setAutoFillBackground(false);
    refreshTimer_.setSingleShot(true);
    connect(&refreshTimer_, &QTimer::timeout, this, &TTerminalMemo::Refresh);
    dragTimer_.setInterval(50);
    connect(&dragTimer_, &QTimer::timeout, this, &TTerminalMemo::DragStep);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &TTerminalMemo::BarMoved);
    changeEvent(nullptr);
}

TTerminalMemo::~TTerminalMemo() = default;

void TTerminalMemo::SetModel(TLineModel* model)
{
    model_ = model;
    layout_.SetModel(model);
    model_->OnChanged = [this](int index) {
        layout_.Changed(index);
        changedFrom_ = std::min(changedFrom_, firstLine_ + index);
        Touch();
    };
    model_->OnShortened = [this](int index) { layout_.Shortened(index); };
    model_->OnFrontRemoved = [this](int count) { FrontRemoved(count); };
    firstLine_ = model->FirstNumber();
    anchor_ = caret_ = top_ = notifiedEnd_ = TextPos{};
    following_ = true;
    Touch();
}

void TTerminalMemo::Touch()
{
    dirty_ = true;
    // A hidden display catches up when it is shown.
    if (!isVisible())
        return;
    const qint64 since = sinceRefresh_.isValid() ? sinceRefresh_.elapsed() : kRefreshGapMs;
    const qint64 wait = since >= kRefreshGapMs ? 0 : kRefreshGapMs + kLastChangeMs - since;
    if (refreshTimer_.isActive() && (wait > 0 || refreshTimer_.remainingTime() == 0))
        return;
    refreshTimer_.start(int(wait));
}

void TTerminalMemo::MarkChanged(int64_t line)
{
    changedFrom_ = std::min(changedFrom_, line);
    Touch();
}

void TTerminalMemo::FrontRemoved(int count)
{
    layout_.FrontRemoved(count);
    firstLine_ += count;
    // A selection whose lines left shrinks to what is left, or clears.
    anchor_ = Clamped(anchor_);
    caret_ = Clamped(caret_);
    Touch();
}

TTerminalMemo::TextPos TTerminalMemo::Clamped(TextPos pos) const
{
    if (!model_ || model_->LineCount() == 0)
        return {firstLine_, 0};
    if (pos.Line < firstLine_)
        return {firstLine_, 0};
    if (Index(pos) >= model_->LineCount())
        return End();
    pos.Offset = std::min(pos.Offset, model_->Line(Index(pos)).size());
    return pos;
}

TTerminalMemo::TextPos TTerminalMemo::End() const
{
    const int last = model_ ? model_->LineCount() - 1 : -1;
    return last < 0 ? TextPos{firstLine_, 0} : PosOf(last, model_->Line(last).size());
}

int TTerminalMemo::PageRows() const { return RowsIn(maximumViewportSize().height()); }

int TTerminalMemo::RowsIn(int height) const { return std::max(1, (height - kMargin) / rowHeight_); }

int64_t TTerminalMemo::MaxTop() const { return std::max<int64_t>(0, layout_.TotalRows() - PageRows()); }

void TTerminalMemo::Relayout()
{
    dirty_ = false;
    if (!model_)
        return;
    // The viewport's size asks the style for the scroll bar's: once per layout.
    const QSize view = maximumViewportSize();
    layout_.SetColumns(int((view.width() - 2 * kMargin) / cellWidth_));
    layout_.Update();
    const int pageRows = RowsIn(view.height());
    const int64_t maxTop = std::max<int64_t>(0, layout_.TotalRows() - pageRows);
    int64_t top = maxTop;
    if (!following_) {
        const int index = Index(top_);
        top = index < 0 ? 0 : layout_.FirstRowOf(index) + layout_.RowOf(index, top_.Offset);
        top = std::min(top, maxTop);
    }
    topRow_ = top;
    const auto [line, row] = layout_.LineAtRow(top);
    top_ = PosOf(line, layout_.RowStart(line, row));
    settingBar_ = true;
    QScrollBar* bar = verticalScrollBar();
    bar->setRange(0, int(std::min<int64_t>(maxTop, INT_MAX)));
    bar->setPageStep(pageRows);
    bar->setSingleStep(1);
    bar->setValue(int(std::min<int64_t>(top, INT_MAX)));
    settingBar_ = false;
}

void TTerminalMemo::Refresh()
{
    refreshTimer_.stop();
    const TextPos oldTop = top_;
    Relayout();
    sinceRefresh_.start();
    NotifyTextAdded();
    const int waiting = WaitingLines();
    UpdateChanged(oldTop, std::exchange(changedFrom_, INT64_MAX), std::exchange(shownWaiting_, waiting) != waiting);
    static_cast<TTerminalScrollBar*>(verticalScrollBar())->CatchUp();
    emit Refreshed();
}

void TTerminalMemo::SyncNow() { Refresh(); }

void TTerminalMemo::BarMoved(int value)
{
    if (settingBar_)
        return;
    ScrollToRow(value);
}

void TTerminalMemo::ScrollToRow(int64_t row)
{
    if (dirty_)
        Relayout();
    row = std::clamp<int64_t>(row, 0, MaxTop());
    const auto [line, lineRow] = layout_.LineAtRow(row);
    top_ = PosOf(line, layout_.RowStart(line, lineRow));
    // A drag that reaches the bottom still holds the view under the hand.
    const bool bottom = row >= MaxTop() && !dragging_;
    if (bottom)
        following_ = true;
    else
        Hold();
    Relayout();
    viewport()->update();
}

void TTerminalMemo::Hold()
{
    if (following_ && model_)
        heldAt_ = firstLine_ + model_->LineCount() - 1;
    following_ = false;
}

void TTerminalMemo::FollowNewest()
{
    following_ = true;
    Refresh();
}

int TTerminalMemo::WaitingLines() const
{
    if (following_ || !model_)
        return 0;
    return int(std::max<int64_t>(0, firstLine_ + model_->LineCount() - 1 - heldAt_));
}

void TTerminalMemo::ShowPos(const TextPos& pos)
{
    if (dirty_)
        Relayout();
    const TextPos at = Clamped(pos);
    const int index = Index(at);
    if (!model_ || index >= layout_.LineCount())
        return;
    viewport()->update();  // the relayout may have moved the rows
    const int64_t row = layout_.FirstRowOf(index) + layout_.RowOf(index, at.Offset);
    if (row < topRow_)
        ScrollToRow(row);
    else if (row >= topRow_ + PageRows())
        ScrollToRow(row - PageRows() + 1);
}

std::string TTerminalMemo::Text() const { return model_->Text(); }

std::pair<TTerminalMemo::TextPos, TTerminalMemo::TextPos> TTerminalMemo::Selection() const
{
    const TextPos a = Clamped(anchor_), b = Clamped(caret_);
    return a < b ? std::pair{a, b} : std::pair{b, a};
}

void TTerminalMemo::Select(const TextPos& anchor, const TextPos& caret)
{
    anchor_ = Clamped(anchor);
    caret_ = Clamped(caret);
    SelectionChanged();
}

std::string TTerminalMemo::SelectedBytes() const
{
    const auto [from, to] = Selection();
    std::string bytes;
    for (int64_t line = from.Line; line <= to.Line && from < to; ++line) {
        const std::string& text = model_->Line(Index({line, 0}));
        const size_t start = line == from.Line ? from.Offset : 0;
        const size_t end = line == to.Line ? to.Offset : text.size();
        if (line != from.Line)
            bytes += "\r\n";
        bytes.append(text, start, end - start);
    }
    return bytes;
}

int TTerminalMemo::SelLength() const
{
    const auto [from, to] = Selection();
    if (from.Line == to.Line)
        return int(to.Offset - from.Offset);
    size_t length = model_->Line(Index(from)).size() - from.Offset + to.Offset;
    for (int64_t line = from.Line + 1; line <= to.Line; ++line)
        length += 2 + (line < to.Line ? model_->Line(Index({line, 0})).size() : 0);
    return int(std::min<size_t>(length, INT_MAX));
}

void TTerminalMemo::SelectText(size_t start, size_t length)
{
    // Text() positions: each line is followed by CR LF; a position between
    // the two stands for the line's end.
    auto posOf = [this](size_t position) {
        size_t lineStart = 0;
        for (int i = 0; i < model_->LineCount(); ++i) {
            const size_t size = model_->Line(i).size();
            if (position <= lineStart + size + 1)
                return PosOf(i, std::min(position - lineStart, size));
            lineStart += size + 2;
        }
        return End();
    };
    Select(posOf(start), posOf(start + length));
    ShowPos(caret_);
    ShowPos(anchor_);
}

void TTerminalMemo::selectAll() { Select({firstLine_, 0}, End()); }

QMimeData* TTerminalMemo::CreateMimeData() const
{
    // The lines go out as they came, with CR LF, and every byte maps back
    // through the code page (the stock copy would turn a no-break space into a space).
    auto* data = new QMimeData;
    data->setText(CodePage::ToText(SelectedBytes()));
    return data;
}

void TTerminalMemo::copy()
{
    if (SelLength() > 0)
        QApplication::clipboard()->setMimeData(CreateMimeData());
}

void TTerminalMemo::SelectionChanged()
{
    viewport()->update();
    if (!QAccessible::isActive())
        return;
    QAccessibleTextCursorEvent cursor(this, TerminalMemoOffset(*this, Caret()));
    QAccessible::updateAccessibility(&cursor);
    const auto [from, to] = Selection();
    QAccessibleTextSelectionEvent selection(this, TerminalMemoOffset(*this, from), TerminalMemoOffset(*this, to));
    QAccessible::updateAccessibility(&selection);
}

void TTerminalMemo::NotifyTextAdded()
{
    const TextPos end = End();
    if (QAccessible::isActive() && notifiedEnd_.Line >= firstLine_ && notifiedEnd_ < end) {
        const TextPos from = Clamped(notifiedEnd_);
        QAccessibleTextInsertEvent inserted(this, TerminalMemoOffset(*this, from), TerminalMemoText(*this, from, end));
        QAccessible::updateAccessibility(&inserted);
    }
    notifiedEnd_ = end;
}

void TTerminalMemo::SetColours(const QColor& background, const QColor& text)
{
    QPalette pal = palette();
    pal.setColor(QPalette::Base, background);
    pal.setColor(QPalette::Text, text);
    setPalette(pal);
    viewport()->update();
}

void TTerminalMemo::changeEvent(QEvent* event)
{
    if (event)
        QAbstractScrollArea::changeEvent(event);
    if (event && event->type() != QEvent::FontChange)
        return;
    const QFontMetricsF metrics(font());
    cellWidth_ = std::max<qreal>(1, metrics.horizontalAdvance(QLatin1Char('M')));
    rowHeight_ = std::max(1, int(std::ceil(metrics.lineSpacing())));
    ascent_ = int(std::ceil(metrics.ascent()));
    rawFont_ = QRawFont::fromFont(font());
    if (model_)
        Refresh();
}

void TTerminalMemo::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    if (model_)
        Relayout();
}

void TTerminalMemo::showEvent(QShowEvent* event)
{
    QAbstractScrollArea::showEvent(event);
    if (model_)
        Refresh();
}
