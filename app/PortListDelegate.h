#pragma once
// The port list's entries: the device name the port opens by, and beside it,
// dimmed, what the system says the device is.
#include <QStyledItemDelegate>

class TPortListDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    // The item data role that holds an entry's description.
    static constexpr int kDescriptionRole = Qt::UserRole + 1;

    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};
