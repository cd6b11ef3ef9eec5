// The alarm watch in the window: display lines that match a rule of
// "Watch.txt" get a red band, count in the status bar until the operator
// clicks the counter, and reach the tray while the operator is away.
#include "app/StatusBar.h"
#include "app/TerminalMemo.h"
#include "app/Unit1Ui.h"
#include "core/AlarmNotices.h"
#include "core/AlarmWatch.h"
#include "core/EventText.h"
#include "core/ReceivePath.h"
#include "support/AtomicFile.h"
#include "support/CodePage.h"
#include "support/TrayIcon.h"

#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <system_error>

namespace {

const char* const kWatchFile = "Watch.txt";

// An event's RULE is the rule's line in "Watch.txt" (a rule may hold spaces);
// its LINE, the free text, comes last.
std::string AlarmDetail(const TAlarm& alarm) { return std::to_string(alarm.RuleLine) + " " + EventBytes(alarm.Text); }

}  // namespace

void TForm1::WireAlarms()
{
    alarms_ = std::make_unique<TAlarmWatch>();
    alarmNotices_ = std::make_unique<TAlarmNotices>(options_.Now);
    alarmNoticeTimer_ = new QTimer(this);
    // Runs only while notices are held back.
    alarmNoticeTimer_->setInterval(1000);
    connect(alarmNoticeTimer_, &QTimer::timeout, this, [this] { AlarmNoticeTick(); });
    alarms_->OnAlarm = [this](const TAlarm& alarm) { AlarmRaised(alarm); };
    receive_->OnLineCompleted = [this](int64_t number, std::string_view line) {
        alarms_->LineCompleted(uint64_t(number), line);
    };
    receive_->OnTrimmed = [this](int64_t first) { alarms_->Trimmed(uint64_t(first)); };
    ui_->Memo1->IsMarked = [this](int64_t line) { return alarms_->IsAlarmLine(uint64_t(line)); };
    connect(ui_->StatusBar1, &TStatusBar::PanelClicked, this, [this](int index) {
        if (index == Ui::kAlarmPanel)
            AlarmsClick();
    });
    const TDialogs& d = options_.Dialogs;
    connect(ui_->Bwatch, &QPushButton::clicked, this, d.Reported([this] { BwatchClick(); }));
    connect(ui_->BcloseWatch, &QPushButton::clicked, this, d.Reported([this] { BcloseWatchClick(); }));
}

void TForm1::LoadAlarmRules(bool atStart)
{
    std::vector<std::string> problems;
    std::string bytes;
    if (!ReadWholeFile(kWatchFile, bytes)) {
        const int error = errno;
        bytes.clear();
        if (QFile::exists(QString::fromLatin1(kWatchFile)))
            problems.push_back(std::string("Cannot read \"") + kWatchFile +
                               "\": " + std::generic_category().message(error) + "; no alarm rules are in force.");
    }
    alarms_->SetRules(TAlarmRules::Parse(QString::fromUtf8(bytes.data(), qsizetype(bytes.size())), problems));
    watchText_ = bytes;
    ui_->EditWatch->setPlainText(QString::fromUtf8(bytes.data(), qsizetype(bytes.size())));
    // Each problem once: saving the same rules again does not repeat it.
    for (const std::string& problem : problems) {
        if (std::find(ruleProblems_.begin(), ruleProblems_.end(), problem) != ruleProblems_.end())
            continue;
        if (atStart)
            ReportStartupProblem(problem);
        else
            PostErrorBox(problem);
    }
    ruleProblems_ = std::move(problems);
    ShowAlarmCount();
}

void TForm1::SaveAlarmRules()
{
    const QByteArray text = ui_->EditWatch->toPlainText().toUtf8();
    // Unchanged rules are not written: a file that could not be read stays as it is.
    if (text.toStdString() != watchText_)
        AtomicWriteFile(kWatchFile, std::string_view(text.data(), size_t(text.size())));
    LoadAlarmRules(false);
}

void TForm1::AlarmRaised(const TAlarm& alarm)
{
    LogEvent("alarm", AlarmDetail(alarm));
    ShowAlarmCount();
    ui_->Memo1->MarkChanged(int64_t(alarm.Line));
    if (!OperatorAway() || !TrayIcon1)
        return;
    if (const std::optional<TAlarmNotice> notice = alarmNotices_->Alarm(CodePage::ToText(alarm.Text)))
        TrayIcon1->Notify(notice->Title, notice->Text);
    if (alarmNotices_->Holding() && !alarmNoticeTimer_->isActive())
        alarmNoticeTimer_->start();
}

void TForm1::AlarmNoticeTick()
{
    if (!OperatorAway())
        alarmNotices_->Clear();
    else if (const std::optional<TAlarmNotice> notice = alarmNotices_->Due())
        TrayIcon1->Notify(notice->Title, notice->Text);
    if (!alarmNotices_->Holding())
        alarmNoticeTimer_->stop();
}

bool TForm1::OperatorAway() const { return !isVisible() || isMinimized() || !isActiveWindow(); }

void TForm1::AlarmsClick()
{
    const std::optional<TAlarm> alarm = alarms_->Acknowledge();
    if (!alarm)
        return;
    LogEvent("alarm-ack", AlarmDetail(*alarm));
    // A line trimmed away shows the oldest line still there.
    ui_->Memo1->ShowPos({int64_t(alarm->Line), 0});
    ShowAlarmCount();
}

void TForm1::ShowAlarmCount()
{
    const size_t count = alarms_->Unacknowledged();
    ui_->StatusBar1->SetPanelText(
        Ui::kAlarmPanel, alarms_->Rules().Empty() && count == 0 ? QString() : QStringLiteral("Alarms %1").arg(count));
}

void TForm1::BwatchClick()
{
    Ui& u = *ui_;
    u.PsetWatch->move(4, 4);
    u.PsetWatch->show();
    u.PsetWatch->raise();
    u.EditWatch->setFocus();
}

void TForm1::BcloseWatchClick() { ui_->PsetWatch->hide(); }
