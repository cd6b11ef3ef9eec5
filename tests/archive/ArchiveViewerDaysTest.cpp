// The viewer's added controls: days, receive times, Go To Time, the calendar
// and the event log.
#include "archive/ArchiveMemo.h"
#include "archive/DaysCalendar.h"
#include "archive/MemoFiller.h"
#include "archive/SpinEdit.h"
#include "archive/Unit2.h"
#include "core/TimeIndex.h"
#include "support/FindDialog.h"
#include "tests/archive/ArchiveTestSupport.h"

#include <QCalendarWidget>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTableView>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

namespace {

class ArchiveViewerDays : public DataFolderTest {
protected:
    static QString DayFolder(const QDate& day) { return day.toString(QStringLiteral("'archive'/yyyy/MM/")); }
    static void Times(const QDate& day, const std::vector<TTimeRecord>& records, const std::string& tail = {})
    {
        std::string bytes;
        for (const TTimeRecord& r : records)
            bytes += EncodeTimeRecord(r);
        WriteFile(DayFolder(day) + day.toString(QStringLiteral("dd-MM-yy")) + ".TIM", bytes + tail);
    }
    static uint32_t Ms(int h, int m, int s = 0) { return uint32_t(((h * 60 + m) * 60 + s) * 1000); }

    QDate Chosen() const
    {
        return QDate(form.SpinEditY->value(), form.ComboBoxM->currentIndex() + 1, form.SpinEditD->value());
    }
    void OpenDay(const QDate& day)
    {
        form.OpenDay(day);
        ASSERT_TRUE(WaitFor([this] { return !form.Loading(); }));
    }
    void Loaded()
    {
        ASSERT_TRUE(WaitFor([this] { return !form.Loading(); }));
    }
    QTextBlock Block(int n) const { return form.MemoArch->document()->findBlockByNumber(n); }
    QString Gutter(int n) const { return TArchiveMemo::GutterText(Block(n)); }
    void GoTo(const QString& time)
    {
        form.EditGoToTime->setText(time);
        QTest::keyClick(form.EditGoToTime, Qt::Key_Return);
    }
    int CursorBlock() const { return form.MemoArch->textCursor().blockNumber(); }

    TForm2 form{Answering()};
};

TEST_F(ArchiveViewerDays, AddedControlsSitAlongTheFootWithinTheWindow)
{
    const std::vector<QWidget*> added = {form.ButtonPreviousDay, form.ButtonNextDay, form.ButtonDays,
                                         form.CheckTimes,        form.LabelGoToTime, form.EditGoToTime,
                                         form.ButtonSearchDays,  form.ButtonExport,  form.CheckEventLog};
    for (size_t i = 0; i < added.size(); ++i) {
        const QRect place = added[i]->geometry();
        EXPECT_TRUE(form.rect().contains(place)) << i;
        EXPECT_GT(place.top(), form.MemoArch->geometry().bottom()) << i;
        if (i > 0) {
            EXPECT_GT(place.left(), added[i - 1]->geometry().right()) << i;
        }
    }
}

TEST_F(ArchiveViewerDays, PreviousAndNextDayStepOverGapsAcrossMonthsAndYears)
{
    Capture(QDate(2025, 12, 30), "december\r\n");
    Capture(QDate(2026, 1, 2), "january\r\n");
    Capture(QDate(2026, 3, 1), "march\r\n");
    // Only an event log, and a name that disagrees with its folder: no capture day.
    WriteFile("archive/2026/02/10-02-26.LOG", "00:00:00.000\tprogram-start 1\n");
    WriteFile("archive/2026/02/11-03-26.CAP", "misplaced\r\n");
    EXPECT_EQ(form.ButtonPreviousDay->accessibleName(), "Previous Day");
    EXPECT_EQ(form.ButtonNextDay->accessibleName(), "Next Day");

    OpenDay(QDate(2026, 1, 2));
    form.ButtonPreviousDay->click();
    Loaded();
    EXPECT_EQ(Chosen(), QDate(2025, 12, 30));
    EXPECT_EQ(form.Label1->text(), "Open File - 30-12-25.CAP");
    EXPECT_EQ(form.MemoArch->toPlainText(), "december\n");
    form.ButtonPreviousDay->click();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "There is no earlier day in the archive.");
    EXPECT_EQ(form.MemoArch->toPlainText(), "december\n");

    form.ButtonNextDay->click();
    Loaded();
    EXPECT_EQ(Chosen(), QDate(2026, 1, 2));
    form.ButtonNextDay->click();
    Loaded();
    EXPECT_EQ(Chosen(), QDate(2026, 3, 1));
    EXPECT_EQ(form.MemoArch->toPlainText(), "march\n");
    form.ButtonNextDay->click();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1], "There is no later day in the archive.");

    // From a chosen day without a file, the steps go from that day.
    form.SpinEditY->setValue(2026);
    form.ComboBoxM->setCurrentIndex(1);
    form.SpinEditD->setValue(15);
    form.ButtonPreviousDay->click();
    Loaded();
    EXPECT_EQ(Chosen(), QDate(2026, 1, 2));
}

// The time index and event log beside the capture file are no part of it;
// times go on a line's first row only; find and copy never see them.
TEST_F(ArchiveViewerDays, TimesShowBesideTheLinesAndStayOutOfFindAndCopy)
{
    const QDate day(2026, 3, 5);
    const std::string longLine(2500, 'x');
    const std::string text = "first\r\n" + longLine + "\r\nuntimed\r\nlast";
    Capture(day, text);
    Times(day, {{0, Ms(8, 0, 1)}, {7, Ms(9, 15)}, {7 + 2502 + 9, Ms(23, 59, 59) + 999}});
    WriteFile("archive/2026/03/05-03-26.LOG", "08:00:00.000\tport-open ttyS0 9600\n");
    OpenDay(day);
    EXPECT_EQ(form.MemoArch->toPlainText().toStdString(), "first\n" + longLine.substr(0, 1024) + "\n" +
                                                              longLine.substr(1024, 1024) + "\n" +
                                                              longLine.substr(2048) + "\nuntimed\nlast");

    EXPECT_FALSE(form.CheckTimes->isChecked());
    auto* memo = static_cast<TArchiveMemo*>(form.MemoArch);
    EXPECT_FALSE(memo->Gutter()->isVisibleTo(&form));
    form.CheckTimes->click();
    EXPECT_TRUE(memo->Gutter()->isVisibleTo(&form));
    EXPECT_GT(memo->viewport()->geometry().left(), memo->Gutter()->width() - 1);
    EXPECT_EQ(Gutter(0), "08:00:01");
    EXPECT_EQ(Gutter(1), "09:15:00");
    EXPECT_EQ(Gutter(2), "") << "a continued row";
    EXPECT_EQ(Gutter(3), "");
    EXPECT_EQ(Gutter(4), "");
    EXPECT_EQ(Gutter(5), "23:59:59");
    EXPECT_FALSE(memo->Gutter()->grab().isNull());

    form.ButtonFindClick();
    form.FindDialog1->SetFindText("08:00");
    form.FindDialog1->ButtonFindNext->click();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "Could not find \"08:00\" in Archive.");
    form.MemoArch->selectAll();
    form.MemoArch->copy();
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "first\n" + longLine + "\nuntimed\nlast");

    // An edit moves the times with their lines.
    QTextCursor cursor(Block(0));
    cursor.movePosition(QTextCursor::EndOfBlock);
    cursor.insertText("\nnew line");
    EXPECT_EQ(Gutter(0), "08:00:01");
    EXPECT_EQ(Gutter(1), "");
    EXPECT_EQ(Gutter(2), "09:15:00");
    form.CheckTimes->click();
    EXPECT_FALSE(memo->Gutter()->isVisibleTo(&form));
    EXPECT_EQ(memo->viewport()->geometry().left(), memo->contentsRect().left());

    // Another file of the day shown before the capture file shifts its times along.
    WriteFile("archive/2026/03/05-03-26.BAK", "older\r\n");
    OpenDay(day);
    EXPECT_EQ(Gutter(0), "");
    EXPECT_EQ(Gutter(1), "08:00:01");
    EXPECT_EQ(Gutter(2), "09:15:00");
}

TEST_F(ArchiveViewerDays, ADamagedTimeIndexLeavesLinesWithoutTimes)
{
    const QDate day(2026, 3, 6);
    Capture(day, "a\r\nbb\r\nccc\r\ndddd\r\neeeee\r\n");
    // Offsets 0 a, 3 bb, 7 ccc, 12 dddd, 18 eeeee.
    Times(day,
          {{0, Ms(1, 0)},
           {3, 86'400'000},  // past midnight
           {7, Ms(3, 0)},
           {5, Ms(4, 0)},   // out of order
           {13, Ms(5, 0)},  // the middle of a line
           {18, Ms(6, 0)},
           {400, Ms(7, 0)}},        // beyond the file
          "\x01\x02\x03\x04\x05");  // a record cut short
    form.CheckTimes->click();
    OpenDay(day);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(form.MemoArch->toPlainText(), "a\nbb\nccc\ndddd\neeeee\n");
    const std::vector<QString> expected = {"01:00:00", "", "03:00:00", "", "06:00:00", ""};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(Gutter(i), expected[size_t(i)]) << "line " << i;

    // Only a cut record: nothing has a time, and nothing fails.
    Times(day, {}, "short");
    OpenDay(day);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(Gutter(0), "");
    EXPECT_EQ(form.Label1->text(), "Open File - 06-03-26.CAP");
}

TEST_F(ArchiveViewerDays, GoToTimeScrollsToTheFirstLineAtOrAfterIt)
{
    const QDate day(2026, 3, 5);
    std::string text;
    std::vector<TTimeRecord> records;
    const std::vector<uint32_t> times = {Ms(8, 0), Ms(9, 30), Ms(9, 30, 5), Ms(12, 0, 1)};
    for (size_t i = 0; i < times.size(); ++i) {
        records.push_back({text.size(), times[i]});
        text += "line " + std::to_string(i) + "\r\n";
        text += "untimed\r\n";
    }
    Capture(day, text);
    Times(day, records);
    OpenDay(day);
    EXPECT_EQ(form.EditGoToTime->accessibleName(), "Go To Time");
    GoTo("9:30");
    EXPECT_EQ(CursorBlock(), 2);
    GoTo("10:00");
    EXPECT_EQ(CursorBlock(), 6);
    GoTo("00:00");
    EXPECT_EQ(CursorBlock(), 0);
    EXPECT_TRUE(messages.empty());
    GoTo("12:01");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "No line was received at or after 12:01.");
    GoTo("25:00");  // not a time: Enter does nothing
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_EQ(CursorBlock(), 0);

    // A large day: the line is shown once it has gone in.
    text.clear();
    records.clear();
    for (int i = 0; i < 80000; ++i) {
        records.push_back({text.size(), uint32_t(i) * 1000});
        text += "line " + std::to_string(i) + " of a day padded out to a usual width of PBX output\r\n";
    }
    Capture(day, text);
    Times(day, records);
    form.ButtonOpenClick();
    ASSERT_TRUE(form.Loading());
    GoTo("22:00");
    ASSERT_TRUE(WaitFor([this] { return CursorBlock() == 79200; }));
    const int top = form.MemoArch->verticalScrollBar()->value();
    EXPECT_LE(top, 79200);
    EXPECT_GT(top, 79200 - 100) << "the line is at the top of the display, or the end is";
    EXPECT_EQ(messages.size(), 1u);
}

// The calendar's day cell of day, in the month it shows.
QPoint CellOf(QCalendarWidget* calendar, int day)
{
    auto* view = calendar->findChild<QTableView*>();
    const QAbstractItemModel* model = view->model();
    bool inMonth = false;
    for (int row = 0; row < model->rowCount(); ++row)
        for (int column = 0; column < model->columnCount(); ++column) {
            const QString text = model->data(model->index(row, column)).toString();
            if (text == "1")
                inMonth = !inMonth;
            if (inMonth && text == QString::number(day))
                return view->visualRect(model->index(row, column)).center();
        }
    return {};
}

TEST_F(ArchiveViewerDays, TheCalendarShowsDaysWithFilesInBoldAndOpensTheClickedDay)
{
    Capture(QDate(2026, 2, 27), "feb\r\n");
    Capture(QDate(2026, 3, 4), "four\r\n");
    Capture(QDate(2026, 3, 18), "eighteen\r\n");
    WriteFile("archive/2026/03/10-03-26.LOG", "log only\n");
    form.OpenDay(QDate(2026, 3, 4));
    form.show();
    form.ButtonDays->click();
    TDaysCalendar* calendar = form.DaysCalendar;
    ASSERT_TRUE(calendar->isVisible());
    EXPECT_EQ(calendar->Calendar->selectedDate(), QDate(2026, 3, 4));
    EXPECT_TRUE(calendar->IsBold(QDate(2026, 3, 4)));
    EXPECT_TRUE(calendar->IsBold(QDate(2026, 3, 18)));
    EXPECT_TRUE(calendar->IsBold(QDate(2026, 2, 27)));
    EXPECT_FALSE(calendar->IsBold(QDate(2026, 3, 10)));
    EXPECT_FALSE(calendar->IsBold(QDate(2026, 3, 5)));

    auto* view = calendar->Calendar->findChild<QTableView*>();
    ASSERT_NE(view, nullptr);
    const QPoint cell = CellOf(calendar->Calendar, 18);
    ASSERT_FALSE(cell.isNull());
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell);
    Loaded();
    EXPECT_FALSE(calendar->isVisible());
    EXPECT_EQ(Chosen(), QDate(2026, 3, 18));
    EXPECT_EQ(form.MemoArch->toPlainText(), "eighteen\n");

    // A file written since is bold the next time.
    Capture(QDate(2026, 3, 5), "five\r\n");
    form.ButtonDays->click();
    EXPECT_TRUE(calendar->IsBold(QDate(2026, 3, 5)));
    calendar->hide();
    form.hide();
}

TEST_F(ArchiveViewerDays, TheEventLogSwitchShowsTheDaysLogInsteadOfItsCapture)
{
    const QDate day(2026, 3, 5);
    Capture(day, "capture line\r\n");
    WriteFile("archive/2026/03/05-03-26.LOG",
              "08:00:00.000\tport-open ttyS0 9600\n09:41:07.250\tsent key Привет\nno time here\n");
    EXPECT_EQ(form.CheckEventLog->accessibleName(), "Event Log");
    OpenDay(day);
    form.CheckEventLog->click();
    Loaded();
    EXPECT_EQ(form.Label1->text(), "Open File - 05-03-26.LOG");
    EXPECT_EQ(form.MemoArch->toPlainText(), QString::fromUtf8("08:00:00.000\tport-open ttyS0 9600\n"
                                                              "09:41:07.250\tsent key Привет\nno time here\n"));
    EXPECT_EQ(Gutter(1), "09:41:07");
    EXPECT_EQ(Gutter(2), "");
    GoTo("09:00");
    EXPECT_EQ(CursorBlock(), 1);
    form.ButtonFindClick();
    form.FindDialog1->SetFindText(QString::fromUtf8("Привет"));
    form.FindDialog1->ButtonFindNext->click();
    EXPECT_EQ(form.MemoArch->textCursor().selectedText(), QString::fromUtf8("Привет"));

    // The switch holds for the next day opened; a day without a log says so,
    // and switching back shows the chosen day's capture.
    Capture(day.addDays(1), "next\r\n");
    form.ButtonNextDay->click();
    EXPECT_EQ(form.Label1->text(), "No Archive File");
    form.CheckEventLog->click();
    Loaded();
    EXPECT_EQ(form.Label1->text(), "Open File - 06-03-26.CAP");
    EXPECT_EQ(form.MemoArch->toPlainText(), "next\n");
    EXPECT_TRUE(messages.empty());
}

}  // namespace
