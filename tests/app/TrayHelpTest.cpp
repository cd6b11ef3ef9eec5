#include "app/Contrast.h"
#include "app/HelpViewer.h"
#include "app/ImageButton.h"
#include "app/TerminalMemo.h"
#include "archive/Unit2.h"
#include "support/TrayIcon.h"
#include "support/TrayIconShell.h"
#include "tests/app/FormFixture.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QRegularExpression>
#include <QTextBrowser>
#include <algorithm>
#include <filesystem>

namespace {

// Stands in for the notification area and records what it was asked.
class RecordingShell : public TTrayShell {
public:
    struct Log {
        std::vector<std::string> calls;
        std::vector<std::string> notes;  // "title: text" of each desktop notification
        bool shown = false;
        TNotifyIconData last;
        int Count(const std::string& call) const { return int(std::count(calls.begin(), calls.end(), call)); }
    };
    explicit RecordingShell(Log& log) : log_(log) {}
    bool Available() const override { return true; }
    bool Add(const TNotifyIconData& data) override
    {
        log_.calls.push_back("add");
        log_.last = data;
        return log_.shown = true;
    }
    bool Modify(const TNotifyIconData& data) override
    {
        log_.last = data;
        return log_.shown;
    }
    bool Delete() override
    {
        log_.calls.push_back("delete");
        return std::exchange(log_.shown, false);
    }
    QPoint CursorPos() const override { return {}; }
    void Popup(QMenu*, const QPoint&) override { log_.calls.push_back("popup"); }
    void Notify(const QString& title, const QString& text) override
    {
        log_.notes.push_back((title + QStringLiteral(": ") + text).toStdString());
    }

private:
    Log& log_;
};

QImage Pixels(const QIcon& icon) { return icon.pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32); }

}  // namespace

class TrayAndHelp : public FormFixture {
protected:
    TForm1& CreateWithTray(TForm1Options options = {})
    {
        options.TrayShell = [this] {
            ++shellsMade_;
            auto shell = std::make_unique<RecordingShell>(tray_);
            shell_ = shell.get();
            return shell;
        };
        return Create(std::move(options));
    }
    void Minimize(QWidget& window)
    {
        window.setWindowState(window.windowState() | Qt::WindowMinimized);
        Settle();
    }
    void DoubleClickTray() { shell_->OnMouse(TTrayMouse::LeftDoubleClick); }

    RecordingShell::Log tray_;
    RecordingShell* shell_ = nullptr;
    int shellsMade_ = 0;
};

TEST_F(TrayAndHelp, TheIconStaysThroughMinimizeAndRestoreAndCarriesTheProgramsIconAndTitle)
{
    TForm1& form = CreateWithTray();
    ASSERT_NE(Find<TTrayIcon>("TrayIcon1"), nullptr);
    EXPECT_TRUE(Find<TTrayIcon>("TrayIcon1")->Active());
    EXPECT_TRUE(Find<TTrayIcon>("TrayIcon1")->SeparateIcon());
    EXPECT_EQ(Find<TTrayIcon>("TrayIcon1")->PopupMenu(), form.findChild<QMenu*>("TrayMenu"));
    EXPECT_TRUE(tray_.shown);
    EXPECT_EQ(tray_.last.Tip, "Morvel PBX");
    EXPECT_FALSE(form.windowIcon().isNull());
    EXPECT_EQ(Pixels(tray_.last.Icon), Pixels(form.windowIcon()));

    const size_t calls = tray_.calls.size();
    form.show();
    Minimize(form);
    EXPECT_FALSE(form.isVisible());  // gone from the taskbar, living on as the icon
    DoubleClickTray();
    Settle();
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(form.isMinimized());
    EXPECT_TRUE(tray_.shown);
    EXPECT_EQ(tray_.calls.size(), calls);  // neither removed nor added again
}

TEST_F(TrayAndHelp, WithoutSeparateIconTheIconComesWithMinimizeAndGoesWithRestore)
{
    TForm1& form = CreateWithTray();
    Find<TTrayIcon>("TrayIcon1")->SetSeparateIcon(false);
    EXPECT_FALSE(tray_.shown);
    form.show();
    Minimize(form);
    EXPECT_TRUE(tray_.shown);
    EXPECT_FALSE(form.isVisible());
    DoubleClickTray();
    Settle();
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(form.isMinimized());
    EXPECT_FALSE(tray_.shown);
}

TEST_F(TrayAndHelp, ADoubleClickOnARunningWindowLeavesItsSizeAndBringsTheViewerAboveIt)
{
    TForm1& form = CreateWithTray();
    TForm2 viewer;
    form.SetArchiveWindow(&viewer);
    form.show();
    form.setGeometry(10, 10, 700, 400);
    DoubleClickTray();
    Settle();
    EXPECT_EQ(form.geometry(), QRect(10, 10, 700, 400));
    EXPECT_FALSE(viewer.isVisible());  // a hidden viewer stays hidden
    EXPECT_EQ(QApplication::activeWindow(), &form);

    viewer.show();
    Minimize(viewer);
    Minimize(form);
    DoubleClickTray();
    Settle();
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(form.isMinimized());
    EXPECT_FALSE(viewer.isMinimized());
    EXPECT_EQ(QApplication::activeWindow(), &viewer);
}

TEST_F(TrayAndHelp, ASecondInstanceShowsNoIcon)
{
    TForm1Options options;
    options.AnotherInstanceRunning = [] { return true; };
    TForm1& form = CreateWithTray(options);
    EXPECT_TRUE(form.Terminated());
    EXPECT_EQ(form.findChild<TTrayIcon*>(), nullptr);
    EXPECT_EQ(shellsMade_, 0);
}

TEST_F(TrayAndHelp, FontHeightsAreTruncatedAndBoldFollowsTheBox)
{
    Create();
    if (Memo()->logicalDpiY() != 96)
        GTEST_SKIP() << "the screen is not 96 pixels per inch";
    const int heights[] = {10, 12, 13, 14, 16, 18, 21, 24, 26, 29, 32};
    ASSERT_EQ(Combo("CBfontsize")->count(), 11);
    for (int i = 0; i < 11; ++i) {
        Combo("CBfontsize")->setCurrentIndex(i);
        emit Combo("CBfontsize")->activated(i);
        EXPECT_EQ(Memo()->font().pixelSize(), heights[i]) << Combo("CBfontsize")->itemText(i).toStdString();
    }
    EXPECT_EQ(Memo()->font().family(), "Courier New");
    Check("CheckBoxBold")->setChecked(true);  // set by the program: applied too
    EXPECT_TRUE(Memo()->font().bold());
    EXPECT_EQ(Memo()->font().pixelSize(), 32);
    Check("CheckBoxBold")->setChecked(false);
    EXPECT_FALSE(Memo()->font().bold());
}

TEST_F(TrayAndHelp, TheHelpButtonOpensOneViewerAtTheContents)
{
    WriteFile("MorvelPBX.hlp", "<html><body><p>intro</p>" + std::string(2000, '\n') + "<p>x</p>" +
                                   "<h1><a name=\"contents\">Contents</a></h1><p>topics</p></body></html>");
    TForm1& form = Create();
    emit Find<TImageButton>("ImageHelp")->clicked();
    auto* viewer = form.findChild<THelpViewer*>();
    ASSERT_NE(viewer, nullptr);
    EXPECT_TRUE(viewer->isVisible());
    EXPECT_EQ(viewer->Browser->source().fileName(), "MorvelPBX.hlp");
    EXPECT_EQ(viewer->Browser->source().fragment(), "contents");
    EXPECT_TRUE(viewer->Browser->toPlainText().contains("topics"));
    EXPECT_FALSE(viewer->windowTitle().contains("no topic"));

    viewer->close();
    emit Find<TImageButton>("ImageHelp")->clicked();
    EXPECT_EQ(form.findChildren<THelpViewer*>().size(), 1);
    EXPECT_TRUE(viewer->isVisible());
}

TEST_F(TrayAndHelp, AMissingHelpFileOrTopicIsReported)
{
    TForm1& form = Create();
    emit Find<TImageButton>("ImageHelp")->clicked();
    ASSERT_EQ(errors_.size(), 1);
    EXPECT_TRUE(errors_[0].startsWith("Cannot find the help file"));
    EXPECT_TRUE(errors_[0].contains("\"MorvelPBX.hlp\""));
    EXPECT_TRUE(errors_[0].contains(QDir::currentPath()));

    WriteFile("other.html", "<p>no topics here</p>");
    qApp->setProperty("helpFile", QDir::current().absoluteFilePath("other.html"));
    emit Find<TImageButton>("ImageHelp")->clicked();
    qApp->setProperty("helpFile", QVariant());
    auto* viewer = form.findChild<THelpViewer*>();
    ASSERT_NE(viewer, nullptr);
    EXPECT_TRUE(viewer->Browser->toPlainText().contains("no topics here"));
    EXPECT_TRUE(viewer->windowTitle().contains("no topic \"contents\""));
}

TEST(HelpFile, TheManualHasItsContentsTopicAndNoBrokenLinks)
{
    const std::filesystem::path source = std::filesystem::path(__FILE__).parent_path().parent_path().parent_path();
    QFile file(QString::fromStdString((source / "MorvelPBX.hlp").string()));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
    const QString html = QString::fromUtf8(file.readAll());

    QStringList anchors;
    for (const auto& m : QRegularExpression(R"re(<a name="([^"]+)")re").globalMatch(html))
        anchors << m.captured(1);
    EXPECT_TRUE(anchors.contains("contents"));
    int links = 0;
    for (const auto& m : QRegularExpression(R"re(href="#([^"]+)")re").globalMatch(html)) {
        ++links;
        EXPECT_TRUE(anchors.contains(m.captured(1))) << m.captured(1).toStdString();
    }
    EXPECT_GE(links, 15);

    QTextBrowser browser;
    QUrl url = QUrl::fromLocalFile(file.fileName());
    url.setFragment("contents");
    browser.setSource(url, QTextDocument::HtmlResource);
    EXPECT_TRUE(browser.toPlainText().contains("Connecting the serial port"));
}

TEST(TrayActivation, EveryReasonHasItsMeaning)
{
    EXPECT_EQ(TrayMouseOf(QSystemTrayIcon::Trigger), TTrayMouse::LeftUp);  // the only one a D-Bus tray sends
    EXPECT_EQ(TrayMouseOf(QSystemTrayIcon::DoubleClick), TTrayMouse::LeftDoubleClick);
    EXPECT_EQ(TrayMouseOf(QSystemTrayIcon::Context), TTrayMouse::RightUp);
    EXPECT_EQ(TrayMouseOf(QSystemTrayIcon::MiddleClick), std::nullopt);
    EXPECT_EQ(TrayMouseOf(QSystemTrayIcon::Unknown), std::nullopt);
}

TEST_F(TrayAndHelp, ASingleClickRestoresAndMinimizingTakesTheViewerAndTheHelpAlong)
{
    WriteFile("MorvelPBX.hlp", "<html><body><h1><a name=\"contents\">Contents</a></h1></body></html>");
    TForm1& form = CreateWithTray();
    TForm2 viewer;
    form.SetArchiveWindow(&viewer);
    form.show();
    viewer.show();
    emit Find<TImageButton>("ImageHelp")->clicked();
    auto* help = form.findChild<THelpViewer*>();
    ASSERT_TRUE(help && help->isVisible());

    Minimize(form);
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(viewer.isVisible());
    EXPECT_FALSE(help->isVisible());
    shell_->OnMouse(TTrayMouse::LeftUp);  // one click, as a D-Bus tray reports it
    Settle();
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(form.isMinimized());
    EXPECT_TRUE(viewer.isVisible()) << "both windows back";
    EXPECT_TRUE(help->isVisible());
    EXPECT_EQ(QApplication::activeWindow(), &viewer);

    // Windows that were closed before stay closed.
    help->close();
    Minimize(form);
    shell_->OnMouse(TTrayMouse::LeftUp);
    Settle();
    EXPECT_FALSE(help->isVisible());
    EXPECT_TRUE(viewer.isVisible());
}

TEST_F(TrayAndHelp, TheIconsMenuRestoresAndExitsThroughTheCloseQuestion)
{
    TForm1& form = CreateWithTray();
    auto* menu = form.findChild<QMenu*>("TrayMenu");
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions().size(), 2);
    EXPECT_EQ(menu->actions()[0]->text(), "Restore");
    EXPECT_EQ(menu->actions()[1]->text(), "Exit");
    EXPECT_EQ(Find<TTrayIcon>("TrayIcon1")->PopupMenu(), menu);

    form.show();
    Minimize(form);
    menu->actions()[0]->trigger();
    Settle();
    EXPECT_TRUE(form.isVisible());

    confirmAnswer_ = false;
    menu->actions()[1]->trigger();
    EXPECT_EQ(confirms_, 1);
    EXPECT_TRUE(form.isVisible());
    confirmAnswer_ = true;
    menu->actions()[1]->trigger();
    EXPECT_EQ(confirms_, 2);
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(Exists("Setings.ini"));
}

TEST(HelpFile, AnInstalledManualIsFoundInTheDataFolderBesideTheProgramsFolder)
{
    const QString name = QStringLiteral("installed-%1.hlp").arg(QCoreApplication::applicationPid());
    const QString installed = QCoreApplication::applicationDirPath() + "/../share/morvel-pbx";
    ASSERT_TRUE(QDir().mkpath(installed));
    QFile file(installed + "/" + name);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_EQ(THelpViewer::LocateHelpFile(name), QFileInfo(file).absoluteFilePath());
    file.remove();
    EXPECT_EQ(THelpViewer::LocateHelpFile(name), QString());
}

TEST(HelpViewer, LinksStayReadableInADarkScheme)
{
    const QPalette saved = QApplication::palette();
    QPalette dark = saved;
    dark.setColor(QPalette::Base, QColor(0x2A, 0x2A, 0x2A));
    dark.setColor(QPalette::Text, Qt::white);
    dark.setColor(QPalette::Link, QColor(0x00, 0x00, 0xFF));  // a light scheme's link colour left behind
    QApplication::setPalette(dark);
    QWidget owner;
    THelpViewer viewer(&owner);
    const QPalette shown = viewer.Browser->palette();
    EXPECT_GE(ContrastRatio(shown.color(QPalette::Link), shown.color(QPalette::Base)), kReadableContrast);
    QApplication::setPalette(saved);
    EXPECT_GE(
        ContrastRatio(viewer.Browser->palette().color(QPalette::Link), viewer.Browser->palette().color(QPalette::Base)),
        kReadableContrast);
}
