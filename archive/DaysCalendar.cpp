#include "archive/DaysCalendar.h"

#include <QCalendarWidget>
#include <QTextCharFormat>
#include <QVBoxLayout>

TDaysCalendar::TDaysCalendar(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Days"));
    Calendar = new QCalendarWidget(this);
    Calendar->setObjectName(QStringLiteral("Calendar"));
    Calendar->setAccessibleName(QStringLiteral("Days with capture files"));
    Calendar->setDateRange(QDate(2000, 1, 1), QDate(2099, 12, 31));
    Calendar->setGridVisible(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Calendar);
    connect(Calendar, &QCalendarWidget::clicked, this, [this](QDate day) {
        hide();
        emit DayChosen(day);
    });
}

void TDaysCalendar::Execute(const std::vector<QDate>& days, const QDate& current)
{
    Calendar->setDateTextFormat(QDate(), QTextCharFormat());  // clears every day's format
    QTextCharFormat bold;
    bold.setFontWeight(QFont::Bold);
    for (const QDate& day : days)
        Calendar->setDateTextFormat(day, bold);
    if (current.isValid())
        Calendar->setSelectedDate(current);
    show();
    raise();
    activateWindow();
}

bool TDaysCalendar::IsBold(const QDate& day) const { return Calendar->dateTextFormat(day).fontWeight() == QFont::Bold; }
