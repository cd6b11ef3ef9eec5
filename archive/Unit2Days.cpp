// TForm2's added controls: stepping between the archive's days, its calendar,
// the receive times, the event log, and the search and export dialogs.
#include "archive/ArchiveFiles.h"
#include "archive/ArchiveMemo.h"
#include "archive/DaysCalendar.h"
#include "archive/ExportDialog.h"
#include "archive/MemoFiller.h"
#include "archive/SearchDaysDialog.h"
#include "archive/SpinEdit.h"
#include "archive/Unit2.h"
#include "core/ArchiveDays.h"
#include "core/CaptureNames.h"
#include "support/CodePage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>

namespace {

QPushButton* Button(const QString& text, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QStringLiteral("Button") + QString(text).remove(QLatin1Char(' ')));
    button->setAccessibleName(text);
    return button;
}

// The days a viewer can show: its year box holds 2000 to 2099.
std::vector<QDate> ViewableDays()
{
    std::vector<QDate> days = CaptureDays(TForm2::kArchiveRoot);
    std::erase_if(days, [](const QDate& d) { return d.year() < 2000 || d.year() > 2099; });
    return days;
}

// An event log line begins "HH:MM:SS.mmm" and a tab.
std::optional<uint32_t> LogLineTime(std::string_view line)
{
    if (line.size() < 13 || line[2] != ':' || line[5] != ':' || line[8] != '.' || line[12] != '\t')
        return std::nullopt;
    uint32_t fields[4] = {};
    const size_t starts[4] = {0, 3, 6, 9}, widths[4] = {2, 2, 2, 3};
    for (int f = 0; f < 4; ++f)
        for (size_t i = starts[f]; i < starts[f] + widths[f]; ++i) {
            if (line[i] < '0' || line[i] > '9')
                return std::nullopt;
            fields[f] = fields[f] * 10 + uint32_t(line[i] - '0');
        }
    if (fields[0] > 23 || fields[1] > 59 || fields[2] > 59)
        return std::nullopt;
    return ((fields[0] * 60 + fields[1]) * 60 + fields[2]) * 1000 + fields[3];
}

}  // namespace

void TForm2::CreateAddedControls()
{
    ButtonPreviousDay = Button(QStringLiteral("Previous Day"), this);
    ButtonNextDay = Button(QStringLiteral("Next Day"), this);
    ButtonDays = Button(QStringLiteral("Days"), this);
    CheckTimes = new QCheckBox(QStringLiteral("Times"), this);
    CheckTimes->setObjectName(QStringLiteral("CheckTimes"));
    CheckTimes->setAccessibleName(QStringLiteral("Times"));
    LabelGoToTime = new QLabel(QStringLiteral("Go To Time"), this);
    LabelGoToTime->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    EditGoToTime = new QLineEdit(this);
    LabelGoToTime->setBuddy(EditGoToTime);
    EditGoToTime->setObjectName(QStringLiteral("EditGoToTime"));
    EditGoToTime->setAccessibleName(QStringLiteral("Go To Time"));
    EditGoToTime->setPlaceholderText(QStringLiteral("HH:MM"));
    EditGoToTime->setToolTip(QStringLiteral("Go To Time: type HH:MM and press Enter"));
    EditGoToTime->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("([01]?[0-9]|2[0-3]):[0-5][0-9]")), this));
    ButtonSearchDays = Button(QStringLiteral("Search Days"), this);
    ButtonExport = Button(QStringLiteral("Export"), this);
    CheckEventLog = new QCheckBox(QStringLiteral("Event Log"), this);
    CheckEventLog->setObjectName(QStringLiteral("CheckEventLog"));
    CheckEventLog->setAccessibleName(QStringLiteral("Event Log"));
    DaysCalendar = new TDaysCalendar(this);
    SearchDays = new TSearchDaysDialog(dialogs_, this);
    ExportDialog = new TExportDialog(dialogs_, this);

    connect(ButtonPreviousDay, &QPushButton::clicked, this, dialogs_.Reported([this] { StepDayClick(-1); }));
    connect(ButtonNextDay, &QPushButton::clicked, this, dialogs_.Reported([this] { StepDayClick(1); }));
    connect(ButtonDays, &QPushButton::clicked, this, dialogs_.Reported([this] { ButtonDaysClick(); }));
    connect(DaysCalendar, &TDaysCalendar::DayChosen, this,
            [this](const QDate& day) { dialogs_.Reported([this, day] { OpenDay(day); })(); });
    connect(CheckTimes, &QCheckBox::toggled, this, [this] { CheckTimesClick(); });
    connect(EditGoToTime, &QLineEdit::returnPressed, this, dialogs_.Reported([this] { GoToTimeEnter(); }));
    connect(ButtonSearchDays, &QPushButton::clicked, this, dialogs_.Reported([this] { ButtonSearchDaysClick(); }));
    connect(SearchDays, &TSearchDaysDialog::LineChosen, this, [this](const QDate& day, uint64_t offset) {
        dialogs_.Reported([this, day, offset] { OpenLine(day, offset); })();
    });
    connect(ButtonExport, &QPushButton::clicked, this, dialogs_.Reported([this] { ButtonExportClick(); }));
    connect(CheckEventLog, &QCheckBox::toggled, this, dialogs_.Reported([this] { CheckEventLogClick(); }));
}

// Along the foot of the window, below MemoArch.
void TForm2::PlaceAddedControls()
{
    const int y = MemoArch->geometry().bottom() + 4;
    int x = 4;
    const auto place = [&](QWidget* widget, int width) {
        widget->setGeometry(x, y, width, 26);
        x += width + 6;
    };
    place(ButtonPreviousDay, 104);
    place(ButtonNextDay, 84);
    place(ButtonDays, 64);
    place(CheckTimes, 70);
    place(LabelGoToTime, 76);
    place(EditGoToTime, 56);
    place(ButtonSearchDays, 104);
    place(ButtonExport, 72);
    place(CheckEventLog, 96);
}

void TForm2::StepDayClick(int step)
{
    const std::optional<QDate> day = NeighbourDay(ViewableDays(), ChosenDay(), step);
    if (!day) {
        dialogs_.ErrorMessage(this, step < 0 ? QStringLiteral("There is no earlier day in the archive.")
                                             : QStringLiteral("There is no later day in the archive."));
        return;
    }
    OpenDay(*day);
}

void TForm2::ButtonDaysClick() { DaysCalendar->Execute(ViewableDays(), ChosenDay()); }

void TForm2::OpenDay(const QDate& day)
{
    SpinEditY->setValue(day.year());
    ComboBoxM->setCurrentIndex(day.month() - 1);
    SpinEditD->setValue(day.day());
    ButtonOpenClick();
}

void TForm2::OpenLine(const QDate& day, uint64_t offset)
{
    if (CheckEventLog->isChecked()) {
        const QSignalBlocker quiet(CheckEventLog);
        CheckEventLog->setChecked(false);
    }
    OpenDay(day);
    if (!shownDay_ || *shownDay_ != day || shownLog_)
        return;
    const size_t at = size_t(shownBase_ + offset);
    const std::string& bytes = text_.Bytes();
    if (at >= bytes.size())
        return;
    size_t end = bytes.find('\n', at);
    end = end == std::string::npos ? bytes.size() : end;
    if (end > at && bytes[end - 1] == '\r')
        --end;
    SelectMatch(at, end - at);
}

void TForm2::CheckTimesClick()
{
    auto* memo = static_cast<TArchiveMemo*>(MemoArch);
    memo->SetTimesShown(CheckTimes->isChecked());
}

void TForm2::GoToTimeEnter()
{
    const QStringList parts = EditGoToTime->text().split(QLatin1Char(':'));
    if (parts.size() != 2)
        return;
    pendingMatch_.reset();
    pendingTime_ = uint32_t(parts[0].toUInt() * 60 + parts[1].toUInt()) * 60000;
    timeScanBlock_ = 0;
    ScanForTime();
}

// Looks on from where the last look ended; while the file is still going in,
// the rest is looked at as it comes.
void TForm2::ScanForTime()
{
    if (!pendingTime_)
        return;
    const QTextDocument* document = MemoArch->document();
    for (QTextBlock block = document->findBlockByNumber(timeScanBlock_); block.isValid(); block = block.next()) {
        const std::optional<uint32_t> time = TMemoFiller::BlockTime(block);
        if (time && *time >= *pendingTime_) {
            pendingTime_.reset();
            ShowBlock(block);
            return;
        }
    }
    if (filler_->Busy()) {
        timeScanBlock_ = std::max(0, document->blockCount() - 1);  // its time comes with the rest of its line
        return;
    }
    const QString time = EditGoToTime->text();
    pendingTime_.reset();
    dialogs_.ErrorMessage(this, QStringLiteral("No line was received at or after %1.").arg(time));
}

void TForm2::ShowBlock(const QTextBlock& block)
{
    QTextCursor cursor(MemoArch->document());
    cursor.setPosition(block.position());
    MemoArch->setTextCursor(cursor);
    MemoArch->verticalScrollBar()->setValue(block.firstLineNumber());
    MemoArch->setFocus();
}

void TForm2::CheckEventLogClick()
{
    if (shownDay_)
        ButtonOpenClick();
}

void TForm2::OpenEventLog(int year, int month, int day)
{
    const std::string path = CaptureDirectory(unsigned(year), unsigned(month)) +
                             EventLogName(unsigned(year), unsigned(month), unsigned(day));
    if (!QFileInfo(QString::fromStdString(path)).isFile()) {
        Label1->setText(QStringLiteral("No Archive File"));
        return;
    }
    // The log is UTF-8; the display holds its text in the capture's code page.
    const QString text = QString::fromUtf8(ArchiveFiles::ReadAll(path));
    std::string bytes;
    bytes.reserve(size_t(text.size()));
    std::vector<TTimeRecord> times;
    for (QChar ch : text) {
        const int b = CodePage::CharToByte(ch);
        bytes.push_back(b < 0 ? '?' : char(b));
    }
    for (size_t at = 0; at < bytes.size();) {
        size_t end = bytes.find('\n', at);
        end = end == std::string::npos ? bytes.size() : end;
        if (const std::optional<uint32_t> ms = LogLineTime(std::string_view(bytes).substr(at, end - at)))
            times.push_back({at, *ms});
        at = end + 1;
    }
    Load(std::move(bytes), std::move(times));
    shownDay_ = QDate(year, month, day);
    shownLog_ = true;
    shownBase_ = 0;
    Label1->setText(QStringLiteral("Open File - ") +
                    QString::fromStdString(EventLogName(unsigned(year), unsigned(month), unsigned(day))));
}

void TForm2::ButtonSearchDaysClick() { SearchDays->Execute(kArchiveRoot, ChosenDay()); }

void TForm2::ButtonExportClick() { ExportDialog->Execute(kArchiveRoot, shownDay_.value_or(ChosenDay())); }
