#include "app/StatusBar.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QToolTip>
#include <algorithm>
#include <utility>

TStatusBar::TStatusBar(QWidget* parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    QFont small = font();
    small.setPixelSize(10);  // the panels are narrow
    setFont(small);
    repaint_.setSingleShot(true);
    repaint_.setInterval(200);
    connect(&repaint_, &QTimer::timeout, this, &TStatusBar::PaintChanged);
}

void TStatusBar::AddPanel(const QString& text, int width, Qt::Alignment alignment)
{
    panels_.push_back({text, width, alignment, {}, {}, -1});
    update();
}

void TStatusBar::SetPanelText(int index, const QString& text)
{
    Panel& panel = panels_[size_t(index)];
    if (panel.Text == text)
        return;
    panel.Text = text;
    panel.ShownWidth = -1;
    // Only the panel repaints: the line count changes with every refresh of a stream.
    changed_ |= PanelRect(index);
    if (!repaint_.isActive())
        repaint_.start();
}

void TStatusBar::PaintChanged()
{
    repaint_.stop();
    if (!changed_.isEmpty())
        update(std::exchange(changed_, QRect()));
}

QRect TStatusBar::PanelRect(int index) const
{
    int left = 0;
    for (int i = 0; i < index; ++i)
        left += panels_[size_t(i)].Width;
    const bool last = index + 1 == PanelCount();
    return {left, 0, last ? std::max(panels_[size_t(index)].Width, width() - left) : panels_[size_t(index)].Width,
            height()};
}

int TStatusBar::PanelAt(QPoint point) const
{
    for (int i = 0; i < PanelCount(); ++i)
        if (PanelRect(i).contains(point))
            return i;
    return -1;
}

void TStatusBar::mouseReleaseEvent(QMouseEvent* event)
{
    const int index = PanelAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && index >= 0)
        emit PanelClicked(index);
}

void TStatusBar::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        for (Panel& panel : panels_)
            panel.ShownWidth = -1;
        advances_.clear();
    }
}

bool TStatusBar::event(QEvent* event)
{
    if (event->type() != QEvent::ToolTip)
        return QWidget::event(event);
    const auto* help = static_cast<QHelpEvent*>(event);
    const int index = PanelAt(help->pos());
    if (index >= 0 && !panels_[size_t(index)].ToolTip.isEmpty())
        QToolTip::showText(help->globalPos(), panels_[size_t(index)].ToolTip, this, PanelRect(index));
    else
        QToolTip::hideText();
    return true;
}

// Shaping a text only to learn that it fits costs more than the rest of a
// panel's paint. A text of printable Latin-1 fits for sure when its
// characters' own advances do, with a pixel each for rounding and kerning.
bool TStatusBar::SurelyFits(const QString& text, int width)
{
    if (advances_.empty()) {
        const QFontMetrics metrics = fontMetrics();
        advances_.resize(256);
        for (int c = 0; c < 256; ++c)
            advances_[size_t(c)] = metrics.horizontalAdvance(QChar(c));
    }
    int needed = 0;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7F && u < 0xA0) || u > 0xFF)
            return false;
        needed += advances_[u] + 1;
        if (needed > width)
            return false;
    }
    return true;
}

QSize TStatusBar::sizeHint() const { return {400, fontMetrics().height() + 6}; }

void TStatusBar::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    const QPalette pal = palette();
    for (int i = 0; i < PanelCount(); ++i) {
        const QRect rect = PanelRect(i);
        if (!rect.intersects(event->rect()))
            continue;
        Panel& panel = panels_[size_t(i)];
        const QRect box = rect.adjusted(0, 0, -2, -1);
        painter.setPen(pal.color(QPalette::Mid));
        painter.drawRect(box);
        painter.setPen(pal.color(QPalette::WindowText));
        const QRect text = box.adjusted(2, 0, -1, 0);
        // A text longer than its panel keeps its end, where a path has its name.
        if (panel.ShownWidth != text.width()) {
            panel.Shown = SurelyFits(panel.Text, text.width())
                              ? panel.Text
                              : fontMetrics().elidedText(panel.Text, Qt::ElideLeft, text.width());
            panel.ShownWidth = text.width();
        }
        painter.drawText(text, int(panel.Alignment | Qt::AlignVCenter), panel.Shown);
    }
}
