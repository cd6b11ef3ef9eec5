// The notification-area icon and the help button.
#include "app/HelpViewer.h"
#include "app/Unit1Ui.h"
#include "archive/Unit2.h"
#include "support/TrayIcon.h"

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
    TrayIcon1->OnDblClick = [this](QObject*) { TrayIcon1DblClick(); };
    TrayIcon1->SetMainWindow(this);
    TrayIcon1->SetErrorBox(options_.Dialogs.ErrorBox);
    try {
        TrayIcon1->SetActive(true);
        TrayIcon1->SetSeparateIcon(true);
    } catch (const EOutOfResources& e) {
        // The icon is tried again at the next minimize; the program runs without it meanwhile.
        ReportStartupProblem(e.what());
    }
}

void TForm1::TrayIcon1DblClick()
{
    BringBack(this);
    if (Form2 && Form2->isVisible())
        BringBack(Form2);
}

void TForm1::ButtonHelpClick() { ShowHelp(this, QStringLiteral("contents")); }
