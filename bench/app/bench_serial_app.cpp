// The whole receive road as the operator runs it, beside two peers on the same
// kind of line: morvel-pbx, picocom (no display) and CuteCom (a Qt GUI
// terminal) each read a pseudo-terminal that this benchmark feeds. Every load
// runs each program in turn, three times; figures are medians, and the ratios
// come from the same run, since absolute times drift on a shared machine.
//
//   bench_serial_app [--runs N] [--seconds S] [--flood-mb N] [--loads idle,lines,pieces,flood,long,paint]
//                    [--compare PATH] [--no-peers] [--rules]
//
// --rules gives morvel-pbx ten alarm rules ("Watch.txt"), none matching a call record.
// --compare runs a second morvel-pbx build as "before". Under a real X server
// (DISPLAY set, as bench/app/run_bench_serial_app.sh arranges) the GUI
// programs draw on it; without one morvel-pbx runs offscreen and CuteCom is
// left out. picocom and CuteCom are looked up on PATH.
#include "bench/app/BenchRules.h"
#include "bench/app/ProcessProbe.h"
#include "bench/app/PtyLine.h"
#include "bench/app/WindowWatch.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

enum class Kind { Morvel, Picocom, CuteCom };

struct Program {
    QString Name;
    Kind Type;
    QString Path;
};

struct Settings {
    int Runs = 3;
    int Seconds = 10;
    long long FloodBytes = 50'000'000;
    QStringList Loads{"idle", "lines", "pieces", "flood", "long", "paint"};
    bool Display = !qEnvironmentVariableIsEmpty("DISPLAY");
    bool Rules = false;
};

long long SteadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QThread::msleep(5);
    }
    return true;
}

// PBX call records of 60 to 100 bytes with CR LF, the same sequence every run.
class RecordText {
public:
    std::string Line()
    {
        seed_ = seed_ * 1103515245u + 12345u;
        const size_t length = 60 + (seed_ >> 16) % 41;
        char head[64];
        std::snprintf(head, sizeof head, "CDR %06u 07.12.26 10:%02u:%02u EXT %03u TRK %02u ", n_ % 1000000,
                      n_ / 60 % 60, n_ % 60, 200 + n_ % 80, n_ % 24);
        ++n_;
        std::string line = head;
        while (line.size() < length - 2)
            line += char('A' + (line.size() * 7 + n_) % 26);
        line.resize(length - 2);
        return line + "\r\n";
    }
    // At least bytes of whole lines.
    std::string Lines(size_t bytes)
    {
        std::string text;
        while (text.size() < bytes)
            text += Line();
        return text;
    }

private:
    unsigned seed_ = 12345;
    unsigned n_ = 0;
};

// The capture files only: the time indexes and event logs beside them are not PBX bytes.
qint64 CaptureBytes(const QString& root)
{
    qint64 total = 0;
    for (const QFileInfo& year : QDir(root + "/archive").entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot))
        for (const QFileInfo& month : QDir(year.filePath()).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot))
            for (const QFileInfo& file : QDir(month.filePath()).entryInfoList({"*.CAP"}, QDir::Files))
                total += file.size();
    return total;
}

// One program reading the line, in a data folder of its own.
class Run {
public:
    Run(const Program& program, const PtyLine& line, const Settings& settings) : program_(program)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", dir_.path());
        env.insert("XDG_CONFIG_HOME", dir_.path() + "/.config");
        env.insert("XDG_RUNTIME_DIR", dir_.path());
        if (!settings.Display)
            env.insert("QT_QPA_PLATFORM", "offscreen");
        process_.setProcessEnvironment(env);
        // A session of its own: picocom signals its whole process group as it ends.
        process_.setChildProcessModifier([] { setsid(); });
        process_.setWorkingDirectory(dir_.path());
        const QString port = QString::fromStdString(line.SlavePath());
        switch (program.Type) {
        case Kind::Morvel: {
            QFile settingsFile(dir_.filePath("Setings.ini"));
            settingsFile.open(QIODevice::WriteOnly);
            QByteArray words(30, '\0');
            words[0] = 6;  // 38400 bit/s; port 0 is the --port given
            settingsFile.write(words);
            settingsFile.close();
            if (settings.Rules) {
                QFile rules(dir_.filePath("Watch.txt"));
                rules.open(QIODevice::WriteOnly);
                rules.write(kBenchAlarmRules);
            }
            // A name of its own, so that no other morvel-pbx on the machine counts as this one's twin.
            const QString copy = dir_.filePath("morvel-bench-" + program.Name);
            QFile::copy(program.Path, copy);
            process_.setStandardOutputFile(dir_.filePath("stdout"));
            process_.setStandardErrorFile(dir_.filePath("stderr"));
            Start(copy, {"--port", port});
            break;
        }
        case Kind::Picocom:
            process_.setStandardOutputFile(dir_.filePath("picocom.out"));
            // Standard input stays an open pipe: picocom ends at its end.
            Start(program.Path, {"-q", "--nolock", "-b", "38400", port});
            break;
        case Kind::CuteCom: {
            QDir().mkpath(dir_.path() + "/.config/CuteCom");
            QFile conf(dir_.path() + "/.config/CuteCom/CuteCom5.conf");
            conf.open(QIODevice::WriteOnly);
            conf.write(QStringLiteral("[sessions]\n1\\BaudRate=38400\n1\\DataBits=8\n1\\Device=%1\n1\\FlowControl=0\n"
                                      "1\\OpenMode=3\n1\\Parity=0\n1\\StopBits=1\n1\\autoReconnect=false\n"
                                      "1\\name=Default\n1\\showCtrlCharacters=false\n1\\showTimestamp=false\nsize=1\n")
                           .arg(port)
                           .toUtf8());
            conf.close();
            process_.setStandardOutputFile(dir_.filePath("stdout"));
            process_.setStandardErrorFile(dir_.filePath("stderr"));
            Start(program.Path, {});
            break;
        }
        }
    }
    ~Run()
    {
        process_.terminate();
        if (!process_.waitForFinished(5000))
            process_.kill();
        process_.waitForFinished(5000);
    }

    long long StartedNs() const { return startedNs_; }
    qint64 Pid() const { return process_.processId(); }
    QString Dir() const { return dir_.path(); }
    bool Alive() const { return process_.state() == QProcess::Running; }

    // Gives the program time to settle; CuteCom opens its port by its Open button (Alt+O).
    bool Settle()
    {
        if (program_.Type == Kind::CuteCom) {
            QProcess find;
            find.start("xdotool",
                       {"search", "--sync", "--limit", "1", "--pid", QString::number(Pid()), "--name", "^CuteCom - "});
            if (!find.waitForFinished(15000))
                return false;
            const QString window = QString::fromLatin1(find.readAllStandardOutput()).trimmed();
            QProcess::execute("xdotool", {"windowfocus", "--sync", window, "key", "alt+o"});
        }
        QThread::sleep(2);
        return Alive();
    }

private:
    void Start(const QString& path, const QStringList& args)
    {
        startedNs_ = SteadyNs();
        process_.start(path, args);
        process_.waitForStarted();
    }

    const Program& program_;
    QTemporaryDir dir_;
    QProcess process_;
    long long startedNs_ = 0;
};

double Median(std::vector<double> v)
{
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// figure name -> program name -> one value per run
using Figures = std::map<QString, std::map<QString, std::vector<double>>>;

void Print(const char* title, const Figures& figures, const std::vector<Program>& programs)
{
    std::printf("\n%s\n  %-28s", title, "");
    for (const Program& p : programs)
        std::printf(" %12s", qPrintable(p.Name));
    std::printf("   ratios to morvel-pbx\n");
    for (const auto& [figure, byProgram] : figures) {
        std::printf("  %-28s", qPrintable(figure));
        const double ours = byProgram.count("morvel-pbx") ? Median(byProgram.at("morvel-pbx")) : -1;
        QString ratios;
        for (const Program& p : programs) {
            const double value = byProgram.count(p.Name) ? Median(byProgram.at(p.Name)) : -1;
            if (value < 0)
                std::printf(" %12s", "-");
            else
                std::printf(" %12.3f", value);
            if (p.Name != "morvel-pbx" && value > 0 && ours >= 0)
                ratios += QStringLiteral("  /%1 %2").arg(p.Name).arg(ours / value, 0, 'f', 2);
        }
        std::printf("  %s\n", qPrintable(ratios));
    }
}

// A steady load: CPU share and switches per second over the measured seconds.
void SteadyLoad(const char* title, const Settings& s, const std::vector<Program>& programs,
                const std::function<std::function<std::string()>()>& feed)
{
    Figures figures;
    for (int r = 0; r < s.Runs; ++r)
        for (const Program& p : programs) {
            PtyLine line;
            Run run(p, line, s);
            if (feed)
                line.Feed(feed(), 3840);
            if (!run.Settle()) {
                std::printf("  %s did not start\n", qPrintable(p.Name));
                continue;
            }
            const ProcessUse before = ProcessProbe::Sample(run.Pid());
            const long long t0 = SteadyNs();
            QThread::sleep(unsigned(s.Seconds));
            const ProcessUse after = ProcessProbe::Sample(run.Pid());
            const double seconds = double(SteadyNs() - t0) / 1e9;
            figures["CPU % of a core"][p.Name].push_back((after.CpuSeconds - before.CpuSeconds) / seconds * 100);
            figures["switches per second"][p.Name].push_back(double(after.Switches - before.Switches) / seconds);
            figures["RSS MiB"][p.Name].push_back(double(after.RssKiB) / 1024);
            if (feed && line.Waiting() > 4096)
                std::printf("  %s left %d bytes unread\n", qPrintable(p.Name), line.Waiting());
        }
    Print(title, figures, programs);
}

void Flood(const Settings& s, const std::vector<Program>& programs)
{
    Figures figures;
    for (int r = 0; r < s.Runs; ++r)
        for (const Program& p : programs) {
            PtyLine line;
            Run run(p, line, s);
            if (!run.Settle())
                continue;
            const ProcessUse before = ProcessProbe::Sample(run.Pid());
            auto text = std::make_shared<RecordText>();
            auto left = std::make_shared<long long>(s.FloodBytes);
            const long long t0 = SteadyNs();
            line.Feed(
                [text, left] {
                    if (*left <= 0)
                        return std::string();
                    std::string chunk = text->Lines(size_t(std::min<long long>(*left, 65536)));
                    *left -= (long long)chunk.size();
                    return chunk;
                },
                0);
            const bool ours = p.Type == Kind::Morvel;
            const bool done = WaitUntil(
                [&] {
                    return !line.Feeding() && line.Waiting() == 0 &&
                           (!ours || CaptureBytes(run.Dir()) >= line.Written());
                },
                900000);
            const double seconds = double(SteadyNs() - t0) / 1e9;
            const ProcessUse after = ProcessProbe::Sample(run.Pid());
            const double mb = double(line.Written()) / 1e6;
            if (!done)
                std::printf("  %s: the flood did not finish\n", qPrintable(p.Name));
            figures["MB/s"][p.Name].push_back(mb / seconds);
            figures["CPU ms per MB"][p.Name].push_back((after.CpuSeconds - before.CpuSeconds) * 1000 / mb);
            figures["peak RSS MiB"][p.Name].push_back(double(after.PeakRssKiB) / 1024);
            if (ours)
                figures["capture bytes missing"][p.Name].push_back(double(line.Written() - CaptureBytes(run.Dir())));
        }
    Print("flood into display and capture file", figures, programs);
}

// One line of floodBytes without a line end, then its end and one more line.
void LongLine(const Settings& s, const std::vector<Program>& programs)
{
    Figures figures;
    for (int r = 0; r < s.Runs; ++r)
        for (const Program& p : programs) {
            if (p.Type != Kind::Morvel)
                continue;
            PtyLine line;
            Run run(p, line, s);
            if (!run.Settle())
                continue;
            const ProcessUse before = ProcessProbe::Sample(run.Pid());
            auto left = std::make_shared<long long>(s.FloodBytes);
            const long long t0 = SteadyNs();
            line.Feed(
                [left] {
                    if (*left <= 0)
                        return std::string();
                    std::string chunk(size_t(std::min<long long>(*left, 65536)), 'x');
                    for (size_t i = 0; i < chunk.size(); ++i)
                        chunk[i] = char('!' + (i * 13 + size_t(*left)) % 90);
                    *left -= (long long)chunk.size();
                    return chunk;
                },
                0);
            WaitUntil([&] { return !line.Feeding() && line.Waiting() == 0; }, 900000);
            const double seconds = double(SteadyNs() - t0) / 1e9;
            const ProcessUse taken = ProcessProbe::Sample(run.Pid());
            const std::string end = "\r\nNEXT LINE\r\n";
            const long long expected = line.Written() + (long long)end.size();
            const long long t1 = SteadyNs();
            line.Feed([end, sent = false]() mutable { return std::exchange(sent, true) ? std::string() : end; }, 0);
            WaitUntil([&] { return CaptureBytes(run.Dir()) >= expected; }, 120000);
            const double nextMs = double(SteadyNs() - t1) / 1e6;
            const ProcessUse after = ProcessProbe::Sample(run.Pid());
            const double mb = double(s.FloodBytes) / 1e6;
            figures["MB/s taken"][p.Name].push_back(mb / seconds);
            figures["CPU ms per MB"][p.Name].push_back((taken.CpuSeconds - before.CpuSeconds) * 1000 / mb);
            figures["memory growth / line size"][p.Name].push_back(double(after.PeakRssKiB - before.RssKiB) * 1024 /
                                                                   double(s.FloodBytes));
            figures["next line in capture, ms"][p.Name].push_back(nextMs);
        }
    Print("one line of the flood's size without a line end", figures, programs);
}

void FirstPaint(const Settings& s, const std::vector<Program>& programs)
{
    WindowWatch watch;
    if (!watch.Available()) {
        std::printf("\nfirst paint: needs a display and the DAMAGE extension; left out\n");
        return;
    }
    Figures figures;
    for (int r = -1; r < s.Runs; ++r)  // run -1 warms the caches
        for (const Program& p : programs) {
            if (p.Type == Kind::Picocom)
                continue;
            PtyLine line;
            watch.Arm();
            Run run(p, line, s);
            const WindowWatch::Times t = watch.Wait(run.StartedNs(), 10000);
            if (r < 0)
                continue;
            figures["window mapped, ms"][p.Name].push_back(t.MappedMs);
            figures["first paint, ms"][p.Name].push_back(t.PaintedMs);
        }
    Print("start: from the program's start (warm cache)", figures, programs);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    Settings s;
    std::vector<Program> programs{{"morvel-pbx", Kind::Morvel, QStringLiteral(MORVEL_PBX_PATH)}};
    bool peers = true;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        const QString a = args[i];
        const QString value = i + 1 < args.size() ? args[i + 1] : QString();
        if (a == "--runs")
            s.Runs = value.toInt(), ++i;
        else if (a == "--seconds")
            s.Seconds = value.toInt(), ++i;
        else if (a == "--flood-mb")
            s.FloodBytes = value.toLongLong() * 1'000'000, ++i;
        else if (a == "--loads")
            s.Loads = value.split(','), ++i;
        else if (a == "--compare")
            programs.push_back({"before", Kind::Morvel, value}), ++i;
        else if (a == "--no-peers")
            peers = false;
        else if (a == "--rules")
            s.Rules = true;
        else {
            std::fprintf(stderr, "unknown argument %s\n", qPrintable(a));
            return 2;
        }
    }
    if (peers) {
        const QString picocom = QStandardPaths::findExecutable("picocom");
        const QString cutecom = QStandardPaths::findExecutable("cutecom");
        if (!picocom.isEmpty())
            programs.push_back({"picocom", Kind::Picocom, picocom});
        if (!cutecom.isEmpty() && s.Display && !QStandardPaths::findExecutable("xdotool").isEmpty())
            programs.push_back({"cutecom", Kind::CuteCom, cutecom});
    }
    std::printf("programs:");
    for (const Program& p : programs)
        std::printf(" %s", qPrintable(p.Name));
    std::printf("; %s; medians of %d runs, %d s each%s\n", s.Display ? "on the X display" : "offscreen", s.Runs,
                s.Seconds, s.Rules ? "; ten alarm rules" : "");

    auto lines = [] {
        auto text = std::make_shared<RecordText>();
        return std::function<std::string()>([text] { return text->Line(); });
    };
    auto pieces = [] {
        auto text = std::make_shared<RecordText>();
        auto rest = std::make_shared<std::string>();
        return std::function<std::string()>([text, rest] {
            while (rest->size() < 16)
                *rest += text->Line();
            std::string piece = rest->substr(0, 16);
            rest->erase(0, 16);
            return piece;
        });
    };
    if (s.Loads.contains("idle"))
        SteadyLoad("idle, port open, no data", s, programs, nullptr);
    if (s.Loads.contains("lines"))
        SteadyLoad("3840 B/s of 60-100-byte lines (38400 bit/s)", s, programs, lines);
    if (s.Loads.contains("pieces"))
        SteadyLoad("3840 B/s in 16-byte pieces", s, programs, pieces);
    if (s.Loads.contains("flood"))
        Flood(s, programs);
    if (s.Loads.contains("long"))
        LongLine(s, programs);
    if (s.Loads.contains("paint"))
        FirstPaint(s, programs);
    return 0;
}
