#pragma once
// "Days": a calendar of the archive, its days with a capture file in bold.
// A click on a day chooses it and closes the calendar.
#include <QDate>
#include <QDialog>
#include <vector>

class QCalendarWidget;

class TDaysCalendar : public QDialog {
    Q_OBJECT
public:
    explicit TDaysCalendar(QWidget* parent = nullptr);

    // Shows the calendar at current, with days in bold.
    void Execute(const std::vector<QDate>& days, const QDate& current);
    bool IsBold(const QDate& day) const;

    QCalendarWidget* Calendar = nullptr;

signals:
    void DayChosen(const QDate& day);
};
