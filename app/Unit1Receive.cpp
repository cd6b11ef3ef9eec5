// The receive path: clusters from the serial port into the display and the
// day's capture file.
#include "app/Unit1.h"

#include "app/StatusBar.h"
#include "app/TerminalMemo.h"
#include "serial/SerialNG.h"
#include "support/Dialogs.h"

#include <QTimer>
#include <cstring>

void TForm1::SerialPortNG1RxClusterEvent()
{
    if (SerialPortNG1->QueuedClusterSize() >= 0) {
        const std::string text = SerialPortNG1->PopClusterText();
        // The remote relay and NMS forwarding see every cluster first.
        RemoteRelay(text);
        NmsForward(text);
        if (CaptureViewMode) {
            HeldText += text;
            return;
        }
        const QDate today = options_.Now().date();
        if (today.month() != CaptureMonth || today.day() != CaptureDay) {
            try {
                OpenCaptureFile();
            } catch (const std::exception& e) {
                // Keep displaying; the lines wait in the capture backlog and the
                // next cluster tries the new day's file again.
                ReportCaptureProblem(e.what());
            }
        }
        // Blocks of 20 until under the limit: a large cluster must not grow the display without bound.
        while (LineIndex > LineLimit) {
            Memo1->DeleteFirstLines(20);
            LineIndex -= 20;
        }
        if (!text.empty() && text[0] == '\b')
            Memo1->ShortenLine(LineIndex, text.size());
        AssembleLines(text);
        FlushCapture();
    }
    StatusBar1->SetPanelText(0, QStringLiteral("Lines ") + QString::number(Memo1->LineCount()));
}

void TForm1::AssembleLines(const std::string& text)
{
    const char* p = text.data();
    const char* const end = p + text.size();
    std::string pending;
    while (p < end) {
        // Runs of ordinary bytes are taken whole.
        const char* q = p;
        while (q < end && *q != '\0' && *q != '\b' && *q != '\n' && *q != '\r')
            ++q;
        pending.append(p, size_t(q - p));
        if (q == end)
            break;
        if (*q == '\n') {
            Memo1->AppendToLine(LineIndex, pending);
            pending.clear();
            CaptureFile.WriteLine(Memo1->Line(LineIndex));
            Memo1->AddLine();
            LineIndex = Memo1->LineCount() - 1;
        }
        p = q + 1;
    }
    Memo1->AppendToLine(LineIndex, pending);
}

void TForm1::FlushCapture()
{
    if (CaptureFile.Flush()) {
        captureProblemShown_ = false;
        return;
    }
    ReportCaptureProblem(CaptureFile.LastError() + "; the lines are kept and written when the file accepts them.");
}

void TForm1::ReportCaptureProblem(const std::string& problem)
{
    if (captureProblemShown_)
        return;
    captureProblemShown_ = true;
    // Posted: a modal box inside the receive event would hold the serial worker.
    const QString text = QString::fromStdString(problem);
    QTimer::singleShot(0, this, [text] { Dialogs::ErrorBox(text); });
}

void TForm1::OpenCaptureFile()
{
    const QDate today = options_.Now().date();
    CaptureFile.Close();
    const unsigned year = unsigned(today.year()), month = unsigned(today.month()), day = unsigned(today.day());
    const std::string name = CaptureName(year, month, day);
    StatusBar1->SetPanelText(3, QString::fromStdString("File Open " + name).left(30));
    CaptureFile.Open(CaptureDirectory(year, month), name);
    // The new date counts only once its file is open, so a failure is retried.
    CaptureYear = uint16_t(year);
    CaptureMonth = uint16_t(month);
    CaptureDay = uint16_t(day);
}
