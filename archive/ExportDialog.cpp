#include "archive/ExportDialog.h"

#include <QCheckBox>
#include <QDateTimeEdit>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <stdexcept>

namespace {

QDateTimeEdit* DateTimeEdit(const QString& name, QWidget* parent)
{
    auto* edit = new QDateTimeEdit(parent);
    edit->setObjectName(name);
    edit->setAccessibleName(name);
    edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm"));
    edit->setCalendarPopup(true);
    edit->setDateRange(QDate(2000, 1, 1), QDate(2100, 1, 1));
    return edit;
}

}  // namespace

TExportDialog::TExportDialog(TDialogs dialogs, QWidget* parent) : QDialog(parent), dialogs_(std::move(dialogs))
{
    setWindowTitle(QStringLiteral("Export"));
    EditFrom = DateTimeEdit(QStringLiteral("From"), this);
    EditTo = DateTimeEdit(QStringLiteral("To"), this);
    EditFile = new QLineEdit(this);
    EditFile->setObjectName(QStringLiteral("EditFile"));
    EditFile->setAccessibleName(QStringLiteral("File"));
    ButtonBrowse = new QPushButton(QStringLiteral("Browse…"), this);
    ButtonBrowse->setObjectName(QStringLiteral("ButtonBrowse"));
    CheckUtf8 = new QCheckBox(QStringLiteral("UTF-8 text with a time column (else bytes as captured)"), this);
    CheckUtf8->setObjectName(QStringLiteral("CheckUtf8"));
    ButtonExport = new QPushButton(QStringLiteral("Export"), this);
    ButtonExport->setObjectName(QStringLiteral("ButtonExport"));
    ButtonExport->setDefault(true);
    ButtonStop = new QPushButton(QStringLiteral("Stop"), this);
    ButtonStop->setObjectName(QStringLiteral("ButtonStop"));
    ButtonStop->setEnabled(false);
    LabelStatus = new QLabel(this);
    LabelStatus->setObjectName(QStringLiteral("LabelStatus"));

    auto* fields = new QGridLayout;
    fields->addWidget(new QLabel(QStringLiteral("From"), this), 0, 0);
    fields->addWidget(EditFrom, 0, 1);
    fields->addWidget(new QLabel(QStringLiteral("To"), this), 0, 2);
    fields->addWidget(EditTo, 0, 3);
    fields->addWidget(new QLabel(QStringLiteral("File"), this), 1, 0);
    fields->addWidget(EditFile, 1, 1, 1, 2);
    fields->addWidget(ButtonBrowse, 1, 3);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(CheckUtf8);
    buttons->addStretch();
    buttons->addWidget(ButtonExport);
    buttons->addWidget(ButtonStop);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addLayout(buttons);
    layout->addWidget(LabelStatus);

    timer_.setInterval(50);
    connect(&timer_, &QTimer::timeout, this, &TExportDialog::Poll);
    connect(ButtonExport, &QPushButton::clicked, this, dialogs_.Reported([this] { ExportClick(); }));
    connect(ButtonStop, &QPushButton::clicked, this, [this] { stop_ = true; });
    connect(ButtonBrowse, &QPushButton::clicked, this, [this] { BrowseClick(); });
}

TExportDialog::~TExportDialog()
{
    stop_ = true;
    Join();
}

void TExportDialog::Join()
{
    if (thread_.joinable())
        thread_.join();
}

void TExportDialog::Execute(const std::string& root, const QDate& day)
{
    root_ = QDir::current().absoluteFilePath(QString::fromStdString(root)).toStdString();
    if (!Exporting() && day.isValid()) {
        EditFrom->setDateTime(QDateTime(day, QTime(0, 0)));
        EditTo->setDateTime(QDateTime(day.addDays(1), QTime(0, 0)));
    }
    show();
    raise();
    activateWindow();
}

void TExportDialog::BrowseClick()
{
    const QString file = QFileDialog::getSaveFileName(this, QStringLiteral("Export to"), EditFile->text());
    if (!file.isEmpty())
        EditFile->setText(file);
}

void TExportDialog::ExportClick()
{
    if (Exporting())
        return;
    // The thread gets values of its own, none shared with the edits.
    TExportRequest request;
    request.From = QDateTime(EditFrom->date(), EditFrom->time());
    request.To = QDateTime(EditTo->date(), EditTo->time());
    request.Utf8 = CheckUtf8->isChecked();
    if (const std::string problem = CheckExportRequest(request); !problem.empty()) {
        dialogs_.ErrorMessage(this, QString::fromStdString(problem));
        return;
    }
    const QString file = EditFile->text();
    if (file.isEmpty()) {
        dialogs_.ErrorMessage(this, QStringLiteral("Say which file to export to."));
        return;
    }
    const QFileInfo info(file);
    if (info.isDir()) {
        dialogs_.ErrorMessage(this, QStringLiteral("\"%1\" is a folder.").arg(file));
        return;
    }
    if (info.exists() && !dialogs_.Confirm(this, QStringLiteral("Replace \"%1\"?").arg(file)))
        return;

    Join();
    stop_ = false;
    done_ = false;
    ButtonExport->setEnabled(false);
    ButtonStop->setEnabled(true);
    LabelStatus->setText(QStringLiteral("Exporting…"));
    thread_ = std::thread([this, root = root_, request, path = QDir::current().absoluteFilePath(file).toStdString()] {
        TExportResult result;
        std::string error;
        try {
            result = ExportArchive(root, request, path, &stop_);
        } catch (const std::exception& e) {
            error = e.what();
        }
        {
            const std::lock_guard<std::mutex> hold(lock_);
            result_ = result;
            error_ = error;
        }
        done_ = true;
    });
    timer_.start();
}

void TExportDialog::Poll()
{
    if (!done_)
        return;
    timer_.stop();
    Join();
    ButtonExport->setEnabled(true);
    ButtonStop->setEnabled(false);
    TExportResult result;
    std::string error;
    {
        const std::lock_guard<std::mutex> hold(lock_);
        result = result_;
        error = error_;
    }
    if (!error.empty()) {
        LabelStatus->setText(QStringLiteral("Not exported."));
        dialogs_.ErrorMessage(this, QString::fromLocal8Bit(error.c_str()));
    } else if (result.Stopped) {
        LabelStatus->setText(QStringLiteral("Stopped; no file was written."));
    } else {
        LabelStatus->setText(QStringLiteral("%1 %2, %3 bytes exported.")
                                 .arg(result.Lines)
                                 .arg(result.Lines == 1 ? QStringLiteral("line") : QStringLiteral("lines"))
                                 .arg(result.Bytes));
    }
}
