// The notification-area icon and the help button.
#include "app/HelpViewer.h"
#include "app/Unit1Ui.h"
#include "archive/Unit2.h"
#include "support/TrayIcon.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <utility>

namespace {

void BringBack(QWidget* window)
{
    if (window->isMinimized() || !window->isVisible()) {
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
        window->show();
    }
    window->raise();
    window->activateWindow();
}

}  // namespace

void TForm1::CreateTrayIcon()
{
    TrayIcon1 = new TTrayIcon(this, options_.TrayShell ? options_.TrayShell() : nullptr);
    TrayIcon1->setObjectName(QStringLiteral("TrayIcon1"));
    TrayIcon1->SetIcon(windowIcon());
    // A D-Bus tray reports every click as a single one: it restores too.
    TrayIcon1->OnDblClick = [this](QObject*) { TrayIcon1DblClick(); };
    TrayIcon1->OnClick = [this](QObject*) { TrayIcon1DblClick(); };
    TrayIcon1->OnMinimize = [this](QObject*) { HideOtherWindows(); };
    TrayIcon1->SetMainWindow(this);
    trayMenu_ = new QMenu(this);
    trayMenu_->setObjectName(QStringLiteral("TrayMenu"));
    connect(trayMenu_->addAction(QStringLiteral("Restore")), &QAction::triggered, this,
            [this] { TrayIcon1DblClick(); });
    // Through the window's own close question.
    connect(trayMenu_->addAction(QStringLiteral("Exit")), &QAction::triggered, this, [this] {
        if (close())
            QApplication::quit();
    });
    TrayIcon1->SetPopupMenu(trayMenu_);
    TrayIcon1->SetErrorBox(options_.Dialogs.ErrorBox);
    try {
        TrayIcon1->SetActive(true);
        TrayIcon1->SetSeparateIcon(true);
    } catch (const EOutOfResources& e) {
        // The icon is tried again at the next minimize; the program runs without it meanwhile.
        ReportStartupProblem(e.what());
    }
}

void TForm1::HideOtherWindows()
{
    hiddenWithMain_.clear();
    QWidget* viewer = Form2;
    for (QWidget* window : {viewer, static_cast<QWidget*>(findChild<THelpViewer*>())}) {
        if (window && window->isVisible()) {
            hiddenWithMain_.emplace_back(window);
            window->hide();
        }
    }
}

void TForm1::TrayIcon1DblClick()
{
    BringBack(this);
    bool viewerBack = Form2 && Form2->isVisible();
    for (const QPointer<QWidget>& window : std::exchange(hiddenWithMain_, {})) {
        if (window && window == Form2)
            viewerBack = true;
        else if (window)
            BringBack(window);
    }
    // The viewer comes last, above the main window.
    if (viewerBack)
        BringBack(Form2);
}

void TForm1::ButtonHelpClick() { ShowHelp(this, QStringLiteral("contents")); }
