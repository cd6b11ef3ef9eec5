#include "tests/serial/PtyFixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cerrno>
#include <fcntl.h>
#include <stdexcept>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

bool WaitUntil(const std::function<bool()>& cond, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > timeoutMs)
            return cond();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        usleep(1000);
    }
    return true;
}

void SpinFor(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        usleep(1000);
    }
}

Pty::Pty()
{
    Fd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (Fd < 0 || grantpt(Fd) != 0 || unlockpt(Fd) != 0)
        throw std::runtime_error("no pseudo-terminal");
    Path = ptsname(Fd);
}

Pty::~Pty() { CloseMaster(); }

void Pty::Write(const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(Fd, bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += size_t(n);
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            throw std::runtime_error("pty write failed");
        else
            usleep(1000);
    }
}

std::string Pty::ReadAvailable()
{
    std::string out;
    char buf[4096];
    for (;;) {
        ssize_t n = read(Fd, buf, sizeof buf);
        if (n <= 0)
            return out;
        out.append(buf, size_t(n));
    }
}

void Pty::CloseMaster()
{
    if (Fd >= 0)
        close(Fd);
    Fd = -1;
}

Recorder::Recorder(TSerialPortNG& port)
{
    port.OnProcessError = [this](TSerialPortNG*, uint32_t place, uint32_t code, const std::string& msg, uint8_t noise) {
        Reports.push_back({place, code, msg, noise});
    };
    port.OnRxClusterEvent = [this](TSerialPortNG* sender) {
        SizeAtEvent.push_back(sender->QueuedClusterSize());
        Clusters.push_back(sender->PopClusterText());
    };
}

std::string Recorder::Received() const
{
    std::string all;
    for (const auto& c : Clusters)
        all += c;
    return all;
}

std::vector<uint32_t> Recorder::Places() const
{
    std::vector<uint32_t> places;
    for (const auto& r : Reports)
        places.push_back(r.Place);
    return places;
}

int Recorder::Count(uint32_t place) const
{
    int n = 0;
    for (const auto& r : Reports)
        n += r.Place == place;
    return n;
}

void SerialTest::SetUp()
{
    Port = std::make_unique<TSerialPortNG>();
    Rec = std::make_unique<Recorder>(*Port);
}

void SerialTest::TearDown()
{
    Port.reset();
    Rec.reset();
}

void SerialTest::Open()
{
    Port->SetClusterSize(12);
    Port->SetCommPort(Line.SlavePath());
    Port->SetActive(true);
    ASSERT_TRUE(Port->Active());
}

double ProcessCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}
