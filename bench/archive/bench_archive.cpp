// The archive viewer on two 50 MB capture files: one of usual lines, and one
// whose longest line is 10 MB (it comes first, so the first screen holds it).
// For each: time to the first screen, the longest stall of the event loop while
// the rest goes in, time until the whole file is in the display, and the time
// of each Find Next. The file of usual lines is opened again with a receive
// time for every line and "Times" on.
//   bench_archive [lines [longest-line-MB]]   (600000 lines and 10 MB by default)
//   A longest line of 0 skips the second file.
#include "archive/Unit2.h"
#include "core/TimeIndex.h"
#include "support/Dialogs.h"
#include "support/FindDialog.h"

#include <QApplication>
#include <QCheckBox>
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

std::string CaptureLine(int i)
{
    char line[160];
    const int n = std::snprintf(
        line, sizeof line,
        "%02d:%02d:%02d EXT %04d CALL OUT 0888%06d TRUNK %02d DUR %02d:%02d COST %d.%02d LINE %05d %s\r\n",
        (i / 3600) % 24, (i / 60) % 60, i % 60, 1000 + i % 9000, (i * 7919) % 1000000, i % 32, (i / 7) % 60, i % 60,
        i % 10, i % 100, i % 100000, i % 60000 == 59999 ? "ALARM 7 MAJOR" : "OK");
    return std::string(line, size_t(n));
}

std::string CaptureText(int lines)
{
    std::string text;
    text.reserve(size_t(lines) * 90);
    for (int i = 0; i < lines; ++i)
        text += CaptureLine(i);
    return text;
}

// A line of length bytes of dump text, "NEEDLE" near its end, CR LF after it.
std::string LongLine(size_t length)
{
    std::string line;
    line.reserve(length + 2);
    for (int i = 0; line.size() < length; ++i) {
        char word[16];
        line.append(word, size_t(std::snprintf(word, sizeof word, "%04X ", i & 0xFFFF)));
    }
    line.resize(length);
    line.replace(length - 100, 6, "NEEDLE");
    return line + "\r\n";
}

// 50 MB: a line of longest MB first, usual lines, a line half as long, usual lines.
std::string LongLineText(size_t longest)
{
    std::string text = LongLine(longest);
    int i = 0;
    while (text.size() < 25'000'000)
        text += CaptureLine(i++);
    text += LongLine(longest / 2);
    while (text.size() < 50'000'000)
        text += CaptureLine(i++);
    return text;
}

double Ms(const QElapsedTimer& t) { return double(t.nsecsElapsed()) / 1e6; }

struct Presses {
    std::vector<double> times;
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
    std::printf("  %-46s presses %3zu  mean %7.2f ms  worst %7.2f ms\n", what, p.times.size(),
                sum / double(p.times.size()), worst);
}

void WriteCapture(const std::string& text)
{
    QFile file("archive/2026/03/05-03-26.CAP");
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(text.data(), qint64(text.size()));
}

// A receive time for every line of text, a second apart.
void WriteTimes(const std::string& text)
{
    std::string records;
    uint32_t ms = 0;
    for (size_t at = 0; at < text.size(); ms = (ms + 1000) % kMillisecondsPerDay) {
        records += EncodeTimeRecord({at, ms});
        const size_t lf = text.find('\n', at);
        at = lf == std::string::npos ? text.size() : lf + 1;
    }
    QFile file("archive/2026/03/05-03-26.TIM");
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(records.data(), qint64(records.size()));
}

// Opens the file and measures the load; returns once it is wholly in the display.
void MeasureLoad(TForm2& form)
{
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
    std::printf("  first screen: %.0f ms (open handler %.0f ms), %d display lines so far\n", firstScreen, opened,
                form.MemoArch->blockCount());

    sinceTick.start();
    ticker.start();
    bool finished = !form.Loading();
    const QMetaObject::Connection done = QObject::connect(&form, &TForm2::LoadFinished, [&] { finished = true; });
    while (!finished)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QObject::disconnect(done);
    ticker.stop();
    std::printf("  whole file in the display: %.0f ms after the click; longest event-loop gap %.0f ms\n", Ms(total),
                longestGap);
}

// A search right after opening, for a text not yet in the display.
void MeasureEarlyFind(TForm2& form, const QString& text)
{
    form.ButtonOpenClick();
    form.ButtonFindClick();
    form.FindDialog1->SetFindText(text);
    QElapsedTimer early;
    early.start();
    form.FindDialog1->ButtonFindNext->click();
    const double answered = Ms(early);
    while (!form.MemoArch->textCursor().hasSelection())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    std::printf("  find \"%s\" right after opening: answered in %.1f ms, selected once shown after %.0f ms\n",
                qPrintable(text), answered, Ms(early));
    while (form.Loading())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int lines = argc > 1 ? std::atoi(argv[1]) : 600000;
    const double longestMb = argc > 2 ? std::atof(argv[2]) : 10;

    QTemporaryDir folder;
    QDir::setCurrent(folder.path());
    QDir().mkpath("archive/2026/03");

    int messages = 0;
    TDialogs dialogs = TDialogs::Standard();
    dialogs.ErrorMessage = [&](QWidget*, const QString&) { ++messages; };
    TForm2 form(dialogs);
    form.ShowForDate(QDate(2026, 3, 5));
    QCoreApplication::processEvents();

    {
        const std::string text = CaptureText(lines);
        WriteCapture(text);
        std::printf("capture file of usual lines: %d lines, %.1f MB\n", lines, double(text.size()) / 1e6);
    }
    MeasureLoad(form);
    Report("find next \"alarm 7\" (no match case)", FindAll(form, "alarm 7", false, messages));
    Report("find next \"ALARM 7\" (match case)", FindAll(form, "ALARM 7", true, messages));
    Report("find \"no such text\" (whole file, no match case)", FindAll(form, "no such text", false, messages));
    Report("find \"NO SUCH TEXT\" (whole file, match case)", FindAll(form, "NO SUCH TEXT", true, messages));
    MeasureEarlyFind(form, QString("0888%1").arg((lines - 2) * 7919 % 1000000, 6, 10, QChar('0')));
    {
        // Each measure below replaces a display that holds the whole file, as the other does.
        std::printf("the same file opened again:\n");
        MeasureLoad(form);
        WriteTimes(CaptureText(lines));
        form.CheckTimes->setChecked(true);
        std::printf("the same file with a receive time for every line, \"Times\" on:\n");
        MeasureLoad(form);
        form.CheckTimes->setChecked(false);
        QFile::remove("archive/2026/03/05-03-26.TIM");
    }
    QElapsedTimer document;
    document.start();
    const QTextCursor hit = form.MemoArch->document()->find("no such text");
    std::printf("  for comparison, QTextDocument::find over the whole display: %.0f ms\n", Ms(document));

    if (longestMb > 0) {
        {
            const std::string text = LongLineText(size_t(longestMb * 1e6));
            WriteCapture(text);
            std::printf("capture file with long lines: %.1f MB, the longest line %.1f MB\n", double(text.size()) / 1e6,
                        longestMb);
        }
        MeasureLoad(form);
        Report("find next \"needle\" (no match case)", FindAll(form, "needle", false, messages));
        Report("find \"no such text\" (whole file, no match case)", FindAll(form, "no such text", false, messages));
        MeasureEarlyFind(form, "NEEDLE");
    }
    return hit.isNull() ? 0 : 1;
}
