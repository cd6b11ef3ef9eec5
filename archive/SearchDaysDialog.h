#pragma once
// "Search Days": a search across the archive's days, from one day to another,
// for a text or a regular expression. Matches stream into the list as the
// search finds them; the window answers all the while. A double click on a
// row asks for that line in its day.
#include "archive/SearchWorker.h"
#include "support/Dialogs.h"

#include <QDate>
#include <QDialog>
#include <QTimer>
#include <cstdint>
#include <string>

class QCheckBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

class TSearchDaysDialog : public QDialog {
    Q_OBJECT
public:
    explicit TSearchDaysDialog(TDialogs dialogs, QWidget* parent = nullptr);

    // Shows the dialog with the range set to the archive's first and last day
    // (to day when the archive is empty).
    void Execute(const std::string& root, const QDate& day);
    void SearchClick();
    void StopClick();
    bool Searching() const { return timer_.isActive(); }

    QDateEdit* EditFrom = nullptr;
    QDateEdit* EditTo = nullptr;
    QLineEdit* EditPattern = nullptr;
    QCheckBox* CheckRegex = nullptr;
    QCheckBox* CheckMatchCase = nullptr;
    QPushButton* ButtonSearch = nullptr;
    QPushButton* ButtonStop = nullptr;
    QTreeWidget* Results = nullptr;
    QLabel* LabelStatus = nullptr;

    // Rows taken from the search per step of the window's event loop.
    static constexpr size_t kRowsPerStep = 2000;

signals:
    // A result row was double-clicked: offset is its line's in the day's capture file.
    void LineChosen(const QDate& day, uint64_t offset);

protected:
    void hideEvent(QHideEvent* event) override;

private:
    void TakeHits();
    void ShowCount(const QString& tail);
    void RowActivated(QTreeWidgetItem* item);

    TDialogs dialogs_;
    std::string root_ = "archive";
    TSearchWorker worker_;
    QTimer timer_;
    size_t shown_ = 0;
    bool stopped_ = false;
};
