#include "app/PortListDelegate.h"

#include <QApplication>
#include <QPainter>

namespace {

constexpr int kGap = 12;  // between the name and its description

}  // namespace

void TPortListDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    item.textElideMode = Qt::ElideNone;
    QStyledItemDelegate::paint(painter, item, index);
    const QString description = index.data(kDescriptionRole).toString();
    if (description.isEmpty())
        return;
    const int nameWidth = item.fontMetrics.horizontalAdvance(item.text);
    QRect area = item.rect.adjusted(nameWidth + kGap + 4, 0, 0, 0);
    painter->save();
    QColor dim = item.palette.color(item.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text);
    dim.setAlphaF(0.6F);
    painter->setPen(dim);
    painter->drawText(area, Qt::AlignVCenter | Qt::AlignLeft, description);
    painter->restore();
}

QSize TPortListDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    const QString description = index.data(kDescriptionRole).toString();
    if (!description.isEmpty())
        size.rwidth() += kGap + option.fontMetrics.horizontalAdvance(description);
    return size;
}
