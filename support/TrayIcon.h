#pragma once
// TTrayIcon: an icon in the desktop's notification area that reports clicks
// and takes over the main window's minimize and restore, so that a minimized
// program leaves the taskbar and lives on as the icon alone.
#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <stdexcept>

class QWidget;

class EOutOfResources : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What the component hands to the notification area.
struct TNotifyIconData {
    enum : unsigned { NIF_MESSAGE = 1, NIF_ICON = 2, NIF_TIP = 4 };
    static constexpr int TipLimit = 63;
    unsigned Flags = 0;
    QIcon Icon;
    QString Tip;  // at most TipLimit characters
};

enum class TTrayMouse { LeftUp, LeftDoubleClick, RightUp };

// The desktop's notification area, one icon. Add answers false when refused.
class TTrayShell {
public:
    virtual ~TTrayShell() = default;
    // The desktop has a notification area at all.
    virtual bool Available() const = 0;
    virtual bool Add(const TNotifyIconData& data) = 0;
    virtual bool Modify(const TNotifyIconData& data) = 0;
    virtual bool Delete() = 0;
    virtual QPoint CursorPos() const = 0;
    virtual void Popup(QMenu* menu, const QPoint& at) = 0;
    // The icon's own menu, for trays that show it themselves.
    virtual void SetMenu(QMenu*) {}
    virtual bool ShowsMenu() const { return false; }
    // A desktop notification beside the icon; the desktop may show it even while the icon is hidden.
    virtual void Notify(const QString& /*title*/, const QString& /*text*/) {}
    // Mouse reports on the icon, set by the component that uses the shell.
    std::function<void(TTrayMouse)> OnMouse;
};

using TTrayNotifyEvent = std::function<void(QObject* Sender)>;
using TTrayMouseEvent =
    std::function<void(QObject* Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y)>;

class TTrayIcon : public QObject {
    Q_OBJECT
public:
    // Without a shell the desktop's own notification area is used.
    explicit TTrayIcon(QObject* owner, std::unique_ptr<TTrayShell> shell = nullptr);
    ~TTrayIcon() override;
    TTrayIcon(const TTrayIcon&) = delete;
    TTrayIcon& operator=(const TTrayIcon&) = delete;

    // The window whose minimize and restore the component follows; it is
    // hidden while minimized into the icon and shown restored again.
    void SetMainWindow(QWidget* window);
    // Where an icon refused on minimize is reported; the standard error box until set.
    void SetErrorBox(std::function<void(const QString& text)> errorBox) { errorBox_ = std::move(errorBox); }

    // --- published properties (initial values as constructed) ---
    bool Active() const { return active_; }  // false
    void SetActive(bool value);
    QString Hint() const { return hint_; }  // empty
    void SetHint(const QString& value);
    QIcon Icon() const { return icon_; }  // the application's icon
    void SetIcon(const QIcon& value);
    QMenu* PopupMenu() const { return popupMenu_; }  // none; not owned
    void SetPopupMenu(QMenu* value)
    {
        popupMenu_ = value;
        shell_->SetMenu(value);
    }
    // Tells the operator through the desktop's notifications, whether the icon is shown or not.
    void Notify(const QString& title, const QString& text) { shell_->Notify(title, text); }
    bool SeparateIcon() const { return separateIcon_; }  // false: shown only while minimized
    void SetSeparateIcon(bool value);

    TTrayNotifyEvent OnClick;      // sender: the component
    TTrayNotifyEvent OnDblClick;   // sender: the component
    TTrayMouseEvent OnRightClick;  // sender: the component, cursor position on the screen
    TTrayNotifyEvent OnMinimize;   // sender: the application
    TTrayNotifyEvent OnRestore;    // sender: the application

    bool ShellIconSupported() const { return shellIconSupported_; }
    bool IconPending() const { return iconPending_; }
    bool AppMinimized() const { return appMinimized_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void AddIcon();
    void DeleteIcon();
    void ModifyIcon();
    void SetTip(const QString& tip);
    void HandleMouse(TTrayMouse mouse);
    void HandleRightClick();
    void AppMinimize();
    void AppRestore();
    void HideIntoIcon();
    void RevealWindow();
    bool TaskbarWindowVisible() const;

    std::unique_ptr<TTrayShell> shell_;
    QPointer<QWidget> mainWindow_;
    TNotifyIconData data_;
    bool active_ = false;
    QString hint_;
    QIcon icon_;
    QPointer<QMenu> popupMenu_;
    bool separateIcon_ = false;
    bool shellIconSupported_ = false;
    bool appMinimized_ = false;
    bool iconPending_ = true;
    bool windowHiddenByUs_ = false;
    std::function<void(const QString& text)> errorBox_;
};
