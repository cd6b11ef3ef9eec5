// Loopback figures for TWSocket: connection churn against a listener (file
// descriptors left over, worst event-loop stall) and the throughput of one
// large SendString to a reader in the same event loop.
#include "net/WSocket.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <list>
#include <memory>

namespace {

int OpenDescriptors()
{
    int count = 0;
    for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

void RunUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
}

// Measures how late a 5 ms timer fires: the worst time the loop was busy.
struct StallMeter {
    StallMeter()
    {
        clock.start();
        last = clock.nsecsElapsed();
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            qint64 now = clock.nsecsElapsed();
            worst = std::max(worst, now - last);
            last = now;
        });
        timer.start(5);
    }
    double WorstMs() const { return worst / 1e6; }
    QTimer timer;
    QElapsedTimer clock;
    qint64 last = 0, worst = 0;
};

void Churn(int perSecond, int seconds)
{
    int fdBefore = OpenDescriptors();
    TWSocket srv, served;
    srv.SetAddr("127.0.0.1");
    srv.SetPort("0");
    int accepted = 0;
    srv.OnSessionAvailable = [&](TWSocket* s, uint16_t) {
        served.Dup(s->Accept());
        served.SendString("Busy ! Try later...\r\n");
        served.Close();
        ++accepted;
    };
    srv.Listen();
    std::string port = srv.GetXPort();

    std::list<std::unique_ptr<TWSocket>> clients;
    int started = 0, finished = 0, failed = 0;
    StallMeter meter;
    QTimer tick;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(&tick, &QTimer::timeout, [&] {
        // Keep to the rate even when a tick comes late.
        long due = long(clock.elapsed() * perSecond / 1000);
        while (started < due && started < perSecond * seconds) {
            auto c = std::make_unique<TWSocket>();
            c->OnDataAvailable = [](TWSocket* s, uint16_t) { s->ReceiveString(); };
            c->OnSessionClosed = [&](TWSocket*, uint16_t error) {
                ++finished;
                if (error != 0)
                    ++failed;
            };
            c->SetAddr("127.0.0.1");
            c->SetPort(port);
            c->Connect();
            clients.push_back(std::move(c));
            ++started;
        }
        clients.remove_if([](auto& c) { return c->State() == wsClosed; });
    });
    tick.start(10);
    RunUntil([&] { return started == perSecond * seconds && clients.empty(); }, (seconds + 30) * 1000);
    tick.stop();
    meter.timer.stop();
    double elapsed = clock.elapsed() / 1000.0;
    srv.Close();
    clients.clear();
    RunUntil([] { return false; }, 200);
    int fdAfter = OpenDescriptors();
    std::printf("churn: %d connects in %.1f s (%.0f/s), %d accepted, %d closed (%d with an error)\n", started, elapsed,
                started / elapsed, accepted, finished, failed);
    std::printf("churn: descriptors before %d, after %d (left behind: %d)\n", fdBefore, fdAfter, fdAfter - fdBefore);
    std::printf("churn: worst event-loop stall %.2f ms (5 ms timer)\n", meter.WorstMs());
}

void Throughput(size_t bytes)
{
    TWSocket srv, served, reader;
    srv.SetAddr("127.0.0.1");
    srv.SetPort("0");
    srv.OnSessionAvailable = [&](TWSocket* s, uint16_t) { served.Dup(s->Accept()); };
    srv.Listen();
    size_t received = 0;
    reader.OnDataAvailable = [&](TWSocket* s, uint16_t) {
        static char buf[65536];
        int n = s->Receive(buf, sizeof buf);
        if (n > 0)
            received += size_t(n);
    };
    reader.SetAddr("127.0.0.1");
    reader.SetPort(srv.GetXPort());
    reader.Connect();
    RunUntil([&] { return reader.State() == wsConnected && served.State() == wsConnected; }, 10000);

    std::string text(bytes, 'p');
    StallMeter meter;
    QElapsedTimer clock;
    clock.start();
    served.SendString(text);
    double queuedMs = clock.nsecsElapsed() / 1e6;
    size_t peakQueue = served.BufferedByteCount();
    RunUntil([&] { return received >= bytes; }, 120000);
    double seconds = clock.nsecsElapsed() / 1e9;
    std::printf("throughput: %zu MiB in %.3f s = %.0f MiB/s (SendString returned after %.1f ms with %.1f MiB "
                "queued); worst stall %.2f ms\n",
                bytes >> 20, seconds, (bytes >> 20) / seconds, queuedMs, peakQueue / 1048576.0, meter.WorstMs());
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    Churn(100, seconds);
    Throughput(size_t(256) << 20);
    return 0;
}
