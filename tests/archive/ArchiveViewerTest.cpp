#include "archive/ArchiveMemo.h"
#include "archive/ArchiveText.h"
#include "archive/MemoFiller.h"
#include "archive/SpinEdit.h"
#include "archive/Unit2.h"
#include "support/CodePage.h"
#include "support/Dialogs.h"
#include "support/FindDialog.h"
#include "tests/archive/ArchiveTestSupport.h"

#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <fcntl.h>
#include <stdexcept>
#include <thread>
#include <tuple>
#include <unistd.h>

namespace {

using Date = std::tuple<int, int, int>;  // year, month, day

class ArchiveViewerTest : public DataFolderTest {
protected:
    void SetDate(int year, int month, int day)
    {
        form.SpinEditY->setValue(year);
        form.ComboBoxM->setCurrentIndex(month - 1);
        form.SpinEditD->setValue(day);
        ASSERT_EQ(Shown(), Date(year, month, day));
    }
    Date Shown() const
    {
        return {form.SpinEditY->value(), form.ComboBoxM->currentIndex() + 1, form.SpinEditD->value()};
    }
    Date StepDay(const Date& from, int steps)
    {
        SetDate(std::get<0>(from), std::get<1>(from), std::get<2>(from));
        form.SpinEditD->stepBy(steps);  // the arrows
        return Shown();
    }
    void Open()
    {
        form.ButtonOpenClick();
        ASSERT_TRUE(WaitFor([this] { return !form.Loading(); }));
    }
    QString Shown(int block) const { return form.MemoArch->document()->findBlockByNumber(block).text(); }
    void Find(const QString& text, bool matchCase = false)
    {
        form.FindDialog1->SetFindText(text);
        form.FindDialog1->SetOptions((form.FindDialog1->Options() & frFindNext) |
                                     (matchCase ? unsigned(frMatchCase) : 0u));
        form.FindDialog1->ButtonFindNext->click();
    }
    QString Selected() const { return form.MemoArch->textCursor().selectedText(); }
    int SelectedBlock() const { return form.MemoArch->textCursor().block().blockNumber(); }
    int SelectedColumn() const
    {
        return form.MemoArch->textCursor().selectionStart() - form.MemoArch->textCursor().block().position();
    }

    TForm2 form{Answering()};
};

}  // namespace

TEST_F(ArchiveViewerTest, WindowAsCreated)
{
    EXPECT_EQ(form.windowTitle(), "Archive");
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    EXPECT_EQ(form.MemoArch->width(), form.width() - 10);
    EXPECT_EQ(form.MemoArch->height(), form.height() - 70);
    EXPECT_EQ(form.ComboBoxM->count(), 12);
    EXPECT_EQ(form.ComboBoxM->itemText(0), QString::fromUtf8("Януари"));
    EXPECT_EQ(form.ComboBoxM->itemText(11), QString::fromUtf8("Декември"));
    EXPECT_EQ(Shown(), Date(2000, 1, 1));
    EXPECT_TRUE(form.SpinEditD->findChild<QLineEdit*>()->isReadOnly());
    EXPECT_EQ(form.Label1->text(), "NoFile Open");

    form.SpinEditY->setValue(1999);
    EXPECT_EQ(form.SpinEditY->value(), 2000);
    form.SpinEditY->setValue(2150);
    EXPECT_EQ(form.SpinEditY->value(), 2099);
}

// Closing the main window ends the program even while the viewer is open.
TEST_F(ArchiveViewerTest, AnOpenViewerDoesNotKeepTheProgramRunning)
{
    QWidget mainWindow;
    mainWindow.show();
    form.show();
    QTimer guard;  // ends the loop when the program would have gone on
    guard.setSingleShot(true);
    bool ended = false;
    const QMetaObject::Connection watch =
        QObject::connect(qApp, &QGuiApplication::lastWindowClosed, [&] { ended = guard.isActive(); });
    QTimer::singleShot(0, &mainWindow, &QWidget::close);
    QObject::connect(&guard, &QTimer::timeout, qApp, &QCoreApplication::quit);
    guard.start(5000);
    QCoreApplication::exec();
    QObject::disconnect(watch);
    EXPECT_TRUE(ended);
    form.hide();
}

TEST_F(ArchiveViewerTest, DayArrowsCrossMonthAndYearEnds)
{
    EXPECT_EQ(StepDay({2025, 1, 31}, 1), Date(2025, 2, 1));
    EXPECT_EQ(StepDay({2024, 3, 1}, -1), Date(2024, 2, 29));
    EXPECT_EQ(StepDay({2025, 3, 1}, -1), Date(2025, 2, 28));
    EXPECT_EQ(StepDay({2025, 12, 31}, 1), Date(2026, 1, 1));
    EXPECT_EQ(StepDay({2026, 1, 1}, -1), Date(2025, 12, 31));
    EXPECT_EQ(StepDay({2025, 4, 29}, 1), Date(2025, 4, 30));
    // The year box holds its range.
    EXPECT_EQ(StepDay({2000, 1, 1}, -1), Date(2000, 12, 31));
    EXPECT_EQ(StepDay({2099, 12, 31}, 1), Date(2099, 1, 1));
}

TEST_F(ArchiveViewerTest, MonthOrYearChangeKeepsTheDayInTheMonth)
{
    SetDate(2024, 1, 31);
    form.ComboBoxM->setCurrentIndex(1);
    EXPECT_EQ(Shown(), Date(2024, 2, 29));
    form.SpinEditY->setValue(2023);
    EXPECT_EQ(Shown(), Date(2023, 2, 28));
    SetDate(2025, 1, 31);
    form.ComboBoxM->setCurrentIndex(1);
    EXPECT_EQ(Shown(), Date(2025, 2, 28));

    EXPECT_EQ(TForm2::DaysInMonth(2000, 2), 29);
    EXPECT_EQ(TForm2::DaysInMonth(2100, 2), 28);
    EXPECT_EQ(TForm2::DaysInMonth(2024, 4), 30);
}

TEST_F(ArchiveViewerTest, OpensTheChosenDayThroughATemporarySnapshot)
{
    WriteFile("archive/2026/03/05-03-26.CAP", "first line\r\nsecond\r\n");
    SetDate(2026, 3, 5);
    Open();
    EXPECT_EQ(form.Label1->text(), "Open File - 05-03-26.CAP");
    EXPECT_EQ(form.MemoArch->toPlainText(), "first line\nsecond\n");
    EXPECT_FALSE(Exists("arch.tmp"));
    EXPECT_FALSE(form.MemoArch->isReadOnly());

    // Several matches are shown one after the other, in name order; folders are not files.
    WriteFile("archive/2026/03/05-03-26.BAK", "old\r\n");
    QDir().mkpath("archive/2026/03/05-03-26.dir");
    Open();
    EXPECT_EQ(form.MemoArch->toPlainText(), "old\nfirst line\nsecond\n");
}

TEST_F(ArchiveViewerTest, DayWithoutAFileKeepsWhatIsShown)
{
    WriteFile("archive/2026/03/04-03-26.CAP", "kept\r\n");
    SetDate(2026, 3, 4);
    Open();
    form.SpinEditD->stepBy(1);
    form.ButtonOpenClick();
    EXPECT_EQ(form.Label1->text(), "No Archive File");
    EXPECT_EQ(form.MemoArch->toPlainText(), "kept\n");
}

TEST_F(ArchiveViewerTest, UnreadableFileIsReportedAndLeavesNoSnapshot)
{
    WriteFile("archive/2026/03/04-03-26.CAP", "kept\r\n");
    SetDate(2026, 3, 4);
    Open();
    WriteFile("archive/2026/03/05-03-26.A", "readable\r\n");
    ASSERT_TRUE(QFile::link("nowhere", "archive/2026/03/05-03-26.B"));
    form.SpinEditD->stepBy(1);
    try {
        form.ButtonOpenClick();
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("05-03-26.B"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(Exists("arch.tmp"));
    EXPECT_EQ(form.Label1->text(), "Open File - 04-03-26.CAP");
    EXPECT_EQ(form.MemoArch->toPlainText(), "kept\n");
}

TEST_F(ArchiveViewerTest, TodaysFileOpensWhileLinesAreAppended)
{
    const QString path = "archive/2026/03/02-03-26.CAP";
    WriteFile(path, "line 0\r\n");
    std::string expected = "line 0\r\n";
    for (int i = 1; i < 3000; ++i)
        expected += "line " + std::to_string(i) + "\r\n";

    std::atomic<bool> done{false};
    std::thread writer([&] {
        const int fd = ::open(path.toLocal8Bit().constData(), O_WRONLY | O_APPEND);
        for (size_t at = 8, count = 0; at < expected.size(); ++count) {
            const size_t end = expected.find('\n', at) + 1;
            if (::write(fd, expected.data() + at, end - at) != ssize_t(end - at))
                break;
            at = end;
            if (count % 10 == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ::close(fd);
        done = true;
    });
    SetDate(2026, 3, 2);
    int opens = 0;
    while (!done || opens < 3) {
        Open();
        ++opens;
        const std::string shown = CodePage::ToBytes(form.MemoArch->toPlainText());
        std::string expectedShown = expected;
        for (size_t p; (p = expectedShown.find('\r')) != std::string::npos;)
            expectedShown.erase(p, 1);
        EXPECT_EQ(expectedShown.compare(0, shown.size(), shown), 0) << "not a prefix at open " << opens;
        EXPECT_EQ(form.Label1->text(), "Open File - 02-03-26.CAP");
        EXPECT_FALSE(Exists("arch.tmp"));
    }
    writer.join();
    Open();
    EXPECT_EQ(form.MemoArch->blockCount(), 3001);
}

TEST_F(ArchiveViewerTest, EveryByteValueIsShownAndFoundUnchanged)
{
    std::string line;
    for (int b = 0; b < 256; ++b)
        if (b != '\r' && b != '\n')
            line.push_back(char(b));
    WriteFile("archive/2026/03/05-03-26.CAP", "top\r\n" + line + "\r\nlone\rcr\nlone lf\r\nend\r\n");
    SetDate(2026, 3, 5);
    Open();
    EXPECT_EQ(Shown(1), CodePage::ToText(line));
    EXPECT_EQ(form.MemoArch->blockCount(), 7);

    Find("end");
    ASSERT_TRUE(messages.empty());
    EXPECT_EQ(Selected(), "end");
    EXPECT_EQ(SelectedBlock(), 5);
    form.ButtonFindClick();
    Find(QString::fromUtf8("ЭЮЯ"), true);
    EXPECT_EQ(Selected(), QString::fromUtf8("ЭЮЯ"));
    EXPECT_EQ(SelectedBlock(), 1);
}

TEST_F(ArchiveViewerTest, FindWorksOnALargeFileWhileItIsStillLoading)
{
    const auto line = [](int i) {
        return "line " + std::to_string(i) + " of the PBX output, padded out to a usual width";
    };
    std::string bytes;
    const int lines = 60000;
    for (int i = 0; i < lines; ++i) {
        bytes += line(i);
        if (i == 45000 || i == 59990)
            bytes += " Needle";
        bytes += "\r\n";
    }
    WriteFile("archive/2026/03/05-03-26.CAP", bytes);
    SetDate(2026, 3, 5);
    form.ButtonOpenClick();
    EXPECT_TRUE(form.Loading());
    EXPECT_EQ(Shown(0).left(6), "line 0");

    // A match not yet in the display is selected as soon as it is.
    form.ButtonFindClick();
    Find("NEEDLE");
    EXPECT_TRUE(WaitFor([this] { return Selected() == "Needle"; }));
    EXPECT_EQ(SelectedBlock(), 45000);
    Find("NEEDLE");
    EXPECT_TRUE(WaitFor([this] { return SelectedBlock() == 59990; }));
    EXPECT_EQ(SelectedColumn(), int(line(59990).size()) + 1);
    Find("NEEDLE");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "There are no further occurences of \"NEEDLE\" in Archive.");

    ASSERT_TRUE(WaitFor([this] { return !form.Loading(); }));
    EXPECT_EQ(form.MemoArch->blockCount(), lines + 1);
    EXPECT_EQ(Shown(lines - 1), QString::fromStdString(line(lines - 1)));
    Find("NEEDLE", true);
    EXPECT_EQ(messages.back(), "Could not find \"NEEDLE\" in Archive.");
    EXPECT_EQ(messages.size(), 2u);
}

TEST_F(ArchiveViewerTest, AnEditedTextIsSearchedAsItNowStands)
{
    WriteFile("archive/2026/03/05-03-26.CAP", "one abc\r\ntwo\r\n");
    SetDate(2026, 3, 5);
    Open();
    QTextCursor cursor(form.MemoArch->document());
    cursor.insertText("abc\nzz ");
    Find("abc");
    EXPECT_EQ(SelectedBlock(), 0);
    Find("abc");
    EXPECT_EQ(SelectedBlock(), 1);
    EXPECT_EQ(SelectedColumn(), 7);
    EXPECT_EQ(Selected(), "abc");
}

TEST_F(ArchiveViewerTest, FindButtonStartsAgainFromTheTop)
{
    WriteFile("archive/2026/03/05-03-26.CAP", "abc\r\nabc\r\nabc\r\n");
    SetDate(2026, 3, 5);
    Open();
    form.ButtonFindClick();
    EXPECT_TRUE(form.FindDialog1->isVisible());
    Find("abc");
    Find("abc");
    EXPECT_EQ(SelectedBlock(), 1);
    // Another window's find (the main window has its own dialog and position) leaves this one alone.
    TFindDialog other;
    other.SetFindText("abc");
    other.ButtonFindNext->click();
    Find("abc");
    EXPECT_EQ(SelectedBlock(), 2);
    form.ButtonFindClick();
    Find("abc");
    EXPECT_EQ(SelectedBlock(), 0);
    EXPECT_TRUE(messages.empty());
}

TEST_F(ArchiveViewerTest, ArchiveButtonShowsTodayEmpty)
{
    WriteFile("archive/2025/01/31-01-25.CAP", "old day\r\n");
    SetDate(2025, 1, 31);
    Open();
    form.ShowForDate(QDate(2026, 3, 2));
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(Shown(), Date(2026, 3, 2));
    EXPECT_EQ(form.MemoArch->toPlainText(), "");
    EXPECT_EQ(form.Label1->text(), "No File Open");
    form.ButtonOpenClick();
    EXPECT_EQ(form.Label1->text(), "No Archive File");

    // Closing only hides the viewer, and its find box with it.
    form.ButtonFindClick();
    EXPECT_TRUE(form.close());
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(form.FindDialog1->isVisible());
    EXPECT_EQ(Shown(), Date(2026, 3, 2));
}

// Qt lays out a display line as a whole on every change to it, so a line of
// megabytes put in piece by piece took quadratic time. It goes in as rows.
TEST_F(ArchiveViewerTest, ALongLineGoesInAsRowsAndIsFoundCopiedAndSearchedWhole)
{
    constexpr size_t kRow = TArchiveText::kRowLimit;
    std::string line;
    for (int i = 0; line.size() < 3'000'000; ++i)
        line += std::to_string(i) + " ";
    line.resize(3'000'000);
    const size_t acrossBreak = 1000 * kRow - 3;  // "NEEDLE" split by a row break
    line.replace(acrossBreak, 6, "NEEDLE");
    line.replace(100, 6, "NEEDLE");
    WriteFile("archive/2026/03/05-03-26.CAP", "head\r\n" + line + "\r\ntail\r\n");
    SetDate(2026, 3, 5);
    form.ButtonOpenClick();
    ASSERT_TRUE(WaitFor([this] { return !form.Loading(); }, 120000)) << "still loading after two minutes";

    const QTextDocument& document = *form.MemoArch->document();
    const int rows = int((line.size() + kRow - 1) / kRow);
    ASSERT_EQ(document.blockCount(), 1 + rows + 2);
    int longest = 0, continued = 0;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        longest = std::max(longest, block.length() - 1);
        continued += block.userState() == TMemoFiller::kContinuedRow;
    }
    EXPECT_EQ(longest, int(kRow));
    EXPECT_EQ(continued, rows - 1);
    EXPECT_EQ(Shown(rows + 1), "tail");

    Find("needle");
    EXPECT_EQ(Selected(), "NEEDLE");
    EXPECT_EQ(SelectedBlock(), 1);
    EXPECT_EQ(SelectedColumn(), 100);
    Find("needle");
    EXPECT_EQ(Selected(), QString("NEE") + QChar::ParagraphSeparator + "DLE");
    EXPECT_EQ(SelectedBlock(), 1001) << "the selection ends in the next row";
    auto* memo = qobject_cast<TArchiveMemo*>(form.MemoArch);
    ASSERT_NE(memo, nullptr);
    EXPECT_EQ(memo->SelectedLines(), "NEEDLE");

    // A copy of everything gives the lines as they are in the file.
    form.MemoArch->selectAll();
    EXPECT_EQ(memo->SelectedLines().toStdString(), "head\n" + line + "\ntail\n");
    form.MemoArch->copy();
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "head\n" + line + "\ntail\n");

    // An edited text is searched by its own rows.
    QTextCursor cursor(form.MemoArch->document());
    cursor.insertText("abc");
    form.ButtonFindClick();
    Find("tail");
    EXPECT_EQ(SelectedBlock(), rows + 1);
    EXPECT_EQ(Selected(), "tail");
    form.ButtonFindClick();
    Find("needle");
    ASSERT_TRUE(messages.empty());
    EXPECT_EQ(Selected(), "NEEDLE");
    EXPECT_EQ(SelectedColumn(), 100);
}
