#include "archive/SearchDaysDialog.h"

#include "core/ArchiveDays.h"
#include "support/CodePage.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

namespace {

constexpr int kDayRole = Qt::UserRole;
constexpr int kOffsetRole = Qt::UserRole + 1;

QDateEdit* DateEdit(const QString& name, QWidget* parent)
{
    auto* edit = new QDateEdit(parent);
    edit->setObjectName(name);
    edit->setAccessibleName(name);
    edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    edit->setCalendarPopup(true);
    edit->setDateRange(QDate(2000, 1, 1), QDate(2099, 12, 31));
    return edit;
}

}  // namespace

TSearchDaysDialog::TSearchDaysDialog(TDialogs dialogs, QWidget* parent) : QDialog(parent), dialogs_(std::move(dialogs))
{
    setWindowTitle(QStringLiteral("Search Days"));
    EditFrom = DateEdit(QStringLiteral("From"), this);
    EditTo = DateEdit(QStringLiteral("To"), this);
    EditPattern = new QLineEdit(this);
    EditPattern->setObjectName(QStringLiteral("SearchFor"));
    EditPattern->setAccessibleName(QStringLiteral("Search For"));
    CheckRegex = new QCheckBox(QStringLiteral("Regular expression"), this);
    CheckRegex->setObjectName(QStringLiteral("CheckRegex"));
    CheckMatchCase = new QCheckBox(QStringLiteral("Match case"), this);
    CheckMatchCase->setObjectName(QStringLiteral("CheckMatchCase"));
    ButtonSearch = new QPushButton(QStringLiteral("Search"), this);
    ButtonSearch->setObjectName(QStringLiteral("ButtonSearch"));
    ButtonSearch->setDefault(true);
    ButtonStop = new QPushButton(QStringLiteral("Stop"), this);
    ButtonStop->setObjectName(QStringLiteral("ButtonStop"));
    ButtonStop->setEnabled(false);
    Results = new QTreeWidget(this);
    Results->setObjectName(QStringLiteral("Results"));
    Results->setAccessibleName(QStringLiteral("Results"));
    Results->setColumnCount(3);
    Results->setHeaderLabels({QStringLiteral("Day"), QStringLiteral("Time"), QStringLiteral("Line")});
    Results->setRootIsDecorated(false);
    Results->setUniformRowHeights(true);
    Results->setAllColumnsShowFocus(true);
    LabelStatus = new QLabel(this);
    LabelStatus->setObjectName(QStringLiteral("LabelStatus"));

    auto* fields = new QGridLayout;
    fields->addWidget(new QLabel(QStringLiteral("From"), this), 0, 0);
    fields->addWidget(EditFrom, 0, 1);
    fields->addWidget(new QLabel(QStringLiteral("To"), this), 0, 2);
    fields->addWidget(EditTo, 0, 3);
    fields->addWidget(new QLabel(QStringLiteral("Search for"), this), 1, 0);
    fields->addWidget(EditPattern, 1, 1, 1, 3);
    auto* options = new QHBoxLayout;
    options->addWidget(CheckRegex);
    options->addWidget(CheckMatchCase);
    options->addStretch();
    options->addWidget(ButtonSearch);
    options->addWidget(ButtonStop);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addLayout(options);
    layout->addWidget(Results, 1);
    layout->addWidget(LabelStatus);
    resize(760, 480);

    timer_.setInterval(50);
    connect(&timer_, &QTimer::timeout, this, &TSearchDaysDialog::TakeHits);
    connect(ButtonSearch, &QPushButton::clicked, this, dialogs_.Reported([this] { SearchClick(); }));
    connect(ButtonStop, &QPushButton::clicked, this, [this] { StopClick(); });
    connect(EditPattern, &QLineEdit::returnPressed, this, dialogs_.Reported([this] { SearchClick(); }));
    connect(Results, &QTreeWidget::itemActivated, this, &TSearchDaysDialog::RowActivated);
}

void TSearchDaysDialog::Execute(const std::string& root, const QDate& day)
{
    root_ = QDir::current().absoluteFilePath(QString::fromStdString(root)).toStdString();
    if (!Searching()) {
        const std::vector<QDate> days = CaptureDays(root_);
        EditFrom->setDate(days.empty() ? day : days.front());
        EditTo->setDate(days.empty() ? day : days.back());
    }
    show();
    raise();
    activateWindow();
    EditPattern->setFocus();
}

void TSearchDaysDialog::SearchClick()
{
    TArchiveQuery query;
    query.From = EditFrom->date();
    query.To = EditTo->date();
    query.Pattern = EditPattern->text();
    query.Regex = CheckRegex->isChecked();
    query.MatchCase = CheckMatchCase->isChecked();
    if (const std::string problem = CheckArchiveQuery(query); !problem.empty()) {
        dialogs_.ErrorMessage(this, QString::fromStdString(problem));
        return;
    }
    Results->clear();
    shown_ = 0;
    stopped_ = false;
    worker_.Start(root_, query);
    ButtonStop->setEnabled(true);
    ShowCount(QStringLiteral(", searching…"));
    timer_.start();
}

void TSearchDaysDialog::StopClick()
{
    stopped_ = true;
    worker_.Stop();
    ButtonStop->setEnabled(false);
}

void TSearchDaysDialog::hideEvent(QHideEvent* event)
{
    // A search nobody sees is not left running.
    if (Searching())
        StopClick();
    QDialog::hideEvent(event);
}

void TSearchDaysDialog::TakeHits()
{
    const bool finished = worker_.Finished();
    std::vector<TSearchHit> hits = worker_.Take(kRowsPerStep);
    QList<QTreeWidgetItem*> rows;
    rows.reserve(qsizetype(hits.size()));
    for (const TSearchHit& hit : hits) {
        auto* row = new QTreeWidgetItem;
        row->setText(0, hit.Day.toString(QStringLiteral("yyyy-MM-dd")));
        if (hit.Milliseconds)
            row->setText(1, QString::fromStdString(TimeText(*hit.Milliseconds).substr(0, 8)));
        row->setText(2, CodePage::ToText(hit.Line));
        row->setData(0, kDayRole, hit.Day);
        row->setData(0, kOffsetRole, QVariant::fromValue<qulonglong>(hit.Offset));
        rows.push_back(row);
    }
    Results->addTopLevelItems(rows);
    shown_ += hits.size();
    if (!finished || hits.size() == kRowsPerStep) {
        ShowCount(QStringLiteral(", searching…"));
        return;
    }
    timer_.stop();
    ButtonStop->setEnabled(false);
    if (worker_.Limited())
        ShowCount(QStringLiteral("; the search ends there. Narrow it down to see the rest."));
    else
        ShowCount(stopped_ ? QStringLiteral(", stopped.") : QStringLiteral("."));
}

void TSearchDaysDialog::ShowCount(const QString& tail)
{
    LabelStatus->setText((shown_ == 1 ? QStringLiteral("1 line found") : QStringLiteral("%1 lines found").arg(shown_)) +
                         tail);
}

void TSearchDaysDialog::RowActivated(QTreeWidgetItem* item)
{
    if (item)
        emit LineChosen(item->data(0, kDayRole).toDate(), item->data(0, kOffsetRole).toULongLong());
}
