#pragma once
// "Export": the lines received from one day and time to another, written to
// a file the operator names, as the bytes captured or as UTF-8 text with a
// time column. The export runs on a thread of its own; the window answers
// meanwhile and the export can be stopped.
#include "core/ArchiveExport.h"
#include "support/Dialogs.h"

#include <QDialog>
#include <QTimer>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>

class QCheckBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QPushButton;

class TExportDialog : public QDialog {
    Q_OBJECT
public:
    explicit TExportDialog(TDialogs dialogs, QWidget* parent = nullptr);
    ~TExportDialog() override;

    // Shows the dialog with the range set to the whole of day.
    void Execute(const std::string& root, const QDate& day);
    void ExportClick();
    void BrowseClick();
    bool Exporting() const { return timer_.isActive(); }

    QDateTimeEdit* EditFrom = nullptr;
    QDateTimeEdit* EditTo = nullptr;
    QLineEdit* EditFile = nullptr;
    QPushButton* ButtonBrowse = nullptr;
    QCheckBox* CheckUtf8 = nullptr;
    QPushButton* ButtonExport = nullptr;
    QPushButton* ButtonStop = nullptr;
    QLabel* LabelStatus = nullptr;

private:
    void Poll();
    void Join();

    TDialogs dialogs_;
    std::string root_ = "archive";
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> done_{false};
    std::mutex lock_;
    TExportResult result_;  // under lock_
    std::string error_;     // under lock_
    QTimer timer_;
};
