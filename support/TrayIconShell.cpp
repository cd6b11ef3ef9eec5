#include "support/TrayIconShell.h"

#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QStyle>
#include <QSystemTrayIcon>

namespace {

class TSystemTrayShell final : public TTrayShell {
public:
    TSystemTrayShell()
    {
        QObject::connect(&Tray, &QSystemTrayIcon::activated, &Tray, [this](QSystemTrayIcon::ActivationReason reason) {
            const std::optional<TTrayMouse> mouse = TrayMouseOf(reason);
            if (mouse && OnMouse)
                OnMouse(*mouse);
        });
    }

    bool Available() const override { return QSystemTrayIcon::isSystemTrayAvailable(); }

    bool Add(const TNotifyIconData& data) override
    {
        // The notification area may have gone since start (the panel was restarted).
        if (!Available())
            return false;
        Apply(data);
        Tray.show();
        return Tray.isVisible();
    }

    bool Modify(const TNotifyIconData& data) override
    {
        Apply(data);
        return Tray.isVisible();
    }

    bool Delete() override
    {
        const bool shown = Tray.isVisible();
        Tray.hide();
        return shown;
    }

    QPoint CursorPos() const override { return QCursor::pos(); }

    void Popup(QMenu* menu, const QPoint& at) override { menu->popup(at); }

    // The tray shows the menu itself: a D-Bus tray never reports the right click.
    void SetMenu(QMenu* menu) override { Tray.setContextMenu(menu); }
    bool ShowsMenu() const override { return Tray.contextMenu() != nullptr; }

    void Notify(const QString& title, const QString& text) override
    {
        if (Tray.icon().isNull())
            Tray.setIcon(QApplication::windowIcon());
        Tray.showMessage(title, text, QSystemTrayIcon::Warning);
    }

private:
    void Apply(const TNotifyIconData& data)
    {
        QIcon icon = (data.Flags & TNotifyIconData::NIF_ICON) ? data.Icon : QIcon();
        // The tray shows nothing for an empty image; the operator must still find the program.
        if (icon.isNull())
            icon = QApplication::windowIcon();
        if (icon.isNull())
            icon = QApplication::style()->standardIcon(QStyle::SP_ComputerIcon);
        Tray.setIcon(icon);
        Tray.setToolTip((data.Flags & TNotifyIconData::NIF_TIP) ? data.Tip : QString());
    }

    QSystemTrayIcon Tray;
};

}  // namespace

std::unique_ptr<TTrayShell> MakeSystemTrayShell() { return std::make_unique<TSystemTrayShell>(); }

std::optional<TTrayMouse> TrayMouseOf(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        return TTrayMouse::LeftUp;
    case QSystemTrayIcon::DoubleClick:
        return TTrayMouse::LeftDoubleClick;
    case QSystemTrayIcon::Context:
        return TTrayMouse::RightUp;
    case QSystemTrayIcon::MiddleClick:
    case QSystemTrayIcon::Unknown:
        break;
    }
    return std::nullopt;
}
