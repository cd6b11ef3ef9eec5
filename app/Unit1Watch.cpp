// The operator's watch: the day's event log of who did what, a port that comes
// back by itself after it failed, the silence watchdog, and the remote session
// in the status bar.
#include "app/StatusBar.h"
#include "app/Unit1Ui.h"
#include "core/EventLog.h"
#include "core/EventText.h"
#include "core/Extras.h"
#include "core/PortReopen.h"
#include "core/RemoteAccess.h"
#include "core/SentLines.h"
#include "core/SilenceWatch.h"
#include "serial/SerialNG.h"
#include "support/SysCall.h"
#include "support/TrayIcon.h"

#include <QApplication>
#include <QSpinBox>
#include <QTimer>

namespace {

const char* const kExtrasFile = "Extras.ini";
// Status panels: 7 says what is wrong with the port, 9 who is logged in remotely.
constexpr int kPortPanel = 7;
constexpr int kSessionPanel = 10;
constexpr int kFlashes = 6;    // on and off three times
constexpr int kFlashMs = 250;  // the status bar repaints at most five times a second

std::string Name(const TSerialPortNG& port) { return EventText(port.CommPort()); }

QString LostText(const QDateTime& at)
{
    return QStringLiteral("Port lost %1, retrying").arg(at.time().toString(QStringLiteral("HH:mm:ss")));
}

}  // namespace

void TForm1::WireWatch()
{
    eventLog_ = std::make_unique<TEventLog>(options_.Now);
    eventLog_->OnProblem = [this](const std::string& problem) { PostErrorBox(problem); };

    portReopen_ = new TPortReopen([this] { return ReopenPort(); }, options_.Now, options_.PortRetryMs, this);
    portReopen_->OnLost = [this](const QDateTime& at, const std::string& cause) {
        ui_->StatusBar1->SetPanelText(kPortPanel, LostText(at));
        if (TrayIcon1)
            TrayIcon1->Notify(QStringLiteral("Port lost"), QString::fromStdString(SerialPortNG1->CommPort()) +
                                                               QStringLiteral(": ") + QString::fromStdString(cause));
        LogEvent("port-lost", Name(*SerialPortNG1) + " " + EventText(cause));
    };
    portReopen_->OnBack = [this] { PortBack(); };
    lostFlash_ = new QTimer(this);
    lostFlash_->setInterval(kFlashMs);
    connect(lostFlash_, &QTimer::timeout, this, [this] {
        const bool on = --lostFlashes_ % 2 == 0;
        ui_->StatusBar1->SetPanelText(kPortPanel, on ? LostText(portReopen_->LostAt()) : QString());
        if (lostFlashes_ <= 0)
            lostFlash_->stop();
    });

    silence_ = new TSilenceWatch(options_.Now, this);
    silence_->OnSilence = [this](const QDateTime& since) { ShowSilence(since); };
    silence_->OnSilenceEnd = [this] { EndSilence(); };

    keyLines_ = new TSentLines(options_.Now, 2000, this);
    keyLines_->OnLine = [this](const std::string& line) { LogEvent("sent", "key " + EventBytes(line)); };
    remoteLines_ = new TSentLines(options_.Now, 2000, this);
    remoteLines_->OnLine = [this](const std::string& line) {
        LogEvent("sent", "remote:" + EventText(remoteLineAddress_) + " " + EventBytes(line));
    };
}

void TForm1::LogEvent(std::string_view kind, const std::string& detail)
{
    if (eventLog_)
        eventLog_->Write(kind, detail);
    if (options_.OnEvent)
        options_.OnEvent(std::string(kind), detail);
}

void TForm1::LogSent(const std::string& source, std::string_view bytes)
{
    if (!SerialPortNG1->Active())
        return;  // nothing went out
    if (source == "key") {
        keyLines_->Add(bytes);
        return;
    }
    // The line being typed came first. A pasted or copied text is one event, its line ends escaped.
    keyLines_->Flush();
    LogEvent("sent", bytes.empty() ? source : source + " " + EventBytes(bytes));
}

void TForm1::ReadExtras()
{
    const TExtras extras = LoadExtras(kExtrasFile);
    ui_->SpinQuiet->setValue(extras.QuietMinutes);
    silence_->SetQuietMinutes(extras.QuietMinutes);
}

void TForm1::WriteExtras()
{
    TExtras extras;
    extras.QuietMinutes = ui_->SpinQuiet->value();
    silence_->SetQuietMinutes(extras.QuietMinutes);
    SaveExtras(kExtrasFile, extras);
}

// --- the port ---

void TForm1::ClosePort()
{
    if (portReopen_->Retrying())
        ui_->StatusBar1->SetPanelText(kPortPanel, QString());
    portReopen_->Stop();
    lostFlash_->stop();
    silence_->PortClosed();
    if (!SerialPortNG1->Active())
        return;
    SerialPortNG1->SetActive(false);
    LogEvent("port-closed", Name(*SerialPortNG1));
}

void TForm1::PortLost(const std::string& cause)
{
    silence_->PortClosed();
    portReopen_->Lost(cause);
}

bool TForm1::ReopenPort()
{
    reopening_ = true;
    SerialPortNG1->SetActive(false);
    SerialPortNG1->SetActive(true);
    reopening_ = false;
    return SerialPortNG1->Active();
}

void TForm1::PortBack()
{
    lostFlash_->stop();
    ui_->StatusBar1->SetPanelText(kPortPanel, QString());
    silence_->PortOpened();
    LogEvent("port-back", Name(*SerialPortNG1));
}

bool TForm1::RefuseWhileLost()
{
    if (!portReopen_->Retrying())
        return false;
    if (options_.Beep)
        options_.Beep();
    else
        QApplication::beep();
    lostFlashes_ = kFlashes;
    lostFlash_->start();
    return true;
}

// --- silence ---

void TForm1::ShowSilence(const QDateTime& since)
{
    const QString text = QStringLiteral("Silent since ") + since.time().toString(QStringLiteral("HH:mm"));
    ui_->StatusBar1->SetPanelText(kPortPanel, text);
    if (TrayIcon1)
        TrayIcon1->Notify(QStringLiteral("Line silent"),
                          text + QStringLiteral(" on ") + QString::fromStdString(SerialPortNG1->CommPort()));
    LogEvent("silence", std::to_string(silence_->QuietMinutes()));
}

void TForm1::EndSilence()
{
    // A port error shown meanwhile stays.
    if (ui_->StatusBar1->Panels(kPortPanel).Text.startsWith(QStringLiteral("Silent since ")))
        ui_->StatusBar1->SetPanelText(kPortPanel, QString());
    LogEvent("silence-end");
}

// --- remote access ---

void TForm1::RemoteEvent(const TRemoteEvent& event)
{
    const std::string address = EventText(event.Address);
    switch (event.kind) {
    case TRemoteEvent::LoggedIn:
        remoteLines_->Flush();
        remoteLineAddress_ = event.Address;
        LogEvent("remote-login", address + (event.FullAccess ? " full" : " viewer"));
        break;
    case TRemoteEvent::LoggedOut:
        remoteLines_->Flush();
        LogEvent("remote-logout", address);
        break;
    case TRemoteEvent::WrongPassword:
    case TRemoteEvent::Refused:
        LogEvent("remote-refused", address);
        break;
    case TRemoteEvent::Busy:
        LogEvent("remote-busy", address);
        break;
    case TRemoteEvent::LoginTimeOut:
        LogEvent("remote-timeout", address);
        break;
    case TRemoteEvent::Penalty:
        LogEvent("remote-penalty", address + " " + std::to_string((event.PenaltyMs + 999) / 1000));
        break;
    case TRemoteEvent::AcceptPaused:
        break;
    }
    ShowRemoteSession();
}

void TForm1::ShowRemoteSession()
{
    QString text;
    if (remote_->RemoteAuthorised())
        text = QStringLiteral("Remote %1 %2")
                   .arg(QString::fromStdString(remote_->ClientAddress()),
                        remote_->RemoteFullAccess() ? QStringLiteral("full") : QStringLiteral("viewer"));
    ui_->StatusBar1->SetPanelText(kSessionPanel, text);
}
