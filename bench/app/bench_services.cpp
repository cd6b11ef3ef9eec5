// The network services under load. A flood of PBX clusters through the receive
// event with a remote viewer and an NMS host reading on other threads: the
// throughput with and without the services, the peaks of every queue, and
// whether all bytes arrived. Then 100 connects and disconnects a second to the
// remote access port for 10 seconds while PBX output goes on: the worst gap
// of the event loop and the file descriptors left afterwards.
#include "app/Unit1.h"
#include "bench/app/BenchSetup.h"
#include "net/TnCnx.h"
#include "net/WSocket.h"
#include "serial/SerialNG.h"
#include "tests/app/FreePort.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTemporaryDir>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dirent.h>
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

long RssKiB()
{
    FILE* f = std::fopen("/proc/self/status", "r");
    long kib = 0;
    char line[256];
    while (f && std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "VmRSS: %ld", &kib) == 1)
            break;
    if (f)
        std::fclose(f);
    return kib;
}

void RunEventsFor(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
}

template <typename Cond>
bool WaitFor(Cond cond, int ms = 10000)
{
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

std::unique_ptr<TForm1> MakeForm()
{
    TForm1Options options = BenchOptions();
    auto form = std::make_unique<TForm1>(options);
    form->show();
    return form;
}

void EnableRemote(TForm1& form, int port)
{
    form.CBoxEnDi->setChecked(true);
    form.EipAddRA->setText(QStringLiteral("127.0.0.1"));
    form.EportRA->setText(QString::number(port));
    form.EpassRA->setText(QStringLiteral("secret"));
    form.EpassRAviewer->setText(QStringLiteral("look"));
    form.ApplyRemoteAccess();
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
    auto form = MakeForm();
    Reader viewer, nms;
    int nmsListener = -1;
    if (services) {
        const int port = FreePort();
        EnableRemote(*form, port);
        int fd = Connect(port);
        send(fd, "look\r", 5, MSG_NOSIGNAL);
        if (!WaitFor([&] { return form->RemoteAuthorised; }))
            std::printf("viewer did not log in\n");
        viewer.Start(fd);

        nmsListener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof sa;
        bind(nmsListener, reinterpret_cast<sockaddr*>(&sa), len);
        getsockname(nmsListener, reinterpret_cast<sockaddr*>(&sa), &len);
        listen(nmsListener, 1);
        form->CBoxTrap->setChecked(true);
        form->EipTrap->setText(QStringLiteral("127.0.0.1"));
        form->EportTrap->setText(QString::number(ntohs(sa.sin_port)));
        form->ApplyNms();
        std::thread accepter([&] { nms.Start(accept(nmsListener, nullptr, nullptr)); });
        WaitFor([&] { return form->TnCnx->State() == wsConnected; });
        accepter.join();
    }
    TSerialPortNG& port = *form->SerialPortNG1;
    const long rss0 = RssKiB();
    size_t peakClient = 0, peakLink = 0, peakPending = 0;
    QElapsedTimer wall, sinceEvents;
    wall.start();
    sinceEvents.start();
    for (size_t pos = 0; pos < text.size(); pos += clusterSize) {
        port.InjectCluster(text.substr(pos, clusterSize));
        if (sinceEvents.elapsed() >= 5) {
            QCoreApplication::processEvents();
            sinceEvents.restart();
            peakClient = std::max(peakClient, form->WCli->BufferedByteCount());
            peakLink = std::max(peakLink, form->TnCnx->BufferedByteCount());
            peakPending = std::max(peakPending, form->NmsPending.size());
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
    form->StopRemoteAccess();
    form->StopNms();
    WaitFor([&] { return viewer.ended && nms.ended; });
    viewer.thread.join();
    nms.thread.join();
    close(nmsListener);
}

void Churn()
{
    auto form = MakeForm();
    const int port = FreePort();
    EnableRemote(*form, port);
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
            form->SerialPortNG1->InjectCluster("EXT 1234 IDLE\r\n");
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
        (long long)worstGap, (long long)p99, form->WSvr->State() == wsListening ? "listening" : "DOWN", fds0,
        OpenDescriptors());
}

}  // namespace

int main(int argc, char** argv)
{
    BenchApplication bench(argc, argv);
    const std::string text = PbxText(20'000'000);
    for (size_t size : {size_t(12), size_t(4096)}) {
        Flood(size, text, false);
        Flood(size, text, true);
    }
    Churn();
    return 0;
}
