// Capture view and find: leaving the capture view after 10 MB were held, and
// a find over a full display.
#include "app/TerminalMemo.h"
#include "app/Unit1.h"
#include "bench/app/BenchSetup.h"
#include "core/LineModel.h"
#include "serial/SerialNG.h"
#include "support/Dialogs.h"
#include "support/FindDialog.h"

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <cstdio>

int main(int argc, char** argv)
{
    BenchApplication bench(argc, argv);
    TSerialPortNG* port = nullptr;
    TForm1Options options = BenchOptions(port);
    // Every search here finds nothing; its message box would wait for a click.
    int notFound = 0;
    options.Dialogs.ErrorMessage = [&notFound](QWidget*, const QString&) { ++notFound; };
    TForm1 form(options);
    form.show();
    auto* memo = form.findChild<TTerminalMemo*>(QStringLiteral("Memo1"));
    auto* capture = form.findChild<QPushButton*>(QStringLiteral("Capture"));

    std::string line = "12345 07.12.26 10:00:00 EXT 1001 -> TRUNK 004 DUR 00:01:07 OK\r\n";
    capture->click();
    size_t held = 0;
    while (held < 10'000'000) {
        port->InjectCluster(line);
        held += line.size();
    }
    QElapsedTimer timer;
    timer.start();
    capture->click();
    memo->SyncNow();
    std::printf("leaving the capture view with %.1f MB held: %lld ms (%d display lines)\n", double(held) / 1e6,
                static_cast<long long>(timer.elapsed()), memo->Model().LineCount());

    form.findChild<QAction*>(QStringLiteral("Find1"))->trigger();
    auto* find = form.findChild<TFindDialog*>(QStringLiteral("FindDialog1"));
    find->SetFindText(QStringLiteral("NOT THERE"));
    constexpr int rounds = 50;
    timer.start();
    // Each press starts from the top again: a search that finds nothing leaves no position behind.
    for (int i = 0; i < rounds; ++i) {
        find->SetOptions(frFindNext);
        find->OnFind();
    }
    std::printf("find over %d display lines (no match, A-Z folding): %.2f ms per search\n", memo->Model().LineCount(),
                double(timer.nsecsElapsed()) / 1e6 / rounds);
    if (notFound != rounds)
        std::printf("    only %d of %d searches ended with the not-found message\n", notFound, rounds);
    return 0;
}
