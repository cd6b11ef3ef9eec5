// An NMS host that answers nothing: it sends telnet option requests without
// end and never reads (or, with --data, plain data without end). Meanwhile the
// PBX (a pseudo-terminal on the serial engine) sends a line every 100 ms. For
// 15 s: the growth of the process's memory, how long each PBX line takes to
// reach the capture file, the gaps of the event loop, and how much was read
// from the host. The units are wired as the main window wires them. With
// --unlimited the link's queue and read limits are switched off, for comparison.
#include "bench/app/ProcessProbe.h"
#include "core/NmsForwarder.h"
#include "core/ReceivePath.h"
#include "net/TnCnx.h"
#include "net/WSocket.h"
#include "serial/SerialNG.h"
#include "tests/net/FreePort.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

long RssKiB() { return long(ProcessProbe::RssKiB(getpid())); }

// The storm: WILL 5 and DO 31, again and again, to whoever connects; or plain data.
struct StormHost {
    int listener = -1;
    int port = 0;
    std::atomic<int> conn{-1};
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> sent{0};
    std::thread thread;

    explicit StormHost(bool plainData)
    {
        listener = BoundLoopbackSocket(port);
        listen(listener, 1);
        thread = std::thread([this, plainData] {
            conn = accept(listener, nullptr, nullptr);
            std::string storm;
            for (int i = 0; i < 2000; ++i)
                storm += plainData ? "STATUS" : "\xff\xfb\x05\xff\xfd\x1f";
            while (!stop && send(conn, storm.data(), storm.size(), MSG_NOSIGNAL) > 0)
                sent += storm.size();
        });
    }
    ~StormHost()
    {
        stop = true;
        shutdown(listener, SHUT_RDWR);
        if (conn >= 0)
            shutdown(conn, SHUT_RDWR);
        thread.join();
        if (conn >= 0)
            close(conn);
        close(listener);
    }
};

// The PBX: a line every 100 ms into the pty, and when each appeared in the capture file.
struct Pbx {
    int master = -1;
    std::string slave;
    std::string capturePath;
    std::atomic<bool> stop{false};
    std::atomic<bool> done{false};
    std::vector<double> latenciesMs;
    int missing = 0;
    std::thread thread;

    Pbx()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        grantpt(master);
        unlockpt(master);
        slave = ptsname(master);
        termios tio{};
        tcgetattr(master, &tio);
        cfmakeraw(&tio);
        tcsetattr(master, TCSANOW, &tio);
    }
    void Start()
    {
        thread = std::thread([this] {
            auto next = Clock::now();
            for (int n = 0; !stop; ++n) {
                next += std::chrono::milliseconds(100);
                std::this_thread::sleep_until(next);
                char line[64];
                const int len = std::snprintf(line, sizeof line, "EXT %04d -> TRUNK %02d OK\r\n", n % 10000, n % 30);
                struct stat before {};
                const off_t size = stat(capturePath.c_str(), &before) == 0 ? before.st_size : 0;
                const auto sent = Clock::now();
                if (write(master, line, size_t(len)) != len)
                    break;
                // The line is in the file once the file has grown by it (the receive path adds nothing else).
                bool seen = false;
                while (!seen && Clock::now() - sent < std::chrono::seconds(5)) {
                    struct stat now {};
                    seen = stat(capturePath.c_str(), &now) == 0 && now.st_size >= size + len;
                    if (!seen)
                        std::this_thread::sleep_for(std::chrono::microseconds(500));
                }
                if (seen)
                    latenciesMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
                else
                    ++missing;
            }
            done = true;
        });
    }
    // The event loop goes on until the last line has been looked for.
    void Stop()
    {
        stop = true;
        while (!done)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
        thread.join();
        close(master);
    }
};

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    bool unlimited = false, plainData = false;
    int seconds = 15;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--unlimited") == 0)
            unlimited = true;
        else if (std::strcmp(argv[i], "--data") == 0)
            plainData = true;
        else
            seconds = std::atoi(argv[i]);
    }
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());

    StormHost host(plainData);
    Pbx pbx;
    TSerialPortNG port;
    TReceivePath receive;
    receive.SetLineLimit(6000);
    receive.Start();
    receive.OpenCaptureFile();
    pbx.capturePath = receive.CaptureFile().Path();
    TNmsForwarder nms({[] { return true; },
                       [&host] {
                           return TNmsSettings{"127.0.0.1", std::to_string(host.port)};
                       },
                       [](const std::string& problem) { std::fprintf(stderr, "%s\n", problem.c_str()); }});
    if (unlimited) {
        nms.Link().SetSendQueueLimit(0);
        nms.Link().SetReceiveRateLimit(0);
    }
    port.OnRxClusterEvent = [&](TSerialPortNG* p) {
        if (p->QueuedClusterSize() < 0)
            return;
        const std::string text = p->PopClusterText();
        nms.Forward(text);
        receive.Take(text);
    };
    port.SetClusterSize(12);
    port.SetErrorNoise(255);
    port.SetBaudRate(9600);
    port.SetCommPort(pbx.slave);
    port.SetActive(true);
    if (!port.Active()) {
        std::fprintf(stderr, "cannot open %s\n", pbx.slave.c_str());
        return 1;
    }
    nms.Start();
    QElapsedTimer wait;
    wait.start();
    while (nms.Link().State() != wsConnected && wait.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);

    // The worst time the event loop was busy: how late a 1 ms timer fires.
    QElapsedTimer loopClock;
    loopClock.start();
    qint64 last = loopClock.nsecsElapsed();
    std::vector<qint64> gaps;
    QTimer meter;
    meter.setTimerType(Qt::PreciseTimer);
    QObject::connect(&meter, &QTimer::timeout, [&] {
        const qint64 now = loopClock.nsecsElapsed();
        gaps.push_back(now - last);
        last = now;
    });
    meter.start(1);

    const long rss0 = RssKiB();
    long rssPeak = rss0;
    size_t peakQueue = 0;
    pbx.Start();
    QElapsedTimer run;
    run.start();
    while (run.elapsed() < seconds * 1000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
        rssPeak = std::max(rssPeak, RssKiB());
        peakQueue = std::max(peakQueue, nms.Link().BufferedByteCount());
    }
    const double elapsed = double(run.elapsed()) / 1000;
    pbx.Stop();
    const long rss1 = RssKiB();
    const uint32_t read = nms.Link().Socket()->ReadCount();

    std::vector<double> lat = pbx.latenciesMs;
    std::sort(lat.begin(), lat.end());
    auto at = [&lat](double q) {
        return lat.empty() ? 0.0 : lat[std::min(lat.size() - 1, size_t(q * double(lat.size())))];
    };
    std::sort(gaps.begin(), gaps.end());
    auto gapAt = [&gaps](double q) {
        return gaps.empty() ? 0.0 : double(gaps[std::min(gaps.size() - 1, size_t(q * double(gaps.size())))]) / 1e6;
    };
    std::printf("%s, limits %s, %.1f s:\n", plainData ? "data flood" : "negotiation storm", unlimited ? "OFF" : "on",
                elapsed);
    std::printf("    memory: RSS %+ld KiB at the end, peak %+ld KiB\n", rss1 - rss0, rssPeak - rss0);
    std::printf(
        "    PBX lines to the capture file: %zu lines, median %.1f ms, 99th %.1f ms, worst %.1f ms, %d missing\n",
        lat.size(), at(0.5), at(0.99), lat.empty() ? 0.0 : lat.back(), pbx.missing);
    std::printf("    event-loop gaps (1 ms timer): 99th %.1f ms, 99.9th %.1f ms, worst %.1f ms\n", gapAt(0.99),
                gapAt(0.999), gaps.empty() ? 0.0 : double(gaps.back()) / 1e6);
    std::printf(
        "    read from the host %.2f MiB (%.2f MiB/s), host sent %.2f MiB, peak link queue %zu KiB, kept %zu KiB\n",
        double(read) / 1048576, double(read) / 1048576 / elapsed, double(host.sent) / 1048576, peakQueue / 1024,
        nms.NmsPending().size() / 1024);
    port.SetActive(false);
    nms.Stop();
    return 0;
}
