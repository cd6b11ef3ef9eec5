// The archive viewer on a 50 MB capture file: time to the first screen, the
// longest stall of the event loop while the rest goes in, time until the whole
// file is in the display, and the time of each Find Next.
//   bench_archive [lines]   (600000 lines by default, about 50 MB)
#include "archive/Unit2.h"
#include "support/Dialogs.h"
#include "support/FindDialog.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string CaptureText(int lines)
{
    std::string text;
    text.reserve(size_t(lines) * 90);
    char line[160];
    for (int i = 0; i < lines; ++i) {
        const int n = std::snprintf(
            line, sizeof line,
            "%02d:%02d:%02d EXT %04d CALL OUT 0888%06d TRUNK %02d DUR %02d:%02d COST %d.%02d LINE %05d %s\r\n",
            (i / 3600) % 24, (i / 60) % 60, i % 60, 1000 + i % 9000, (i * 7919) % 1000000, i % 32, (i / 7) % 60, i % 60,
            i % 10, i % 100, i % 100000, i % 60000 == 59999 ? "ALARM 7 MAJOR" : "OK");
        text.append(line, size_t(n));
    }
    return text;
}

double Ms(const QElapsedTimer& t) { return double(t.nsecsElapsed()) / 1e6; }

struct Presses {
    std::vector<double> times;
    int messages = 0;
};

// Presses Find Next until the "no further" message; returns each press's time.
Presses FindAll(TForm2& form, const QString& text, bool matchCase, int& messages)
{
    Presses result;
    form.ButtonFindClick();
    form.FindDialog1->SetFindText(text);
    form.FindDialog1->SetOptions(matchCase ? unsigned(frMatchCase) : 0u);
    const int before = messages;
    while (messages == before) {
        QElapsedTimer t;
        t.start();
        form.FindDialog1->ButtonFindNext->click();
        result.times.push_back(Ms(t));
        QCoreApplication::processEvents();
    }
    return result;
}

void Report(const char* what, const Presses& p)
{
    const double worst = *std::max_element(p.times.begin(), p.times.end());
    double sum = 0;
    for (double t : p.times)
        sum += t;
    std::printf("%-44s presses %3zu  mean %7.2f ms  worst %7.2f ms\n", what, p.times.size(),
                sum / double(p.times.size()), worst);
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int lines = argc > 1 ? std::atoi(argv[1]) : 600000;

    QTemporaryDir folder;
    QDir::setCurrent(folder.path());
    QDir().mkpath("archive/2026/03");
    {
        const std::string text = CaptureText(lines);
        QFile file("archive/2026/03/05-03-26.CAP");
        file.open(QIODevice::WriteOnly);
        file.write(text.data(), qint64(text.size()));
        std::printf("capture file: %d lines, %.1f MB\n", lines, double(text.size()) / 1e6);
    }

    int messages = 0;
    TDialogs dialogs = TDialogs::Standard();
    dialogs.ErrorMessage = [&](QWidget*, const QString&) { ++messages; };

    TForm2 form(dialogs);
    form.ShowForDate(QDate(2026, 3, 5));
    QCoreApplication::processEvents();

    // The event loop's longest gap while the file goes in, seen by a 5 ms timer.
    QElapsedTimer sinceTick;
    double longestGap = 0;
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, Ms(sinceTick));
        sinceTick.restart();
    });

    QElapsedTimer total;
    total.start();
    form.ButtonOpenClick();
    const double opened = Ms(total);
    QCoreApplication::processEvents();  // paints the first screen
    const double firstScreen = Ms(total);
    std::printf("first screen: %.0f ms (open handler %.0f ms), %d lines shown so far\n", firstScreen, opened,
                form.MemoArch->blockCount());

    sinceTick.start();
    ticker.start();
    bool finished = !form.Loading();
    QObject::connect(&form, &TForm2::LoadFinished, [&] { finished = true; });
    while (!finished)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    ticker.stop();
    std::printf("whole file in the display: %.0f ms after the click; longest event-loop gap %.0f ms\n", Ms(total),
                longestGap);

    Report("find next \"alarm 7\" (no match case)", FindAll(form, "alarm 7", false, messages));
    Report("find next \"ALARM 7\" (match case)", FindAll(form, "ALARM 7", true, messages));
    Report("find \"no such text\" (whole file, no match case)", FindAll(form, "no such text", false, messages));
    Report("find \"NO SUCH TEXT\" (whole file, match case)", FindAll(form, "NO SUCH TEXT", true, messages));

    // A search while the file is still going in, for a match near its end.
    form.ButtonOpenClick();
    form.ButtonFindClick();
    form.FindDialog1->SetFindText(QString("0888%1").arg((lines - 2) * 7919 % 1000000, 6, 10, QChar('0')));
    QElapsedTimer early;
    early.start();
    form.FindDialog1->ButtonFindNext->click();
    const double answered = Ms(early);
    while (!form.MemoArch->textCursor().hasSelection())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    std::printf("find near the end right after opening: answered in %.1f ms, selected once shown after %.0f ms\n",
                answered, Ms(early));

    QElapsedTimer document;
    document.start();
    const QTextCursor hit = form.MemoArch->document()->find("no such text");
    std::printf("for comparison, QTextDocument::find over the whole display: %.0f ms\n", Ms(document));
    return hit.isNull() ? 0 : 1;
}
