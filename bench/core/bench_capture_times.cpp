// The cost of the receive times (.TIM) during a flood. The flood figure here is
// the receive path (lines, display model, capture file and its index) taking
// PBX text in 4 KiB clusters. The cost of the index is the capture file alone
// writing the same lines with their times less the same without, also given
// per MB to set beside the whole program's flood figure (bench_serial_app). A
// raw copy of the same bytes to a file, measured in the same run, is the peer.
// Figures are processor seconds, the median of the rounds.
//   bench_capture_times [MB [rounds]]   (200 MB, 5 rounds by default)
#include "core/CaptureFile.h"
#include "core/ReceivePath.h"

#include <QDir>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

std::string FloodText(size_t bytes)
{
    std::string text;
    text.reserve(bytes + 128);
    for (unsigned long n = 0; text.size() < bytes; ++n) {
        char line[128];
        const int length =
            std::snprintf(line, sizeof line, "CDR %06lu 07.12.26 10:%02lu:%02lu EXT %03lu TRK %02lu DUR %04lu\r\n",
                          n % 1000000, n / 60 % 60, n % 60, 200 + n % 80, n % 24, n * 37 % 3600);
        text.append(line, size_t(length));
    }
    return text;
}

// Processor time (user and system) of this process: the machine may be shared,
// so its clock time says more about the neighbours than about this code.
double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct TTimer {
    double Cpu = CpuSeconds();
    double Seconds() const { return CpuSeconds() - Cpu; }
};

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double ReceivePathSeconds(const std::string& text, const QString& folder)
{
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    const QString old = QDir::currentPath();
    QDir::setCurrent(folder);
    const TTimer timer;
    {
        TReceivePath path;
        path.Start();
        path.OpenCaptureFile();
        for (size_t at = 0; at < text.size(); at += 4096)
            path.Take(std::string_view(text).substr(at, 4096));
        path.CloseCaptureFile();
    }
    const double seconds = timer.Seconds();
    QDir::setCurrent(old);
    return seconds;
}

// The capture file alone, the lines written as the receive path writes them.
double CaptureSeconds(const std::vector<std::string_view>& lines, const QString& folder, bool times)
{
    QDir(folder).removeRecursively();
    const TTimer timer;
    {
        TCaptureFile file;
        file.Open(folder.toStdString() + "/", "x.CAP");
        uint32_t ms = 0;
        size_t pendingLines = 0;
        for (const std::string_view line : lines) {
            file.WriteLine(line, times ? std::optional<uint32_t>(ms++ % kMillisecondsPerDay) : std::nullopt);
            if (++pendingLines == 50) {  // about one 4 KiB cluster
                file.Flush();
                pendingLines = 0;
            }
        }
        file.Close();
    }
    return timer.Seconds();
}

double RawCopySeconds(const std::string& text, const QString& folder)
{
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    const TTimer timer;
    const int fd = ::open((folder + "/raw").toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    for (size_t at = 0; at < text.size(); at += 4096)
        if (::write(fd, text.data() + at, std::min<size_t>(4096, text.size() - at)) < 0)
            break;
    ::close(fd);
    return timer.Seconds();
}

}  // namespace

int main(int argc, char** argv)
{
    const size_t megabytes = argc > 1 ? size_t(std::atol(argv[1])) : 200;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const std::string text = FloodText(megabytes << 20);
    std::vector<std::string_view> lines;
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find("\r\n", at);
        lines.push_back(std::string_view(text).substr(at, end - at));
        at = end + 2;
    }
    QTemporaryDir dir;
    std::vector<double> flood, with, without, raw;
    for (int round = 0; round < rounds; ++round) {
        raw.push_back(RawCopySeconds(text, dir.filePath("raw")));
        flood.push_back(ReceivePathSeconds(text, dir.filePath("flood")));
        with.push_back(CaptureSeconds(lines, dir.filePath("with"), true));
        without.push_back(CaptureSeconds(lines, dir.filePath("without"), false));
    }
    const double mb = double(text.size()) / double(1 << 20);
    const double cost = Median(with) - Median(without);
    std::printf("processor time; flood of %.0f MB in 4 KiB clusters, %zu lines, median of %d rounds\n", mb,
                lines.size(), rounds);
    std::printf("  raw copy to a file (peer)      %7.3f s  %7.1f MB/s\n", Median(raw), mb / Median(raw));
    std::printf("  receive path with .TIM (flood) %7.3f s  %7.1f MB/s\n", Median(flood), mb / Median(flood));
    std::printf("  capture file with times        %7.3f s\n", Median(with));
    std::printf("  capture file without times     %7.3f s\n", Median(without));
    std::printf("  cost of .TIM: %.3f s, %.2f ms per MB = %.1f %% of the receive path's flood figure "
                "(%.2f ms per MB); flood / raw copy = %.2f\n",
                cost, 1000 * cost / mb, 100.0 * cost / Median(flood), 1000 * Median(flood) / mb,
                Median(flood) / Median(raw));
    return 0;
}
