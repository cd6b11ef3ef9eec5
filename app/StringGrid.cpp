#include "app/StringGrid.h"

#include <QEvent>
#include <QHeaderView>
#include <QStyledItemDelegate>

namespace {

// The editor is always shown, so it takes the clicks meant for its cell.
class TCellDelegate : public QStyledItemDelegate {
public:
    explicit TCellDelegate(QObject* grid) : QStyledItemDelegate(grid), grid_(grid) {}
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        if (editor)
            editor->installEventFilter(grid_);
        return editor;
    }

private:
    QObject* grid_;
};

}  // namespace

TStringGrid::TStringGrid(int columnCount, int rowCount, QWidget* parent)
    : QTableWidget(rowCount - 1, columnCount - 1, parent)
{
    for (int r = 0; r < rowCount - 1; ++r)
        for (int c = 0; c < columnCount - 1; ++c)
            setItem(r, c, new QTableWidgetItem);
    setItemDelegate(new TCellDelegate(this));
}

bool TStringGrid::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonDblClick && watched->parent() == viewport() && currentRow() >= 0 &&
        currentColumn() >= 0)
        emit cellDoubleClicked(currentRow(), currentColumn());
    return QTableWidget::eventFilter(watched, event);
}

QString TStringGrid::Cells(int column, int row) const
{
    if (row == 0 && column == 0)
        return {};
    if (row == 0) {
        const QTableWidgetItem* item = horizontalHeaderItem(column - 1);
        return item ? item->text() : QString();
    }
    if (column == 0) {
        const QTableWidgetItem* item = verticalHeaderItem(row - 1);
        return item ? item->text() : QString();
    }
    const QTableWidgetItem* cell = item(row - 1, column - 1);
    return cell ? cell->text() : QString();
}

void TStringGrid::SetCells(int column, int row, const QString& text)
{
    if (row == 0 && column == 0)
        return;
    if (row == 0) {
        setHorizontalHeaderItem(column - 1, new QTableWidgetItem(text));
    } else if (column == 0) {
        setVerticalHeaderItem(row - 1, new QTableWidgetItem(text));
    } else {
        QTableWidgetItem* cell = item(row - 1, column - 1);
        if (!cell) {
            cell = new QTableWidgetItem;
            setItem(row - 1, column - 1, cell);
        }
        cell->setText(text);
    }
}
