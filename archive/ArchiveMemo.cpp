#include "archive/ArchiveMemo.h"

#include "archive/MemoFiller.h"

#include <QMimeData>
#include <QPainter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

class TTimeGutter : public QWidget {
public:
    explicit TTimeGutter(TArchiveMemo* memo) : QWidget(memo), memo_(memo)
    {
        setObjectName(QStringLiteral("TimesGutter"));
        setAccessibleName(QStringLiteral("Receive times"));
    }

protected:
    void paintEvent(QPaintEvent* event) override { memo_->PaintGutter(event); }

private:
    TArchiveMemo* memo_;
};

TArchiveMemo::TArchiveMemo(QWidget* parent) : QPlainTextEdit(parent), gutter_(new TTimeGutter(this))
{
    gutter_->hide();
    connect(this, &QPlainTextEdit::updateRequest, this, [this](const QRect& rect, int dy) {
        if (!timesShown_)
            return;
        if (dy)
            gutter_->scroll(0, dy);
        else
            gutter_->update(0, rect.y(), gutter_->width(), rect.height());
    });
}

QString TArchiveMemo::GutterText(const QTextBlock& block)
{
    const std::optional<uint32_t> ms = TMemoFiller::BlockTime(block);
    if (!ms)
        return {};
    const uint32_t s = *ms / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600, 2, 10, QLatin1Char('0'))
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

void TArchiveMemo::SetTimesShown(bool shown)
{
    timesShown_ = shown;
    setViewportMargins(shown ? GutterWidth() : 0, 0, 0, 0);
    gutter_->setVisible(shown);
    PlaceGutter();
}

int TArchiveMemo::GutterWidth() const { return fontMetrics().horizontalAdvance(QStringLiteral("00:00:00")) + 10; }

void TArchiveMemo::PlaceGutter()
{
    const QRect area = contentsRect();
    gutter_->setFont(font());
    gutter_->setGeometry(area.left(), area.top(), GutterWidth(), viewport()->height());
}

void TArchiveMemo::resizeEvent(QResizeEvent* event)
{
    QPlainTextEdit::resizeEvent(event);
    PlaceGutter();
}

void TArchiveMemo::PaintGutter(QPaintEvent* event)
{
    QPainter painter(gutter_);
    painter.fillRect(event->rect(), palette().color(QPalette::AlternateBase));
    painter.setPen(palette().color(QPalette::PlaceholderText));
    QTextBlock block = firstVisibleBlock();
    qreal top = blockBoundingGeometry(block).translated(contentOffset()).top();
    while (block.isValid() && top <= event->rect().bottom()) {
        const qreal height = blockBoundingRect(block).height();
        if (block.isVisible() && top + height >= event->rect().top())
            painter.drawText(QRectF(0, top, gutter_->width() - 5, fontMetrics().height()), Qt::AlignRight,
                             GutterText(block));
        top += height;
        block = block.next();
    }
}

QString TArchiveMemo::SelectedLines() const
{
    const QTextCursor cursor = textCursor();
    const QString selected = cursor.selectedText();
    const int start = cursor.selectionStart();
    QString lines;
    lines.reserve(selected.size());
    qsizetype from = 0;
    for (QTextBlock block = document()->findBlock(start).next();
         block.isValid() && block.position() <= cursor.selectionEnd(); block = block.next()) {
        if (block.userState() != TMemoFiller::kContinuedRow)
            continue;
        const qsizetype joint = block.position() - 1 - start;  // the break before the row
        lines += QStringView(selected).mid(from, joint - from);
        from = joint + 1;
    }
    lines += QStringView(selected).mid(from);
    lines.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    return lines;
}

QMimeData* TArchiveMemo::createMimeDataFromSelection() const
{
    auto* data = new QMimeData;
    data->setText(SelectedLines());
    return data;
}
