#include "app/StatusBar.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QToolTip>

TStatusBar::TStatusBar(QWidget* parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    QFont small = font();
    small.setPixelSize(10);  // the panels are narrow
    setFont(small);
    repaint_.setSingleShot(true);
    repaint_.setInterval(200);
    connect(&repaint_, &QTimer::timeout, this, [this] {
        update(changed_);
        changed_ = QRect();
    });
}

void TStatusBar::AddPanel(const QString& text, int width, Qt::Alignment alignment)
{
    panels_.push_back({text, width, alignment, {}});
    update();
}

void TStatusBar::SetPanelText(int index, const QString& text)
{
    Panel& panel = panels_[size_t(index)];
    if (panel.Text == text)
        return;
    panel.Text = text;
    // Only the panel repaints: the line count changes with every refresh of a stream.
    changed_ |= PanelRect(index);
    if (!repaint_.isActive())
        repaint_.start();
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

QSize TStatusBar::sizeHint() const { return {400, fontMetrics().height() + 6}; }

void TStatusBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QPalette pal = palette();
    int left = 0;
    for (size_t i = 0; i < panels_.size(); ++i) {
        const Panel& panel = panels_[i];
        // The last panel takes the rest of the bar.
        const int width = i + 1 == panels_.size() ? std::max(panel.Width, this->width() - left) : panel.Width;
        const QRect box(left, 0, width - 2, height() - 1);
        painter.setPen(pal.color(QPalette::Mid));
        painter.drawRect(box);
        painter.setPen(pal.color(QPalette::WindowText));
        const QRect text = box.adjusted(2, 0, -1, 0);
        // A text longer than its panel keeps its end, where a path has its name.
        painter.drawText(text, int(panel.Alignment | Qt::AlignVCenter),
                         fontMetrics().elidedText(panel.Text, Qt::ElideLeft, text.width()));
        left += width;
    }
}
