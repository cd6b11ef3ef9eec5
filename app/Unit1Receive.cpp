// PBX output into the window: the serial port's clusters go to the remote
// relay, NMS forwarding and the receive path; the display shows the lines.
// The capture view freezes the display for reading and searching.
#include "app/StatusBar.h"
#include "app/TerminalMemo.h"
#include "app/Unit1Ui.h"
#include "archive/Unit2.h"
#include "core/NmsForwarder.h"
#include "core/ReceivePath.h"
#include "core/RemoteAccess.h"
#include "core/SilenceWatch.h"
#include "serial/SerialNG.h"
#include "support/FindDialog.h"
#include "support/TextSearch.h"

#include <QEvent>
#include <QPushButton>
#include <QTimer>

void TForm1::WireReceivePath()
{
    receive_ = std::make_unique<TReceivePath>(options_.Now);
    ui_->Memo1->SetModel(&receive_->Lines());
    // Capture lines reach the file with the display's refresh, which a stream
    // wakes the program for anyway; the timer takes them while the display is
    // hidden or frozen.
    receive_->SetDeferredFlush(true);
    captureFlush_ = new QTimer(this);
    captureFlush_->setSingleShot(true);
    captureFlush_->setInterval(250);
    connect(captureFlush_, &QTimer::timeout, this, &TForm1::FlushCapture);
    connect(ui_->Memo1, &TTerminalMemo::Refreshed, this, &TForm1::FlushCapture);
    receive_->OnCaptureFileOpening = [this](const std::string& name) {
        ui_->StatusBar1->SetPanelText(3, QString::fromStdString("File Open " + name).left(30));
    };
    receive_->OnCaptureFileFailed = [this](const std::string& name) {
        ui_->StatusBar1->SetPanelText(3, QString::fromStdString("Cannot open " + name).left(30));
    };
    receive_->OnCaptureProblem = [this](const std::string& problem) { PostErrorBox(problem); };
    receive_->OnCaptureLost = [this](uint64_t dropped, uint64_t total) {
        ui_->StatusBar1->SetPanelText(3, QStringLiteral("Capture lost %1 bytes").arg(total));
        LogEvent("capture-dropped", std::to_string(dropped));
    };
}

void TForm1::SerialPortNG1RxClusterEvent()
{
    if (SerialPortNG1->QueuedClusterSize() >= 0) {
        const std::string text = SerialPortNG1->PopClusterText();
        silence_->Heard();
        // The remote relay and NMS forwarding see every cluster first.
        remote_->Relay(text);
        nms_->Forward(text);
        receive_->Take(text);
        if (receive_->CapturePending() && !captureFlush_->isActive())
            captureFlush_->start();
    }
    ShowLineCount();
}

void TForm1::FlushCapture()
{
    captureFlush_->stop();
    receive_->FlushCapture();
}

void TForm1::ShowLineCount()
{
    // Most clusters complete no line: the text is made only when the count changes.
    const int lines = receive_->Lines().LineCount();
    if (lines == shownLineCount_)
        return;
    shownLineCount_ = lines;
    ui_->StatusBar1->SetPanelText(0, QStringLiteral("Lines ") + QString::number(lines));
}

void TForm1::CaptureClick()
{
    Ui& u = *ui_;
    if (!receive_->CaptureViewMode()) {
        receive_->EnterCaptureView();
        u.StatusBar1->SetPanelText(6, QStringLiteral("Capture"));
        u.Capture->setText(QStringLiteral("Exit Capture"));
        u.Memo1->SetColours(QColor(192, 192, 192), Qt::black);
        u.Memo1->setFocus();
        return;
    }
    u.StatusBar1->SetPanelText(6, QStringLiteral("Normal"));
    u.Capture->setText(QStringLiteral("View Capture"));
    u.Memo1->SetColours(Qt::black, LiveTextColour(palette()));
    receive_->LeaveCaptureView();
    ShowLineCount();
    u.Memo1->setFocus();
}

void TForm1::EndCaptureView()
{
    if (receive_->CaptureViewMode())
        CaptureClick();
}

void TForm1::FindDialog1Find()
{
    if (FindPosition == 0)
        FindDialog1->SetOptions(FindDialog1->Options() & ~frFindNext);
    const TFindOptions options = FindDialog1->Options();
    const QString findText = FindDialog1->FindText();
    const std::optional<std::string> pattern = TextSearch::FindTextBytes(findText);
    TextSearch::Step step;
    step.further = (options & frFindNext) && FindPosition != 0;
    if (pattern)
        step = TextSearch::FindNext(ui_->Memo1->Text(), *pattern, size_t(FindPosition), options & frFindNext,
                                    options & frMatchCase);
    FindPosition = int(step.position);
    if (FindPosition == 0) {
        options_.Dialogs.ErrorMessage(this,
                                      TextSearch::NotFoundMessage(step.further, findText, QStringLiteral("Capture")));
        return;
    }
    ui_->Memo1->SelectText(size_t(FindPosition) - 1, pattern->size());
    ui_->Memo1->setFocus();
}

void TForm1::ButtonArchClick()
{
    const QDate today = options_.Now().date();
    ui_->Memo1->setFocus();
    if (Form2)
        Form2->ShowForDate(today);
}

void TForm1::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    // The desktop switched between a light and a dark scheme.
    if (event->type() == QEvent::PaletteChange && !receive_->CaptureViewMode())
        ui_->Memo1->SetColours(Qt::black, LiveTextColour(palette()));
}
