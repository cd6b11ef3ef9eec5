#include "support/TrayIcon.h"

#include <QApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

// Stands in for the notification area and records what it was asked.
class FakeShell : public TTrayShell {
public:
    ~FakeShell() override
    {
        if (shownAtEnd)
            *shownAtEnd = shown;
    }
    bool Available() const override { return true; }
    bool Add(const TNotifyIconData& data) override
    {
        calls.push_back("add");
        if (refuseAdd || shown)
            return false;
        last = data;
        return shown = true;
    }
    bool Modify(const TNotifyIconData& data) override
    {
        last = data;
        return shown;
    }
    bool Delete() override
    {
        calls.push_back("delete");
        return std::exchange(shown, false);
    }
    QPoint CursorPos() const override { return {640, 1020}; }
    void Popup(QMenu* menu, const QPoint& at) override { popups.push_back({menu, at}); }
    int Count(const std::string& call) const { return int(std::count(calls.begin(), calls.end(), call)); }

    bool refuseAdd = false;
    bool shown = false;
    bool* shownAtEnd = nullptr;
    TNotifyIconData last;
    std::vector<std::string> calls;
    std::vector<std::pair<QMenu*, QPoint>> popups;
};

class TrayIconTest : public testing::Test {
protected:
    void SetUp() override
    {
        auto shell = std::make_unique<FakeShell>();
        fake = shell.get();
        window.show();
        tray = std::make_unique<TTrayIcon>(nullptr, std::move(shell));
        tray->SetMainWindow(&window);
        tray->OnMinimize = [this](QObject* sender) { events.push_back(sender == qApp ? "min" : "?"); };
        tray->OnRestore = [this](QObject* sender) { events.push_back(sender == qApp ? "restore" : "?"); };
    }
    void Minimize()
    {
        window.showMinimized();
        QCoreApplication::processEvents();
    }
    // What the program does on a double click on the icon.
    void Restore()
    {
        window.showNormal();
        QCoreApplication::processEvents();
    }

    QWidget window;
    FakeShell* fake = nullptr;
    std::unique_ptr<TTrayIcon> tray;
    std::vector<std::string> events;
};

}  // namespace

TEST_F(TrayIconTest, WithoutSeparateIconTheIconLivesOnlyWhileMinimized)
{
    tray->SetActive(true);
    EXPECT_FALSE(fake->shown);
    EXPECT_TRUE(tray->IconPending());

    Minimize();
    EXPECT_TRUE(fake->shown);
    EXPECT_FALSE(tray->IconPending());
    EXPECT_TRUE(tray->AppMinimized());
    EXPECT_FALSE(window.isVisible());  // no taskbar button

    Restore();
    EXPECT_FALSE(fake->shown);
    EXPECT_FALSE(tray->AppMinimized());
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isMinimized());

    Minimize();
    EXPECT_TRUE(fake->shown);
    EXPECT_EQ(events, (std::vector<std::string>{"min", "restore", "min"}));
}

TEST_F(TrayIconTest, WithSeparateIconTheIconStaysThroughMinimizeAndRestore)
{
    tray->SetActive(true);
    tray->SetSeparateIcon(true);
    EXPECT_TRUE(fake->shown);
    const size_t calls = fake->calls.size();

    Minimize();
    EXPECT_FALSE(window.isVisible());
    Restore();
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(fake->shown);
    EXPECT_EQ(fake->calls.size(), calls);

    tray->SetSeparateIcon(false);
    EXPECT_FALSE(fake->shown);
}

TEST_F(TrayIconTest, AMaximizedWindowComesBackMaximized)
{
    tray->SetActive(true);
    tray->SetSeparateIcon(true);
    window.showMaximized();
    QCoreApplication::processEvents();
    window.setWindowState(window.windowState() | Qt::WindowMinimized);
    QCoreApplication::processEvents();
    ASSERT_FALSE(window.isVisible());

    // As the tray's double click and the taskbar do it: drop the minimized state only.
    window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.show();
    QCoreApplication::processEvents();
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.windowState(), Qt::WindowMaximized);
    EXPECT_FALSE(tray->AppMinimized());
}

TEST_F(TrayIconTest, ActiveSetWhileMinimizedShowsTheIcon)
{
    Minimize();
    EXPECT_TRUE(tray->AppMinimized());
    EXPECT_TRUE(window.isVisible());  // an inactive icon takes nothing over
    tray->SetActive(true);
    EXPECT_TRUE(fake->shown);
    tray->SetActive(false);
    EXPECT_FALSE(fake->shown);
}

TEST_F(TrayIconTest, SwitchingOffWhileHiddenGivesTheWindowBack)
{
    tray->SetActive(true);
    Minimize();
    ASSERT_FALSE(window.isVisible());
    tray->SetActive(false);
    EXPECT_FALSE(fake->shown);
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(window.isMinimized());
}

TEST_F(TrayIconTest, RefusedAddRaisesAndIsRetried)
{
    fake->refuseAdd = true;
    tray->SetActive(true);
    try {
        tray->SetSeparateIcon(true);
        ADD_FAILURE() << "no error raised";
    } catch (const EOutOfResources& error) {
        EXPECT_STREQ(error.what(), "Cannot create shell notification icon");
    }
    EXPECT_TRUE(tray->IconPending());

    // Refused again on minimize: reported in the error box, and the window keeps
    // its taskbar button, or the operator could not bring it back.
    QStringList shown;
    tray->SetErrorBox([&](const QString& text) { shown << text; });
    Minimize();
    EXPECT_EQ(shown, QStringList{"Cannot create shell notification icon"});
    QCoreApplication::processEvents();
    EXPECT_TRUE(tray->AppMinimized());
    EXPECT_EQ(events, std::vector<std::string>{"min"});
    EXPECT_TRUE(window.isVisible());

    fake->refuseAdd = false;
    tray->SetActive(true);
    EXPECT_TRUE(fake->shown);
    EXPECT_EQ(fake->Count("add"), 3);
}

TEST_F(TrayIconTest, DesktopWithoutTrayKeepsStateAndShowsNothing)
{
    if (QSystemTrayIcon::isSystemTrayAvailable())
        GTEST_SKIP() << "this desktop has a notification area";
    tray.reset();
    TTrayIcon real(nullptr);
    real.SetMainWindow(&window);
    EXPECT_FALSE(real.ShellIconSupported());
    EXPECT_NO_THROW(real.SetActive(true));
    EXPECT_NO_THROW(real.SetSeparateIcon(true));
    EXPECT_NO_THROW(Minimize());
    EXPECT_TRUE(real.Active());
    EXPECT_TRUE(real.AppMinimized());
    EXPECT_TRUE(real.IconPending());
    EXPECT_TRUE(window.isVisible());  // no icon to come back through
}

TEST_F(TrayIconTest, TipIsTheTitleAtFirstThenTheHintCutTo63)
{
    QGuiApplication::setApplicationDisplayName("Morvel PBX");
    auto shell = std::make_unique<FakeShell>();
    FakeShell* titled = shell.get();
    TTrayIcon named(nullptr, std::move(shell));
    QGuiApplication::setApplicationDisplayName(QString());
    named.SetActive(true);
    named.SetSeparateIcon(true);
    EXPECT_EQ(titled->last.Tip, "Morvel PBX");

    const QString hint(80, QLatin1Char('h'));
    named.SetHint(hint);
    EXPECT_EQ(named.Hint(), hint);
    EXPECT_EQ(titled->last.Tip, hint.left(63));
    EXPECT_TRUE(titled->last.Flags & TNotifyIconData::NIF_TIP);

    // An empty hint set later means no tip at all, not the title.
    named.SetHint(QString());
    EXPECT_FALSE(titled->last.Flags & TNotifyIconData::NIF_TIP);
    EXPECT_TRUE(titled->last.Flags & TNotifyIconData::NIF_ICON);
}

TEST_F(TrayIconTest, ClickReports)
{
    std::vector<std::string> seen;
    tray->OnClick = [&](QObject* sender) { seen.push_back(sender == tray.get() ? "click" : "?"); };
    tray->OnDblClick = [&](QObject* sender) { seen.push_back(sender == tray.get() ? "dbl" : "?"); };
    fake->OnMouse(TTrayMouse::LeftUp);
    fake->OnMouse(TTrayMouse::LeftDoubleClick);
    EXPECT_EQ(seen, (std::vector<std::string>{"click", "dbl"}));
}

TEST_F(TrayIconTest, RightClickRules)
{
    tray->SetActive(true);
    fake->OnMouse(TTrayMouse::RightUp);  // no menu, no handler: nothing

    QMenu menu;
    tray->SetPopupMenu(&menu);
    fake->OnMouse(TTrayMouse::RightUp);  // window on the taskbar, icon not separate
    EXPECT_TRUE(fake->popups.empty());

    std::vector<QPoint> reports;
    tray->OnRightClick = [&](QObject* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y) {
        EXPECT_EQ(sender, tray.get());
        EXPECT_EQ(button, Qt::RightButton);
        EXPECT_EQ(shift, Qt::NoModifier);
        reports.emplace_back(x, y);
    };
    tray->SetSeparateIcon(true);
    fake->OnMouse(TTrayMouse::RightUp);
    ASSERT_EQ(fake->popups.size(), 1u);
    EXPECT_EQ(fake->popups[0], std::make_pair(&menu, QPoint(640, 1020)));
    EXPECT_EQ(reports, std::vector<QPoint>{QPoint(640, 1020)});

    tray->SetSeparateIcon(false);
    Minimize();
    fake->OnMouse(TTrayMouse::RightUp);  // minimized into the icon
    EXPECT_EQ(fake->popups.size(), 2u);
}

TEST_F(TrayIconTest, DestroyingAnActiveIconRemovesIt)
{
    tray->SetActive(true);
    tray->SetSeparateIcon(true);
    bool shownAtEnd = true;
    fake->shownAtEnd = &shownAtEnd;
    tray.reset();
    EXPECT_FALSE(shownAtEnd);
}
