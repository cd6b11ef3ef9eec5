#pragma once
// A grid of text cells addressed as Cells(column, row), where column 0 and
// row 0 are the fixed headings (as a table's header sections).
#include <QTableWidget>

class TStringGrid : public QTableWidget {
    Q_OBJECT
public:
    TStringGrid(int columnCount, int rowCount, QWidget* parent = nullptr);
    QString Cells(int column, int row) const;
    void SetCells(int column, int row, const QString& text);
    int Col() const { return currentColumn() + 1; }
    int Row() const { return currentRow() + 1; }
    void SetCurrent(int column, int row) { setCurrentCell(row - 1, column - 1); }

protected:
    // A double click on a cell's open editor counts as a double click on the cell.
    bool eventFilter(QObject* watched, QEvent* event) override;
};
