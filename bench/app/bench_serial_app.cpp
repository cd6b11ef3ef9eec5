// The whole receive road as the operator runs it: the PBX simulator on a
// pseudo-terminal and morvel-pbx (offscreen) reading it into the display and
// the capture file. Prints the program's CPU use when idle and at 38400 bit/s,
// and flood throughput beside a raw copy through the same kind of pty.
#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <functional>
#include <unistd.h>

namespace {

// User plus system CPU seconds of a process, from /proc.
double CpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return double(fields.value(11).toLongLong() + fields.value(12).toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

struct Process : QProcess {
    ~Process() override
    {
        terminate();
        if (!waitForFinished(5000))
            kill();
        waitForFinished(5000);
    }
};

QString StartSimulator(Process& sim, const QStringList& args)
{
    sim.start(QStringLiteral(PBXSIM_PATH), args);
    sim.waitForStarted();
    sim.waitForReadyRead(10000);
    return QString::fromLocal8Bit(sim.readLine().trimmed());
}

void StartTerminal(Process& terminal, const QString& port)
{
    QFile settings("Setings.ini");
    settings.open(QIODevice::WriteOnly | QIODevice::Truncate);
    settings.write(QByteArray(30, '\0'));  // port 0: the simulator's
    settings.close();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    terminal.setProcessEnvironment(env);
    terminal.start(QStringLiteral(MORVEL_PBX_PATH), {"--port", port});
    terminal.waitForStarted();
}

qint64 CaptureBytes()
{
    qint64 total = 0;
    for (const QFileInfo& year : QDir("archive").entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot))
        for (const QFileInfo& month : QDir(year.filePath()).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot))
            for (const QFileInfo& file : QDir(month.filePath()).entryInfoList(QDir::Files))
                total += file.size();
    return total;
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QThread::msleep(10);
    }
    return true;
}

void Load(const char* what, const QStringList& simArgs, int seconds)
{
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    Process sim, terminal;
    StartTerminal(terminal, StartSimulator(sim, simArgs));
    QThread::sleep(2);
    const double cpu0 = CpuSeconds(terminal.processId());
    const qint64 bytes0 = CaptureBytes();
    QElapsedTimer wall;
    wall.start();
    QThread::sleep(unsigned(seconds));
    const double share = (CpuSeconds(terminal.processId()) - cpu0) / (double(wall.elapsed()) / 1000) * 100;
    std::printf("%-42s %6.2f%% of a core (%lld bytes captured)\n", what, share,
                static_cast<long long>(CaptureBytes() - bytes0));
}

void Flood(qint64 bytes)
{
    const double mb = double(bytes) / 1e6;
    double seconds = 0;
    {
        QTemporaryDir dir;
        QDir::setCurrent(dir.path());
        Process sim, terminal;
        const QString port =
            StartSimulator(sim, {"--period", "0", "--flood", "0", "--flood-bytes", QString::number(bytes)});
        QElapsedTimer wall;
        wall.start();
        StartTerminal(terminal, port);
        // The flood's last line stays open in the display, unwritten.
        if (!WaitUntil([&] { return CaptureBytes() >= bytes - 256; }, 600000))
            std::printf("flood: only %lld bytes arrived\n", static_cast<long long>(CaptureBytes()));
        seconds = double(wall.elapsed()) / 1000;
        std::printf("flood into display and capture file:        %7.1f MB/s, %6.1f ms CPU per MB\n", mb / seconds,
                    CpuSeconds(terminal.processId()) * 1000 / mb);
    }
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    Process sim, cat;
    const QString port =
        StartSimulator(sim, {"--period", "0", "--flood", "0", "--flood-bytes", QString::number(bytes)});
    cat.setStandardOutputFile(dir.filePath("raw.out"));
    QElapsedTimer wall;
    wall.start();
    cat.start("cat", {port});
    WaitUntil([&] { return QFileInfo(dir.filePath("raw.out")).size() >= bytes; }, 600000);
    const double rawSeconds = double(wall.elapsed()) / 1000;
    std::printf("raw cat copy through a pty:                 %7.1f MB/s, %6.1f ms CPU per MB; terminal/raw %.2f\n",
                mb / rawSeconds, CpuSeconds(cat.processId()) * 1000 / mb, rawSeconds > 0 ? rawSeconds / seconds : 0);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    Load("idle, port open, no data:", {"--period", "0"}, 10);
    Load("38400 bit/s of PBX text (3840 bytes/s):", {"--period", "0", "--flood", "3840", "--flood-bytes", "1000000000"},
         10);
    Flood(50'000'000);
    return 0;
}
