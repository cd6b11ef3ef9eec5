// The alarm watch in the window: the red band, the counter, the tray notices,
// the rules editor and the events.
#include "app/StatusBar.h"
#include "app/TerminalMemo.h"
#include "core/LineModel.h"
#include "core/NetworkSettings.h"
#include "support/TrayIcon.h"
#include "tests/app/FormFixture.h"
#include "tests/app/NoteShell.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFrame>
#include <QImage>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

class AlarmWindow : public FormFixture {
protected:
    TForm1& CreateWatching(const std::string& rules)
    {
        if (!rules.empty())
            WriteFile("Watch.txt", rules);
        TForm1Options options;
        options.TrayShell = [this] {
            auto shell = std::make_unique<NoteShell>(notes_);
            shell_ = shell.get();
            return shell;
        };
        options.OnEvent = [this](const std::string& kind, const std::string& detail) {
            if (kind.starts_with("alarm"))  // the alarm watch's own
                events_.push_back(kind + " " + detail);
        };
        TForm1& form = Create(options);
        // Wide enough for every status panel.
        form.resize(1280, 700);
        form.show();
        Settle();
        return form;
    }
    void ClickCounter()
    {
        auto* bar = Find<TStatusBar>("StatusBar1");
        int x = 0;
        for (int i = 0; i < 9; ++i)
            x += bar->Panels(i).Width;
        ASSERT_EQ(bar->PanelAt({x + 10, 5}), 9);
        QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(x + 10, 5));
    }
    // The colour at the right end of each row in sight, with the row's text.
    std::vector<std::pair<QString, bool>> Bands()
    {
        TTerminalMemo* memo = Memo();
        memo->SyncNow();
        const QImage image = memo->viewport()->grab().toImage();
        std::vector<std::pair<QString, bool>> rows;
        for (const TTerminalMemo::DrawnRow& row : memo->DrawnRows()) {
            const QRect cell = memo->CellRect(memo->PosOf(row.Line, row.Start));
            if (!cell.isValid() || cell.bottom() >= image.height())
                continue;
            const QColor colour = image.pixelColor(image.width() - 3, cell.center().y());
            rows.emplace_back(row.Cells, colour.red() > 100 && colour.green() < 60);
        }
        return rows;
    }
    static std::string Lines(const char* stem, int count)
    {
        std::string text;
        for (int i = 1; i <= count; ++i)
            text += stem + std::to_string(i) + "\r\n";
        return text;
    }

    std::vector<std::string> notes_;
    std::vector<std::string> events_;
    NoteShell* shell_ = nullptr;
};

TEST_F(AlarmWindow, AMatchingLineHasARedBandOnAllItsRowsAndOnlyThere)
{
    CreateWatching("# alarms\nmajor\n");
    EXPECT_EQ(Status(9), "Alarms 0");
    const std::string wide(Memo()->Columns() + 10, 'w');
    Receive("CDR 1\r\nALM MAJOR PSU " + wide + "\r\nCDR 2 major");
    const auto rows = Bands();
    ASSERT_EQ(rows.size(), 4u);  // the alarm line wraps onto a second row
    EXPECT_FALSE(rows[0].second);
    EXPECT_TRUE(rows[1].second);
    EXPECT_TRUE(rows[2].second) << "the wrapped part of the line";
    EXPECT_FALSE(rows[3].second) << "a line still open is no alarm yet";
    EXPECT_EQ(Status(9), "Alarms 1");

    // The band follows its line as lines are trimmed from the front.
    Receive("\r\n" + Lines("CDR ", 6100));
    Receive("");  // the next cluster trims
    Settle();
    EXPECT_GT(Memo()->Model().FirstNumber(), 2);
    EXPECT_EQ(Status(9), "Alarms 2");  // "CDR 2 major"
    EXPECT_EQ(events_, (std::vector<std::string>{"alarm 2 ALM MAJOR PSU " + wide, "alarm 2 CDR 2 major"}));
    for (const auto& [cells, band] : Bands())
        EXPECT_FALSE(band) << cells.toStdString();
}

TEST_F(AlarmWindow, TheCounterGoesToTheOldestAlarmAndAcknowledgesItAlsoWhenItsLineIsGone)
{
    TForm1& form = CreateWatching("alarm\n\xD0\xB0\xD0\xB2\xD0\xB0\xD1\x80\xD0\xB8\xD1\x8F\n");  // "авария"
    Receive("ALARM A\r\n" + Lines("CDR ", 5990) + "ALARM B\r\n" + Lines("CDR ", 300) +
            "\xC0\xE2\xE0\xF0\xE8\xFF 3\r\n" + Lines("CDR ", 100));
    Receive("");  // the next cluster trims
    Settle();
    EXPECT_EQ(Status(9), "Alarms 3");
    ASSERT_GT(Memo()->Model().FirstNumber(), 0) << "ALARM A was trimmed away";
    EXPECT_TRUE(Memo()->Following());

    ClickCounter();
    EXPECT_EQ(Status(9), "Alarms 2");
    EXPECT_EQ(events_.back(), "alarm-ack 1 ALARM A");
    // Its line is gone: the display shows the oldest line there is.
    EXPECT_EQ(Memo()->DrawnRows().front().Line, 0);

    ClickCounter();
    EXPECT_EQ(Status(9), "Alarms 1");
    EXPECT_EQ(events_.back(), "alarm-ack 1 ALARM B");
    const auto rows = Memo()->DrawnRows();
    const auto shown = std::find_if(rows.begin(), rows.end(), [](const auto& row) { return row.Cells == "ALARM B"; });
    ASSERT_NE(shown, rows.end()) << "scrolled to the line";
    bool banded = false;
    for (const auto& [cells, band] : Bands())
        if (cells == "ALARM B")
            banded = band;
    EXPECT_TRUE(banded) << "an acknowledged alarm keeps its band";
    EXPECT_FALSE(Memo()->Following());

    ClickCounter();
    EXPECT_EQ(events_.back(), "alarm-ack 2 \xD0\x90\xD0\xB2\xD0\xB0\xD1\x80\xD0\xB8\xD1\x8F 3") << "Cyrillic as UTF-8";
    EXPECT_EQ(Status(9), "Alarms 0");
    const size_t count = events_.size();
    ClickCounter();
    EXPECT_EQ(events_.size(), count) << "nothing left to acknowledge";
    EXPECT_TRUE(form.isVisible());
}

TEST_F(AlarmWindow, LinesReplayedAfterTheCaptureViewAreMatchedWhenTheyReachTheDisplay)
{
    CreateWatching("fail");
    Button("Capture")->click();
    Receive("FAN FAIL\r\n");
    EXPECT_EQ(Status(9), "Alarms 0");
    Button("Capture")->click();
    EXPECT_EQ(Status(9), "Alarms 1");
    EXPECT_EQ(events_, (std::vector<std::string>{"alarm 1 FAN FAIL"}));
}

TEST_F(AlarmWindow, TrayNoticesWhileAwayAreThrottledToOnePerTenSecondsWithACountOfTheOthers)
{
    TForm1& form = CreateWatching("alarm");
    form.setWindowState(form.windowState() | Qt::WindowMinimized);
    Settle();
    Receive("ALARM 1\r\n");
    EXPECT_EQ(notes_, (std::vector<std::string>{"Alarm: ALARM 1"}));
    Receive("ALARM 2\r\nALARM 3\r\n");
    now_ = now_.addSecs(9);
    Receive("ALARM 4\r\n");
    EXPECT_EQ(notes_.size(), 1u);
    now_ = now_.addSecs(1);
    QElapsedTimer waited;
    waited.start();
    while (notes_.size() < 2 && waited.elapsed() < 20000)
        QTest::qWait(50);
    ASSERT_EQ(notes_.size(), 2u);
    EXPECT_EQ(notes_[1], "Alarms: ALARM 4\n(and 2 other alarms)");

    // Back at the window the operator sees the counter: no notices.
    shell_->OnMouse(TTrayMouse::LeftDoubleClick);
    form.activateWindow();
    QTRY_VERIFY_WITH_TIMEOUT(form.isActiveWindow() && !form.isMinimized(), 20000);
    now_ = now_.addSecs(60);
    Receive("ALARM 5\r\n");
    EXPECT_EQ(notes_.size(), 2u);
    EXPECT_EQ(Status(9), "Alarms 5");
}

TEST_F(AlarmWindow, TheRulesEditorIsBehindTheSettingsPasswordAndSaveWritesAndReloadsTheRules)
{
    TNetworkSettings stored;
    stored.SettingsPassword = "s3cret";
    WriteFile("Setings.str", EncodeNetworkSettings(stored));
    std::vector<QString> answers;
    prompt_ = [&](const QString&, const QString&, bool, QString& value) {
        if (answers.empty())
            return false;
        value = answers.front();
        answers.erase(answers.begin());
        return true;
    };
    TForm1& form = CreateWatching("");
    EXPECT_EQ(Status(9), "") << "no rules, no counter";
    OpenSettings();
    answers = {"wrong"};
    Button("Bra")->click();
    EXPECT_FALSE(Frame("PsetRA")->isVisibleTo(&form)) << "the rules' button is on the network panel";
    answers = {"s3cret"};
    Button("Bra")->click();
    ASSERT_TRUE(Frame("PsetRA")->isVisibleTo(&form));
    Button("Bwatch")->click();
    ASSERT_TRUE(Frame("PsetWatch")->isVisibleTo(&form));

    auto* editor = Find<QPlainTextEdit>("EditWatch");
    editor->setPlainText(QString::fromUtf8("fan fail\n(bad\n\xD0\xB0\xD0\xB2\xD0\xB0\xD1\x80\xD0\xB8\xD1\x8F\n"));
    Button("Button3")->click();
    Settle();
    EXPECT_EQ(ReadFile("Watch.txt"), "fan fail\n(bad\n\xD0\xB0\xD0\xB2\xD0\xB0\xD1\x80\xD0\xB8\xD1\x8F\n");
    ASSERT_EQ(errors_.size(), 1);
    EXPECT_TRUE(errors_[0].contains(QStringLiteral("line 2"))) << errors_[0].toStdString();
    Receive("FAN FAIL 3\r\n\xC0\xE2\xE0\xF0\xE8\xFF\r\n");
    EXPECT_EQ(Status(9), "Alarms 2");

    // Saving the same rules again does not repeat the report; Cancel puts back what is stored.
    OpenSettings();
    Button("Button3")->click();
    Settle();
    EXPECT_EQ(errors_.size(), 1);
    OpenSettings();
    editor->setPlainText(QStringLiteral("anything"));
    Button("Button4")->click();
    EXPECT_EQ(editor->toPlainText().toStdString(), ReadFile("Watch.txt"));
    Button("BcloseWatch")->click();
    EXPECT_FALSE(Frame("PsetWatch")->isVisibleTo(&form));
}

TEST_F(AlarmWindow, ABadRuleAtStartIsReportedOnceByItsLineAndTheOthersWork)
{
    CreateWatching("ok\n[bad\n");
    Settle();
    ASSERT_EQ(errors_.size(), 1);
    EXPECT_TRUE(errors_[0].contains(QStringLiteral("Watch.txt line 2"))) << errors_[0].toStdString();
    Receive("OK\r\nbad\r\n");
    EXPECT_EQ(Status(9), "Alarms 1");
    OpenSettings();
    Button("Button3")->click();
    Settle();
    EXPECT_EQ(errors_.size(), 1);
    EXPECT_FALSE(Exists("Watch.txt.tmp"));
    EXPECT_EQ(ReadFile("Watch.txt"), "ok\n[bad\n") << "unchanged rules are not rewritten";
}
