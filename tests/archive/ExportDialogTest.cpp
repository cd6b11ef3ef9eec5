// "Export" from the viewer: a time range to a file, as bytes or UTF-8 with times.
#include "archive/ExportDialog.h"
#include "archive/Unit2.h"
#include "core/TimeIndex.h"
#include "tests/archive/ArchiveTestSupport.h"

#include <QCheckBox>
#include <QDateTimeEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

class ExportFromViewer : public DataFolderTest {
protected:
    TDialogs Answering()
    {
        TDialogs dialogs = DataFolderTest::Answering();
        dialogs.Confirm = [this](QWidget*, const QString& text) {
            questions.push_back(text);
            return replace;
        };
        return dialogs;
    }
    void Export(const QDateTime& from, const QDateTime& to, const QString& file, bool utf8)
    {
        dialog->EditFrom->setDateTime(from);
        dialog->EditTo->setDateTime(to);
        dialog->EditFile->setText(file);
        dialog->CheckUtf8->setChecked(utf8);
        dialog->ButtonExport->click();
        ASSERT_TRUE(WaitFor([this] { return !dialog->Exporting(); }));
    }

    std::vector<QString> questions;
    bool replace = false;
    TForm2 form{Answering()};
    TExportDialog* dialog = form.ExportDialog;
};

TEST_F(ExportFromViewer, WritesTheRangeAsBytesOrAsTextWithTimes)
{
    WriteFile("archive/2026/03/05-03-26.CAP", "early\r\nmiddle \xCF\xC1\r\nlate\r\n");
    std::string times;
    for (const TTimeRecord& r : std::vector<TTimeRecord>{{0, 8 * 3600000}, {7, 9 * 3600000 + 1}, {18, 11 * 3600000}})
        times += EncodeTimeRecord(r);
    WriteFile("archive/2026/03/05-03-26.TIM", times);
    form.OpenDay(QDate(2026, 3, 5));
    form.ButtonExport->click();
    ASSERT_TRUE(dialog->isVisible());
    EXPECT_EQ(form.ButtonExport->accessibleName(), "Export");
    EXPECT_EQ(dialog->EditFrom->dateTime(), QDateTime(QDate(2026, 3, 5), QTime(0, 0)));
    EXPECT_EQ(dialog->EditTo->dateTime(), QDateTime(QDate(2026, 3, 6), QTime(0, 0)));

    const QDate day(2026, 3, 5);
    Export(QDateTime(day, QTime(9, 0)), QDateTime(day, QTime(11, 0)), "out.cap", false);
    EXPECT_EQ(ReadFile("out.cap"), "middle \xCF\xC1\r\n");
    EXPECT_EQ(dialog->LabelStatus->text(), "1 line, 11 bytes exported.");
    Export(QDateTime(day, QTime(0, 0)), QDateTime(day.addDays(1), QTime(0, 0)), "out.txt", true);
    EXPECT_EQ(ReadFile("out.txt"), "2026-03-05\t08:00:00.000\tearly\n"
                                   "2026-03-05\t09:00:00.001\tmiddle ПБ\n"
                                   "2026-03-05\t11:00:00.000\tlate\n");
    EXPECT_TRUE(messages.empty());

    // An existing file is replaced only when the operator says so.
    Export(QDateTime(day, QTime(0, 0)), QDateTime(day, QTime(9, 0)), "out.txt", true);
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(ReadFile("out.txt").substr(0, 10), "2026-03-05");
    EXPECT_NE(ReadFile("out.txt").find("late"), std::string::npos);
    replace = true;
    Export(QDateTime(day, QTime(0, 0)), QDateTime(day, QTime(9, 0)), "out.txt", true);
    EXPECT_EQ(ReadFile("out.txt"), "2026-03-05\t08:00:00.000\tearly\n");

    Export(QDateTime(day, QTime(12, 0)), QDateTime(day, QTime(9, 0)), "other.txt", true);
    ASSERT_EQ(messages.size(), 1u);
    Export(QDateTime(day, QTime(0, 0)), QDateTime(day, QTime(9, 0)), "", true);
    ASSERT_EQ(messages.size(), 2u);
    Export(QDateTime(day, QTime(0, 0)), QDateTime(day, QTime(9, 0)), "no/such/folder/out.txt", true);
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_TRUE(messages[2].contains("no/such/folder")) << messages[2].toStdString();
    EXPECT_FALSE(Exists("other.txt"));
    dialog->hide();
}

}  // namespace
