#include "support/TrayIcon.h"

#include "support/Dialogs.h"

#include "support/TrayIconShell.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QTimer>
#include <QWidget>
#include <QWindowStateChangeEvent>

#include <exception>

TTrayIcon::TTrayIcon(QObject* owner, std::unique_ptr<TTrayShell> shell)
    : QObject(owner), Shell(shell ? std::move(shell) : MakeSystemTrayShell())
{
    FIcon = QGuiApplication::windowIcon();
    FShellIconSupported = Shell->Available();
    FIconPending = true;
    Data.Flags = TNotifyIconData::NIF_MESSAGE | TNotifyIconData::NIF_ICON;
    Data.Icon = FIcon;
    SetTip(FHint.isEmpty() ? QGuiApplication::applicationDisplayName() : FHint);
    Shell->OnMouse = [this](TTrayMouse mouse) { HandleMouse(mouse); };
}

TTrayIcon::~TTrayIcon()
{
    // The main window may be half destroyed here (it owns us): leave it alone.
    if (FActive && FShellIconSupported)
        Shell->Delete();
    Shell->OnMouse = nullptr;
}

void TTrayIcon::SetMainWindow(QWidget* window)
{
    if (MainWindow)
        MainWindow->removeEventFilter(this);
    MainWindow = window;
    WindowHiddenByUs = false;
    FAppMinimized = window && window->isMinimized();
    if (!window)
        return;
    window->installEventFilter(this);
    if (FActive && FAppMinimized)
        AddIcon();
}

void TTrayIcon::SetActive(bool value)
{
    FActive = value;
    if (FActive && (FAppMinimized || FSeparateIcon)) {
        AddIcon();
    } else {
        DeleteIcon();
        // A window hidden into an icon that is gone would be out of the operator's reach.
        if (WindowHiddenByUs)
            RevealWindow();
    }
}

void TTrayIcon::SetSeparateIcon(bool value)
{
    FSeparateIcon = value;
    if (value && FActive)
        AddIcon();
    else if (!value && FActive && !FAppMinimized)
        DeleteIcon();
}

void TTrayIcon::SetHint(const QString& value)
{
    if (value == FHint)
        return;
    FHint = value;
    SetTip(value);
    ModifyIcon();
}

void TTrayIcon::SetIcon(const QIcon& value)
{
    if (value.cacheKey() == FIcon.cacheKey())
        return;
    FIcon = value;
    Data.Icon = FIcon;
    ModifyIcon();
}

void TTrayIcon::SetTip(const QString& tip)
{
    QString text = tip.left(TNotifyIconData::TipLimit);
    if (text.size() == TNotifyIconData::TipLimit && text.back().isHighSurrogate())
        text.chop(1);
    Data.Tip = text;
    if (text.isEmpty())
        Data.Flags &= ~unsigned(TNotifyIconData::NIF_TIP);
    else
        Data.Flags |= TNotifyIconData::NIF_TIP;
}

void TTrayIcon::AddIcon()
{
    if (!FActive || !FShellIconSupported || !FIconPending)
        return;
    if (!Shell->Add(Data))
        throw EOutOfResources("Cannot create shell notification icon");
    FIconPending = false;
}

void TTrayIcon::DeleteIcon()
{
    if (FShellIconSupported)
        Shell->Delete();
    FIconPending = true;
}

void TTrayIcon::ModifyIcon()
{
    if (FActive && FShellIconSupported)
        Shell->Modify(Data);
}

void TTrayIcon::HandleMouse(TTrayMouse mouse)
{
    switch (mouse) {
    case TTrayMouse::LeftUp:
        if (OnClick)
            OnClick(this);
        break;
    case TTrayMouse::LeftDoubleClick:
        if (OnDblClick)
            OnDblClick(this);
        break;
    case TTrayMouse::RightUp:
        HandleRightClick();
        break;
    }
}

void TTrayIcon::HandleRightClick()
{
    const QPoint at = Shell->CursorPos();
    if (FPopupMenu && (!TaskbarWindowVisible() || FSeparateIcon))
        Shell->Popup(FPopupMenu, at);
    if (OnRightClick)
        OnRightClick(this, Qt::RightButton, Qt::NoModifier, at.x(), at.y());
}

bool TTrayIcon::TaskbarWindowVisible() const { return !MainWindow || MainWindow->isVisible(); }

bool TTrayIcon::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == MainWindow && event->type() == QEvent::WindowStateChange) {
        const auto* change = static_cast<QWindowStateChangeEvent*>(event);
        const bool was = change->oldState().testFlag(Qt::WindowMinimized);
        const bool now = MainWindow->windowState().testFlag(Qt::WindowMinimized);
        if (!was && now)
            ReportedTo(errorBox_ ? errorBox_ : TDialogs::Standard().ErrorBox,
                       [this] { AppMinimize(); })();  // a refused icon must not unwind through Qt
        else if (was && !now)
            AppRestore();
    }
    return QObject::eventFilter(watched, event);
}

void TTrayIcon::AppMinimize()
{
    // The add comes first: when it is refused the window keeps its taskbar
    // button, or a minimized program would have no way back.
    std::exception_ptr refused;
    if (FActive) {
        try {
            AddIcon();
        } catch (const EOutOfResources&) {
            refused = std::current_exception();
        }
        // Hiding inside the state change itself leaves a taskbar entry behind on some desktops.
        if (!FIconPending)
            QTimer::singleShot(0, this, &TTrayIcon::HideIntoIcon);
    }
    FAppMinimized = true;
    if (OnMinimize)
        OnMinimize(QCoreApplication::instance());
    if (refused)
        std::rethrow_exception(refused);
}

void TTrayIcon::AppRestore()
{
    if (FActive || WindowHiddenByUs) {
        WindowHiddenByUs = false;
        // The state is restored already; showNormal would also drop a maximized state.
        if (MainWindow && !MainWindow->isVisible())
            MainWindow->show();
    }
    if (FActive && !FSeparateIcon)
        DeleteIcon();
    if (OnRestore)
        OnRestore(QCoreApplication::instance());
    FAppMinimized = false;
}

void TTrayIcon::HideIntoIcon()
{
    if (MainWindow && FActive && FAppMinimized && !FIconPending && MainWindow->isMinimized()) {
        WindowHiddenByUs = true;
        MainWindow->hide();
    }
}

void TTrayIcon::RevealWindow()
{
    WindowHiddenByUs = false;
    if (MainWindow)
        MainWindow->showMinimized();
}
