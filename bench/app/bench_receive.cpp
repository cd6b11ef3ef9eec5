// Receive path throughput: PBX text fed as clusters through the receive event
// into the display and the capture file, with the display refreshing as it
// would on screen. Prints MB/s and CPU per MB for each cluster size, and the
// cost of a trim at different display sizes.
#include "app/TerminalMemo.h"
#include "app/Unit1.h"
#include "bench/app/BenchSetup.h"
#include "core/LineModel.h"
#include "serial/SerialNG.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <sys/resource.h>

namespace {

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::string PbxText(size_t bytes)
{
    std::string text;
    text.reserve(bytes + 100);
    for (unsigned n = 0; text.size() < bytes; ++n) {
        char line[100];
        std::snprintf(line, sizeof line, "%05u 07.12.26 10:%02u:%02u EXT %04u -> TRUNK 0%02u DUR 00:%02u:%02u OK\r\n",
                      n % 100000, n / 60 % 60, n % 60, 1000 + n % 9000, n % 30, n % 60, n / 7 % 60);
        text += line;
    }
    text.resize(bytes);
    return text;
}

void Feed(size_t clusterSize, const std::string& text)
{
    TSerialPortNG* port = nullptr;
    TForm1 form(BenchOptions(port));
    form.show();
    auto* memo = form.findChild<TTerminalMemo*>(QStringLiteral("Memo1"));

    QElapsedTimer wall;
    wall.start();
    QElapsedTimer sinceEvents;
    sinceEvents.start();
    const double cpu0 = CpuSeconds();
    for (size_t pos = 0; pos < text.size(); pos += clusterSize) {
        port->InjectCluster(text.substr(pos, clusterSize));
        // Let the window refresh as its event loop would between clusters.
        if (sinceEvents.elapsed() >= 5) {
            QCoreApplication::processEvents();
            sinceEvents.restart();
        }
    }
    memo->SyncNow();
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    const double cpu = CpuSeconds() - cpu0;
    const double mb = double(text.size()) / 1e6;
    std::printf("clusters of %5zu bytes: %7.2f MB/s, %6.1f ms CPU per MB, %d display lines\n", clusterSize,
                mb / seconds, cpu * 1000 / mb, memo->Model().LineCount());
}

void TrimCost(int lines)
{
    TLineModel model;
    TTerminalMemo memo;
    memo.SetModel(&model);
    memo.resize(800, 600);
    memo.show();
    for (int i = 0; i < lines; ++i) {
        model.AddLine();
        model.AppendToLine(i, "0123456789 some PBX output line of a typical length 0123456789");
    }
    memo.SyncNow();
    constexpr int rounds = 2000;
    qint64 modelNs = 0, widgetNs = 0;
    QElapsedTimer timer;
    for (int i = 0; i < rounds; ++i) {
        timer.start();
        model.DeleteFirstLines(20);
        for (int k = 0; k < 20; ++k) {
            model.AddLine();
            model.AppendToLine(model.LineCount() - 1, "a new line of PBX output after the trim");
        }
        modelNs += timer.nsecsElapsed();
        timer.start();
        memo.SyncNow();
        widgetNs += timer.nsecsElapsed();
    }
    std::printf("trim of 20 lines plus 20 new ones at %5d lines: line list %6.2f us, display refresh %7.1f us\n", lines,
                double(modelNs) / 1e3 / rounds, double(widgetNs) / 1e3 / rounds);
}

}  // namespace

// --rules: with ten alarm rules in "Watch.txt"; --mb N: the text fed, in MB (10).
int main(int argc, char** argv)
{
    BenchApplication bench(argc, argv);
    size_t megabytes = 10;
    const QStringList args = QCoreApplication::arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--rules") {
            QFile rules(QStringLiteral("Watch.txt"));
            if (!rules.open(QIODevice::WriteOnly) || rules.write(kBenchAlarmRules) < 0)
                return 1;
            std::printf("with ten alarm rules\n");
        } else if (args[i] == "--mb" && i + 1 < args.size()) {
            megabytes = args[++i].toULong();
        } else {
            std::fprintf(stderr, "usage: bench_receive [--rules] [--mb N]\n");
            return 2;
        }
    }
    const std::string text = PbxText(megabytes * 1'000'000);
    Feed(12, text);
    Feed(4096, text);
    TrimCost(100);
    TrimCost(6000);
    return 0;
}
