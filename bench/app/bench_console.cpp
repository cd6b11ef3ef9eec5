// Capture view and find: leaving the capture view after 10 MB were held, and
// a find over a full display.
#include "app/TerminalMemo.h"
#include "app/Unit1.h"
#include "bench/app/BenchSetup.h"
#include "serial/SerialNG.h"
#include "support/Dialogs.h"
#include "support/FindDialog.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>

int main(int argc, char** argv)
{
    BenchApplication bench(argc, argv);
    Dialogs::ErrorMessage = [](QWidget*, const QString&) {};
    TForm1Options options = BenchOptions();
    TForm1 form(options);
    form.show();

    std::string line = "12345 07.12.26 10:00:00 EXT 1001 -> TRUNK 004 DUR 00:01:07 OK\r\n";
    form.CaptureClick();
    size_t held = 0;
    while (held < 10'000'000) {
        form.SerialPortNG1->InjectCluster(line);
        held += line.size();
    }
    QElapsedTimer timer;
    timer.start();
    form.CaptureClick();
    form.Memo1->SyncNow();
    std::printf("leaving the capture view with %.1f MB held: %lld ms (%d display lines)\n", double(held) / 1e6,
                static_cast<long long>(timer.elapsed()), form.Memo1->LineCount());

    form.Find1Click();
    form.FindDialog1->SetFindText(QStringLiteral("NOT THERE"));
    constexpr int rounds = 50;
    timer.start();
    for (int i = 0; i < rounds; ++i) {
        form.FindPosition = 1;
        form.FindDialog1->SetOptions(frFindNext);
        form.FindDialog1Find();
    }
    std::printf("find over %d display lines (no match, A-Z folding): %.2f ms per search\n", form.Memo1->LineCount(),
                double(timer.nsecsElapsed()) / 1e6 / rounds);
    return 0;
}
