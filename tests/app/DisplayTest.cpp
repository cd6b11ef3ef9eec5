// The display in the window: it stays on the newest line through a burst that
// arrives behind the settings panel or while the window is hidden, and find
// brings the match into sight and keeps it there.
#include "app/TerminalMemo.h"
#include "core/LineModel.h"
#include "support/FindDialog.h"
#include "tests/app/FormFixture.h"

#include <QAction>
#include <QPushButton>
#include <QTest>

namespace {

class DisplayInWindow : public FormFixture {
protected:
    void SetUp() override
    {
        FormFixture::SetUp();
        Create().show();
    }
    // Lines "burst N" in clusters of up to 4 KiB, as a flood arrives.
    void Burst(int lines)
    {
        std::string text;
        for (int i = 0; i < lines; ++i)
            text += "burst " + std::to_string(i) + "\r\n";
        for (size_t at = 0; at < text.size(); at += 4096)
            Receive(text.substr(at, 4096));
    }
    // The last completed line the display draws (the open line below it is
    // empty), once its refresh has come.
    QString LastDrawnLine()
    {
        QTest::qWait(250);
        const auto rows = Memo()->DrawnRows();
        return rows.size() < 2 ? QString() : rows[rows.size() - 2].Cells;
    }
};

}  // namespace

TEST_F(DisplayInWindow, ABurstBehindTheSettingsPanelLeavesTheDisplayOnTheNewestLine)
{
    Burst(100);
    OpenSettings();
    Burst(7000);
    EXPECT_EQ(LastDrawnLine(), "burst 6999");
    Button("Button4")->click();  // Cancel: the panel closes, the display grows back
    EXPECT_EQ(LastDrawnLine(), "burst 6999");
    EXPECT_TRUE(Memo()->Following());
    Receive("after\r\n");
    EXPECT_EQ(LastDrawnLine(), "after");
}

TEST_F(DisplayInWindow, ABurstWhileTheWindowIsHiddenShowsItsNewestLineOnReturn)
{
    form_->hide();
    Burst(7000);
    form_->show();
    EXPECT_EQ(LastDrawnLine(), "burst 6999");
    EXPECT_TRUE(Memo()->Following());
}

TEST_F(DisplayInWindow, FindScrollsToTheMatchAndKeepsItInSightWhileLinesArrive)
{
    Burst(20);
    Receive("the NEEDLE is here\r\n");
    Burst(500);
    Action("Find1")->trigger();
    auto* dialog = Find<TFindDialog>("FindDialog1");
    dialog->SetFindText("needle");
    dialog->SetOptions(frFindNext);
    dialog->OnFind();
    EXPECT_EQ(Memo()->SelectedBytes(), "NEEDLE");
    auto matchShown = [this] {
        QTest::qWait(250);
        for (const auto& row : Memo()->DrawnRows())
            if (row.Cells.contains("NEEDLE"))
                return true;
        return false;
    };
    EXPECT_TRUE(matchShown());
    Burst(300);
    EXPECT_TRUE(matchShown());
    EXPECT_GT(Memo()->WaitingLines(), 0);
}
