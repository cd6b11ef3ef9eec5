// Serial engine figures: idle CPU with the port open, and a flood through a
// pty into clusters and a file beside a plain read/write copy through the same
// kind of pty.   bench_serial [idle seconds] [flood megabytes]
#include "serial/SerialNG.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

double ProcessCpu()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double ThreadCpu()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

struct PtyMaster {
    int Fd = -1;
    std::string Slave;
    PtyMaster()
    {
        Fd = posix_openpt(O_RDWR | O_NOCTTY);
        if (Fd < 0 || grantpt(Fd) || unlockpt(Fd)) {
            std::perror("posix_openpt");
            std::exit(1);
        }
        Slave = ptsname(Fd);
    }
    ~PtyMaster() { close(Fd); }
};

std::string PbxText(size_t bytes)
{
    std::string text;
    for (unsigned long n = 0; text.size() < bytes; ++n) {
        char line[96];
        std::snprintf(line, sizeof line, "CDR %06lu 07.12.26 10:%02lu:%02lu EXT %03lu TRK %02lu DUR %04lu\r\n", n,
                      n / 60 % 60, n % 60, 200 + n % 80, n % 24, n * 37 % 3600);
        text += line;
    }
    text.resize(bytes);
    return text;
}

// Writes all of text to the master on a thread of its own; its CPU is kept apart.
struct Feeder {
    std::thread Thread;
    double Cpu = 0;
    Feeder(int fd, const std::string& text)
    {
        Thread = std::thread([this, fd, &text] {
            const double start = ThreadCpu();
            size_t done = 0;
            while (done < text.size()) {
                ssize_t n = write(fd, text.data() + done, std::min<size_t>(65536, text.size() - done));
                if (n > 0)
                    done += size_t(n);
                else if (n < 0 && errno != EINTR && errno != EAGAIN)
                    break;
            }
            Cpu = ThreadCpu() - start;
        });
    }
    void Join() { Thread.join(); }
};

void Idle(int seconds)
{
    PtyMaster pty;
    TSerialPortNG port;
    port.SetClusterSize(12);
    port.SetCommPort(pty.Slave);
    port.SetActive(true);
    if (!port.Active()) {
        std::fprintf(stderr, "cannot open %s\n", pty.Slave.c_str());
        std::exit(1);
    }
    QEventLoop settle;
    QTimer::singleShot(500, &settle, &QEventLoop::quit);
    settle.exec();
    const double cpu0 = ProcessCpu();
    QElapsedTimer wall;
    wall.start();
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    const double cpu = ProcessCpu() - cpu0;
    std::printf("idle, port open, no data: %.3f%% of one core (%.1f ms CPU in %.1f s)\n",
                100.0 * cpu / (double(wall.elapsed()) / 1000.0), cpu * 1000, double(wall.elapsed()) / 1000.0);
}

struct FloodResult {
    double MBps, CpuMsPerMB;
};

FloodResult FloodSerial(const std::string& text, const char* file)
{
    PtyMaster pty;
    TSerialPortNG port;
    std::FILE* out = std::fopen(file, "wb");
    size_t received = 0, clusters = 0;
    QEventLoop loop;
    port.OnRxClusterEvent = [&](TSerialPortNG* p) {
        const std::string c = p->PopClusterText();
        std::fwrite(c.data(), 1, c.size(), out);
        received += c.size();
        ++clusters;
        if (received >= text.size())
            loop.quit();
    };
    port.SetClusterSize(12);
    port.SetBaudRate(38400);
    port.SetCommPort(pty.Slave);
    port.SetActive(true);
    const double cpu0 = ProcessCpu();
    QElapsedTimer wall;
    wall.start();
    Feeder feeder(pty.Fd, text);
    loop.exec();
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    feeder.Join();
    const double cpu = ProcessCpu() - cpu0 - feeder.Cpu;
    std::fclose(out);
    const double mb = double(received) / 1e6;
    std::printf("engine: %.1f MB in %.2f s: %.1f MB/s, %.1f ms CPU per MB, %zu clusters (mean %.0f bytes)\n", mb,
                seconds, mb / seconds, cpu * 1000 / mb, clusters, double(received) / double(clusters));
    return {mb / seconds, cpu * 1000 / mb};
}

FloodResult FloodRaw(const std::string& text, const char* file)
{
    PtyMaster pty;
    int fd = open(pty.Slave.c_str(), O_RDWR | O_NOCTTY);
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    std::FILE* out = std::fopen(file, "wb");
    const double cpu0 = ThreadCpu();
    QElapsedTimer wall;
    wall.start();
    Feeder feeder(pty.Fd, text);
    size_t received = 0;
    char buf[65536];
    while (received < text.size()) {
        ssize_t n = read(fd, buf, sizeof buf);  // what `cat` does
        if (n <= 0)
            break;
        std::fwrite(buf, 1, size_t(n), out);
        received += size_t(n);
    }
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    const double cpu = ThreadCpu() - cpu0;
    feeder.Join();
    std::fclose(out);
    close(fd);
    const double mb = double(received) / 1e6;
    std::printf("raw copy: %.1f MB in %.2f s: %.1f MB/s, %.1f ms CPU per MB\n", mb, seconds, mb / seconds,
                cpu * 1000 / mb);
    return {mb / seconds, cpu * 1000 / mb};
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int idleSeconds = argc > 1 ? std::atoi(argv[1]) : 10;
    const size_t megabytes = argc > 2 ? size_t(std::atoi(argv[2])) : 64;
    Idle(idleSeconds);
    const std::string text = PbxText(megabytes * 1000 * 1000);
    const FloodResult engine = FloodSerial(text, "bench-serial-capture.tmp");
    const FloodResult raw = FloodRaw(text, "bench-serial-raw.tmp");
    std::remove("bench-serial-capture.tmp");
    std::remove("bench-serial-raw.tmp");
    std::printf("ratio engine/raw: %.2f (throughput)\n", engine.MBps / raw.MBps);
    return 0;
}
