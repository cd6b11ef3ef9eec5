// The capture view: the display frozen for reading and searching while
// received text is held back, then replayed.
#include "app/Unit1.h"

#include "app/StatusBar.h"
#include "app/TerminalMemo.h"
#include "archive/Unit2.h"
#include "support/Dialogs.h"
#include "support/FindDialog.h"
#include "support/TextSearch.h"

#include <QPushButton>

void TForm1::CaptureClick()
{
    if (!CaptureViewMode) {
        CaptureViewMode = true;
        StatusBar1->SetPanelText(6, QStringLiteral("Capture"));
        Capture->setText(QStringLiteral("Exit Capture"));
        Memo1->SetColours(QColor(192, 192, 192), Qt::black);
        Memo1->setFocus();
        return;
    }
    CaptureViewMode = false;
    StatusBar1->SetPanelText(6, QStringLiteral("Normal"));
    Capture->setText(QStringLiteral("View Capture"));
    Memo1->SetColours(Qt::black, palette().color(QPalette::Base));

    // Unlike the receive path, the replay keeps backspaces and tests the limit
    // before every character.
    std::string pending;
    for (const char c : HeldText) {
        if (LineIndex > LineLimit) {
            Memo1->DeleteFirstLines(20);
            LineIndex -= 20;
        }
        if (c == '\0' || c == '\r')
            continue;
        if (c == '\n') {
            Memo1->AppendToLine(LineIndex, pending);
            pending.clear();
            CaptureFile.WriteLine(Memo1->Line(LineIndex));
            Memo1->AddLine();
            LineIndex = Memo1->LineCount() - 1;
            continue;
        }
        pending.push_back(c);
    }
    Memo1->AppendToLine(LineIndex, pending);
    HeldText.clear();
    FlushCapture();
    StatusBar1->SetPanelText(0, QStringLiteral("Lines ") + QString::number(Memo1->LineCount()));
    Memo1->setFocus();
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
        step = TextSearch::FindNext(Memo1->Text(), *pattern, size_t(FindPosition), options & frFindNext,
                                    options & frMatchCase);
    FindPosition = int(step.position);
    if (FindPosition == 0) {
        Dialogs::ErrorMessage(this, TextSearch::NotFoundMessage(step.further, findText, QStringLiteral("Capture")));
        return;
    }
    Memo1->SelectText(size_t(FindPosition) - 1, pattern->size());
    Memo1->setFocus();
}

void TForm1::ButtonArchClick()
{
    const QDate today = options_.Now().date();
    Memo1->setFocus();
    if (Form2)
        Form2->ShowForDate(today);
}
