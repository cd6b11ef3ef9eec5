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
    : QObject(owner), shell_(shell ? std::move(shell) : MakeSystemTrayShell())
{
    icon_ = QGuiApplication::windowIcon();
    shellIconSupported_ = shell_->Available();
    iconPending_ = true;
    data_.Flags = TNotifyIconData::NIF_MESSAGE | TNotifyIconData::NIF_ICON;
    data_.Icon = icon_;
    SetTip(hint_.isEmpty() ? QGuiApplication::applicationDisplayName() : hint_);
    shell_->OnMouse = [this](TTrayMouse mouse) { HandleMouse(mouse); };
}

TTrayIcon::~TTrayIcon()
{
    // The main window may be half destroyed here (it owns us): leave it alone.
    if (active_ && shellIconSupported_)
        shell_->Delete();
    shell_->OnMouse = nullptr;
}

void TTrayIcon::SetMainWindow(QWidget* window)
{
    if (mainWindow_)
        mainWindow_->removeEventFilter(this);
    mainWindow_ = window;
    windowHiddenByUs_ = false;
    appMinimized_ = window && window->isMinimized();
    if (!window)
        return;
    window->installEventFilter(this);
    if (active_ && appMinimized_)
        AddIcon();
}

void TTrayIcon::SetActive(bool value)
{
    active_ = value;
    if (active_ && (appMinimized_ || separateIcon_)) {
        AddIcon();
    } else {
        DeleteIcon();
        // A window hidden into an icon that is gone would be out of the operator's reach.
        if (windowHiddenByUs_)
            RevealWindow();
    }
}

void TTrayIcon::SetSeparateIcon(bool value)
{
    separateIcon_ = value;
    if (value && active_)
        AddIcon();
    else if (!value && active_ && !appMinimized_)
        DeleteIcon();
}

void TTrayIcon::SetHint(const QString& value)
{
    if (value == hint_)
        return;
    hint_ = value;
    SetTip(value);
    ModifyIcon();
}

void TTrayIcon::SetIcon(const QIcon& value)
{
    if (value.cacheKey() == icon_.cacheKey())
        return;
    icon_ = value;
    data_.Icon = icon_;
    ModifyIcon();
}

void TTrayIcon::SetTip(const QString& tip)
{
    QString text = tip.left(TNotifyIconData::TipLimit);
    if (text.size() == TNotifyIconData::TipLimit && text.back().isHighSurrogate())
        text.chop(1);
    data_.Tip = text;
    if (text.isEmpty())
        data_.Flags &= ~unsigned(TNotifyIconData::NIF_TIP);
    else
        data_.Flags |= TNotifyIconData::NIF_TIP;
}

void TTrayIcon::AddIcon()
{
    if (!active_ || !shellIconSupported_ || !iconPending_)
        return;
    if (!shell_->Add(data_))
        throw EOutOfResources("Cannot create shell notification icon");
    iconPending_ = false;
}

void TTrayIcon::DeleteIcon()
{
    if (shellIconSupported_)
        shell_->Delete();
    iconPending_ = true;
}

void TTrayIcon::ModifyIcon()
{
    if (active_ && shellIconSupported_)
        shell_->Modify(data_);
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
    const QPoint at = shell_->CursorPos();
    if (popupMenu_ && !shell_->ShowsMenu() && (!TaskbarWindowVisible() || separateIcon_))
        shell_->Popup(popupMenu_, at);
    if (OnRightClick)
        OnRightClick(this, Qt::RightButton, Qt::NoModifier, at.x(), at.y());
}

bool TTrayIcon::TaskbarWindowVisible() const { return !mainWindow_ || mainWindow_->isVisible(); }

bool TTrayIcon::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == mainWindow_ && event->type() == QEvent::WindowStateChange) {
        const auto* change = static_cast<QWindowStateChangeEvent*>(event);
        const bool was = change->oldState().testFlag(Qt::WindowMinimized);
        const bool now = mainWindow_->windowState().testFlag(Qt::WindowMinimized);
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
    if (active_) {
        try {
            AddIcon();
        } catch (const EOutOfResources&) {
            refused = std::current_exception();
        }
        // Hiding inside the state change itself leaves a taskbar entry behind on some desktops.
        if (!iconPending_)
            QTimer::singleShot(0, this, &TTrayIcon::HideIntoIcon);
    }
    appMinimized_ = true;
    if (OnMinimize)
        OnMinimize(QCoreApplication::instance());
    if (refused)
        std::rethrow_exception(refused);
}

void TTrayIcon::AppRestore()
{
    if (active_ || windowHiddenByUs_) {
        windowHiddenByUs_ = false;
        // The state is restored already; showNormal would also drop a maximized state.
        if (mainWindow_ && !mainWindow_->isVisible())
            mainWindow_->show();
    }
    if (active_ && !separateIcon_)
        DeleteIcon();
    if (OnRestore)
        OnRestore(QCoreApplication::instance());
    appMinimized_ = false;
}

void TTrayIcon::HideIntoIcon()
{
    if (mainWindow_ && active_ && appMinimized_ && !iconPending_ && mainWindow_->isMinimized()) {
        windowHiddenByUs_ = true;
        mainWindow_->hide();
    }
}

void TTrayIcon::RevealWindow()
{
    windowHiddenByUs_ = false;
    if (mainWindow_)
        mainWindow_->showMinimized();
}
