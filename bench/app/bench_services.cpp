// The network services under load. A flood of PBX clusters through the receive
// path (display lines and capture file) with a remote viewer and an NMS host
// reading on other threads: the throughput with and without the services, the
// peaks of every queue, and whether all bytes arrived. Then 100 connects and
// disconnects a second to the remote access port for 10 seconds while PBX
// output goes on: the worst gap of the event loop and the file descriptors
// left afterwards. The units are wired as the main window wires them.
#include "bench/app/ProcessProbe.h"
#include "core/NmsForwarder.h"
#include "core/ReceivePath.h"
#include "core/RemoteAccess.h"
#include "net/TnCnx.h"
#include "net/WSocket.h"
#include "tests/WaitUntil.h"
#include "tests/net/FreePort.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

int Connect(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(uint16_t(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval tv{2, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

int OpenDescriptors()
{
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d))
            ++n;
        closedir(d);
    }
    return n - 3;  // ".", ".." and the directory's own descriptor
}

long RssKiB() { return long(ProcessProbe::RssKiB(getpid())); }

void RunEventsFor(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
}

bool WaitFor(const std::function<bool()>& cond, int ms = 10000) { return WaitUntil(cond, ms); }

// What the window's network sub-panel holds; the services read it when they need it.
struct Panel {
    bool remoteEnabled = false;
    TRemoteSettings remote;
    bool nmsEnabled = false;
    TNmsSettings nms;
};

void Report(const std::string& problem) { std::fprintf(stderr, "%s\n", problem.c_str()); }

// The receive path, remote access and NMS forwarding, started as the window starts them.
struct Services {
    Panel panel;
    TReceivePath receive;
    TRemoteAccess remote{{[this] { return panel.remoteEnabled; }, [this] { return panel.remote; },
                          [](const std::string&) {},  // only viewers log in here: nothing goes to the port
                          nullptr, nullptr}};
    TNmsForwarder nms{{[this] { return panel.nmsEnabled; }, [this] { return panel.nms; }, Report}};

    Services()
    {
        receive.OnCaptureProblem = Report;
        receive.SetLineLimit(6000);
        receive.Start();
        receive.OpenCaptureFile();
        remote.Start();
        nms.Start();
    }

    // One cluster from the serial port: the relay and the forwarder see it first.
    void Take(const std::string& text)
    {
        remote.Relay(text);
        nms.Forward(text);
        receive.Take(text);
    }
};

void EnableRemote(Services& services, int port)
{
    services.panel.remoteEnabled = true;
    services.panel.remote = {"127.0.0.1", std::to_string(port), "secret", "look"};
    services.remote.Apply();
}

// A reader on its own thread: counts every byte until the connection ends.
struct Reader {
    std::atomic<size_t> bytes{0};
    std::atomic<bool> ended{false};
    std::thread thread;
    void Start(int fd)
    {
        thread = std::thread([this, fd] {
            std::vector<char> buf(1 << 16);
            for (;;) {
                ssize_t n = recv(fd, buf.data(), buf.size(), 0);
                if (n > 0)
                    bytes += size_t(n);
                else if (n == 0 || errno != EAGAIN)
                    break;
            }
            ended = true;
            close(fd);
        });
    }
};

std::string PbxText(size_t bytes)
{
    std::string text;
    for (unsigned n = 0; text.size() < bytes; ++n)
        text += "EXT " + std::to_string(1000 + n % 9000) + " -> TRUNK " + std::to_string(n % 30) +
                " \xCF\xD0\xC8\xC5\xCC \xFF OK\r\n";
    text.resize(bytes);
    return text;
}

void Flood(size_t clusterSize, const std::string& text, bool services)
{
    auto units = std::make_unique<Services>();
    Reader viewer, nms;
    int nmsListener = -1;
    if (services) {
        const int port = FreePort();
        EnableRemote(*units, port);
        int fd = Connect(port);
        send(fd, "look\r", 5, MSG_NOSIGNAL);
        if (!WaitFor([&] { return units->remote.RemoteAuthorised(); }))
            std::printf("viewer did not log in\n");
        viewer.Start(fd);

        int nmsPort = 0;
        nmsListener = BoundLoopbackSocket(nmsPort);
        listen(nmsListener, 1);
        units->panel.nmsEnabled = true;
        units->panel.nms = {"127.0.0.1", std::to_string(nmsPort)};
        units->nms.Apply();
        std::thread accepter([&] { nms.Start(accept(nmsListener, nullptr, nullptr)); });
        WaitFor([&] { return units->nms.Link().State() == wsConnected; });
        accepter.join();
    }
    const long rss0 = RssKiB();
    size_t peakClient = 0, peakLink = 0, peakPending = 0;
    QElapsedTimer wall, sinceEvents;
    wall.start();
    sinceEvents.start();
    for (size_t pos = 0; pos < text.size(); pos += clusterSize) {
        units->Take(text.substr(pos, clusterSize));
        if (sinceEvents.elapsed() >= 5) {
            QCoreApplication::processEvents();
            sinceEvents.restart();
            peakClient = std::max(peakClient, units->remote.Client().BufferedByteCount());
            peakLink = std::max(peakLink, units->nms.Link().BufferedByteCount());
            peakPending = std::max(peakPending, units->nms.NmsPending().size());
        }
    }
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    const long rssGrowth = RssKiB() - rss0;
    const double mb = double(text.size()) / 1e6;
    std::printf("clusters of %4zu bytes, services %-3s: %6.2f MB/s", clusterSize, services ? "on" : "off",
                mb / seconds);
    if (!services) {
        std::printf(", RSS %+ld KiB\n", rssGrowth);
        return;
    }
    const size_t nmsExpected = text.size() + size_t(std::count(text.begin(), text.end(), '\xFF'));
    const size_t viewerExpected = text.size() + std::strlen("\r\nWelcome to Morvel PBX.\r\nEnter password:") +
                                  std::strlen("\r\nYou have Access as Viewer to PBX.\r\n");
    // Let the readers take the rest, then end both connections.
    WaitFor([&] { return viewer.bytes >= viewerExpected && nms.bytes >= nmsExpected; }, 60000);
    const double drained = double(wall.nsecsElapsed()) / 1e9;
    std::printf(", all delivered after %.2f s; peak queues: viewer %zu KiB, NMS link %zu KiB, NMS kept %zu KiB;"
                " RSS %+ld KiB\n",
                drained, peakClient / 1024, peakLink / 1024, peakPending / 1024, rssGrowth);
    std::printf("    viewer got %zu of %zu bytes, NMS host %zu of %zu\n", size_t(viewer.bytes), viewerExpected,
                size_t(nms.bytes), nmsExpected);
    units->remote.Stop();
    units->nms.Stop();
    WaitFor([&] { return viewer.ended && nms.ended; });
    viewer.thread.join();
    nms.thread.join();
    close(nmsListener);
}

void Churn()
{
    auto units = std::make_unique<Services>();
    const int port = FreePort();
    EnableRemote(*units, port);
    RunEventsFor(100);
    const int fds0 = OpenDescriptors();

    std::atomic<bool> stop{false};
    std::atomic<int> connects{0}, greetings{0}, busy{0}, failures{0};
    std::atomic<bool> holdSession{false};
    std::thread clients([&] {
        auto next = std::chrono::steady_clock::now();
        int holder = -1;
        for (int i = 0; !stop; ++i) {
            next += std::chrono::milliseconds(10);
            std::this_thread::sleep_until(next);
            if (holdSession && holder < 0) {
                holder = Connect(port);
                char buf[128];
                recv(holder, buf, sizeof buf, 0);
                send(holder, "look\r", 5, MSG_NOSIGNAL);
                continue;
            }
            int fd = Connect(port);
            if (fd < 0) {
                ++failures;
                continue;
            }
            ++connects;
            if (i % 2 == 0) {  // every other one leaves at once, unread
                close(fd);
                continue;
            }
            char buf[256];
            ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n > 0 && buf[0] == 'B')
                ++busy;
            else if (n > 0)
                ++greetings;
            close(fd);
        }
        if (holder >= 0)
            close(holder);
    });

    QElapsedTimer run, gapClock, clusterClock;
    run.start();
    gapClock.start();
    clusterClock.start();
    qint64 worstGap = 0;
    std::vector<qint64> gaps;
    int clusters = 0;
    while (run.elapsed() < 10000) {
        holdSession = run.elapsed() > 5000;  // second half: a viewer holds the session, the rest get Busy
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
        const qint64 gap = gapClock.restart();
        worstGap = std::max(worstGap, gap);
        gaps.push_back(gap);
        if (clusterClock.elapsed() >= 10) {
            clusterClock.restart();
            units->Take("EXT 1234 IDLE\r\n");
            ++clusters;
        }
    }
    stop = true;
    while (clients.joinable()) {
        RunEventsFor(50);
        clients.join();
    }
    RunEventsFor(1000);
    std::sort(gaps.begin(), gaps.end());
    const qint64 p99 = gaps.empty() ? 0 : gaps[gaps.size() * 99 / 100];
    std::printf("churn: %d connects in 10 s (%d greeted, %d busy, %d refused), %d clusters displayed meanwhile\n",
                int(connects), int(greetings), int(busy), int(failures), clusters);
    std::printf(
        "    event loop gap: worst %lld ms, 99th percentile %lld ms; listener %s; descriptors %d before, %d after\n",
        (long long)worstGap, (long long)p99, units->remote.Server().State() == wsListening ? "listening" : "DOWN", fds0,
        OpenDescriptors());
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    const std::string text = PbxText(20'000'000);
    for (size_t size : {size_t(12), size_t(4096)}) {
        Flood(size, text, false);
        Flood(size, text, true);
    }
    Churn();
    return 0;
}
