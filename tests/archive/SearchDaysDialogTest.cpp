// "Search Days": results stream in while the search runs, a stop ends it, and
// a double click opens the line in the viewer.
#include "archive/SearchDaysDialog.h"
#include "archive/SpinEdit.h"
#include "archive/Unit2.h"
#include "core/TimeIndex.h"
#include "tests/archive/ArchiveTestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTextBlock>
#include <QTreeWidget>

namespace {

class SearchDays : public DataFolderTest {
protected:
    void Search(const QDate& from, const QDate& to, const QString& pattern, bool regex = false, bool matchCase = false)
    {
        dialog->EditFrom->setDate(from);
        dialog->EditTo->setDate(to);
        dialog->EditPattern->setText(pattern);
        dialog->CheckRegex->setChecked(regex);
        dialog->CheckMatchCase->setChecked(matchCase);
        dialog->ButtonSearch->click();
    }
    std::vector<QStringList> Rows() const
    {
        std::vector<QStringList> rows;
        for (int i = 0; i < dialog->Results->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* item = dialog->Results->topLevelItem(i);
            rows.push_back({item->text(0), item->text(1), item->text(2)});
        }
        return rows;
    }

    TForm2 form{Answering()};
    TSearchDaysDialog* dialog = form.SearchDays;
};

TEST_F(SearchDays, FindsLinesAcrossDaysWithTheirTimesAndOpensADoubleClickedOne)
{
    Capture(QDate(2025, 12, 31), "TRUNK 7 DOWN\r\nok\r\n");
    Capture(QDate(2026, 1, 2), "ok\r\nalarm trunk 7 major\r\nTrunk 70 up\r\n");
    std::string times = EncodeTimeRecord({4, 14 * 3600000 + 5 * 60000 + 9000});
    WriteFile("archive/2026/01/02-01-26.TIM", times);
    Capture(QDate(2026, 1, 9), "trunk 7 outside the range\r\n");
    form.SpinEditY->setValue(2026);
    form.ComboBoxM->setCurrentIndex(0);
    form.SpinEditD->setValue(2);
    form.show();
    form.ButtonSearchDays->click();
    ASSERT_TRUE(dialog->isVisible());
    EXPECT_EQ(form.ButtonSearchDays->accessibleName(), "Search Days");
    EXPECT_EQ(dialog->EditFrom->date(), QDate(2025, 12, 31)) << "the archive's first day";
    EXPECT_EQ(dialog->EditTo->date(), QDate(2026, 1, 9));

    Search(QDate(2025, 12, 1), QDate(2026, 1, 8), "trunk 7");
    ASSERT_TRUE(WaitFor([this] { return !dialog->Searching(); }));
    const std::vector<QStringList> expected = {{"2025-12-31", "", "TRUNK 7 DOWN"},
                                               {"2026-01-02", "14:05:09", "alarm trunk 7 major"},
                                               {"2026-01-02", "", "Trunk 70 up"}};
    EXPECT_EQ(Rows(), expected);
    EXPECT_EQ(dialog->LabelStatus->text(), "3 lines found.");

    Search(QDate(2025, 12, 1), QDate(2026, 1, 31), "trunk 7\\b", true, false);
    ASSERT_TRUE(WaitFor([this] { return !dialog->Searching(); }));
    EXPECT_EQ(Rows().size(), 3u);
    EXPECT_EQ(Rows()[2][2], "trunk 7 outside the range");
    Search(QDate(2025, 12, 1), QDate(2026, 1, 31), "trunk [", true);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].startsWith("The pattern is not a valid regular expression")) << messages[0].toStdString();

    Search(QDate(2025, 12, 1), QDate(2026, 1, 8), "trunk 7");
    ASSERT_TRUE(WaitFor([this] { return !dialog->Searching(); }));
    QTreeWidgetItem* row = dialog->Results->topLevelItem(1);
    const QPoint at = dialog->Results->visualItemRect(row).center();
    QTest::mouseClick(dialog->Results->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(dialog->Results->viewport(), Qt::LeftButton, {}, at);
    ASSERT_TRUE(WaitFor([this] { return !form.Loading(); }));
    EXPECT_EQ(form.Label1->text(), "Open File - 02-01-26.CAP");
    EXPECT_EQ(form.MemoArch->textCursor().selectedText(), "alarm trunk 7 major");
    EXPECT_EQ(form.MemoArch->textCursor().block().blockNumber(), 1);
    dialog->hide();
    form.hide();
}

TEST_F(SearchDays, ResultsStreamInWhileTheWindowAnswersAndAStopEndsTheSearch)
{
    std::string day;
    for (int i = 0; i < 40000; ++i)
        day += "CDR " + std::to_string(i) + " EXT 2041 TRUNK 07 DURATION 00:01:07 COST 0.12 ALARM\r\n";
    for (int d = 1; d <= 28; ++d)
        Capture(QDate(2026, 2, d), day);
    form.ButtonSearchDays->click();
    Search(QDate(2026, 2, 1), QDate(2026, 2, 28), "alarm$", true);
    ASSERT_TRUE(dialog->Searching());
    EXPECT_TRUE(dialog->ButtonStop->isEnabled());
    // Rows come in while the search is still under way, and the event loop runs meanwhile.
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(10);
    ASSERT_TRUE(WaitFor([this] { return dialog->Results->topLevelItemCount() > 0; }));
    EXPECT_TRUE(dialog->Searching());
    EXPECT_TRUE(dialog->LabelStatus->text().endsWith("searching…")) << dialog->LabelStatus->text().toStdString();
    dialog->ButtonStop->click();
    ASSERT_TRUE(WaitFor([this] { return !dialog->Searching(); }));
    EXPECT_GT(ticks, 0);
    const int rows = dialog->Results->topLevelItemCount();
    EXPECT_LT(rows, 28 * 40000);
    EXPECT_TRUE(dialog->LabelStatus->text().endsWith("stopped.")) << dialog->LabelStatus->text().toStdString();
    EXPECT_FALSE(dialog->ButtonStop->isEnabled());
    // Closing the viewer during a search closes the dialog and stops the search too.
    form.show();
    form.ButtonSearchDays->click();
    Search(QDate(2026, 2, 1), QDate(2026, 2, 28), "alarm$", true);
    ASSERT_TRUE(dialog->Searching());
    form.close();
    EXPECT_FALSE(dialog->isVisible());
    ASSERT_TRUE(WaitFor([this] { return !dialog->Searching(); }));
    EXPECT_TRUE(dialog->LabelStatus->text().endsWith("stopped.")) << dialog->LabelStatus->text().toStdString();
    EXPECT_TRUE(messages.empty());
}

}  // namespace
