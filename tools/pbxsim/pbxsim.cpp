// pbxsim: a stand-in for the maintenance port of a Morvel PBX on a
// pseudo-terminal. Prints the slave's path on its first output line.
//
//   pbxsim [--link PATH] [--period MS] [--flood BYTES_PER_SEC --flood-bytes N] [--exit-after-flood]
//          [--transcript FILE]
//   pbxsim --backfill DAYS [--data-folder DIR] [--day-bytes N]
//
// It echoes what it receives, answers "help", "ver", "stat", "dis ext",
// "dis alm", "alarm" (a critical alarm now), "silent" and "resume" (the
// periodic output stops and starts again), and prints alarm and call-record lines every --period ms (0: none;
// some in Windows-1251 Cyrillic, some ended by LF alone). --flood sends N bytes
// of call records at the given rate (0: as fast as the reader takes them).
// --transcript keeps a copy of every byte sent to the terminal, for tests.
// --backfill writes the capture archive of the DAYS before today into DIR
// (default: the working directory), about N bytes a day, and ends.
#include "Backfill.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t gStop = 0;
void OnSignal(int) { gStop = 1; }

using Clock = std::chrono::steady_clock;

struct Options {
    std::string Link;
    long PeriodMs = 3000;
    long FloodRate = -1;  // bytes per second; -1: no flood
    long long FloodBytes = 0;
    bool ExitAfterFlood = false;
    std::string Transcript;
    BackfillOptions Backfill;
};

[[noreturn]] void Usage()
{
    std::fprintf(stderr, "usage: pbxsim [--link PATH] [--period MS] [--flood BYTES_PER_SEC --flood-bytes N] "
                         "[--exit-after-flood] [--transcript FILE]\n"
                         "       pbxsim --backfill DAYS [--data-folder DIR] [--day-bytes N]\n");
    std::exit(2);  // NOLINT(concurrency-mt-unsafe): no other thread runs yet
}

Options ParseOptions(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                Usage();
            return argv[++i];
        };
        if (a == "--link")
            o.Link = value();
        else if (a == "--period")
            o.PeriodMs = std::atol(value().c_str());
        else if (a == "--flood")
            o.FloodRate = std::atol(value().c_str());
        else if (a == "--flood-bytes")
            o.FloodBytes = std::atoll(value().c_str());
        else if (a == "--exit-after-flood")
            o.ExitAfterFlood = true;
        else if (a == "--transcript")
            o.Transcript = value();
        else if (a == "--backfill")
            o.Backfill.Days = std::atoi(value().c_str());
        else if (a == "--data-folder")
            o.Backfill.DataFolder = value();
        else if (a == "--day-bytes")
            o.Backfill.DayBytes = std::strtoull(value().c_str(), nullptr, 10);
        else
            Usage();
    }
    return o;
}

// "Авария" (alarm), "Линия" (line), "Повикване" (call) in Windows-1251.
const char kAlarmCyr[] = "\xC0\xE2\xE0\xF0\xE8\xFF";
const char kLineCyr[] = "\xCB\xE8\xED\xE8\xFF";
const char kCallCyr[] = "\xCF\xEE\xE2\xE8\xEA\xE2\xE0\xED\xE5";

std::string Stamp()
{
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%d.%m.%y %H:%M:%S", &tm);
    return buf;
}

std::string CallRecord(unsigned long n)
{
    char buf[128];
    std::snprintf(buf, sizeof buf, "CDR %06lu %s EXT %03lu TRK %02lu DUR %04lu NUM 0%09lu", n, Stamp().c_str(),
                  200 + n % 80, n % 24, (n * 37) % 3600, 2000000ul + n * 7919ul % 1000000ul);
    return buf;
}

class Pbx {
public:
    void Received(const char* data, size_t n)
    {
        for (size_t i = 0; i < n; ++i) {
            char c = data[i];
            if (c == '\r' || c == '\n') {
                if (c == '\r' || !LastWasCr)
                    Command();
                LastWasCr = c == '\r';
                continue;
            }
            LastWasCr = false;
            Out.push_back(c);  // echo
            if (c == '\b' || c == 0x7F) {
                if (!Line.empty())
                    Line.pop_back();
            } else if (Line.size() < 200) {
                Line.push_back(c);
            }
        }
    }

    void Periodic()
    {
        if (Silent)
            return;
        ++Tick;
        std::string line;
        switch (Tick % 4) {
        case 0:
            line = "ALM " + Stamp() + " MINOR TRK 03 " + kLineCyr + " 3 " + kAlarmCyr;
            break;
        case 1:
            line = CallRecord(Tick);
            break;
        case 2:
            line = "ALM " + Stamp() + " MAJOR PSU 1 FAN FAIL";
            break;
        default:
            line = std::string(kCallCyr) + " " + CallRecord(Tick);
            break;
        }
        // Some lines end with LF alone, as an older shelf does.
        Emit(line, Tick % 3 != 0);
    }

    void Emit(const std::string& line, bool crlf = true)
    {
        if (Out.size() > (1u << 20))
            return;  // nobody is reading: drop rather than grow without end
        Out += line;
        Out += crlf ? "\r\n" : "\n";
    }

    std::string Out;

private:
    void Command()
    {
        std::string cmd = Line;
        Line.clear();
        Out += "\r\n";
        cmd.erase(0, cmd.find_first_not_of(' '));
        cmd.erase(cmd.find_last_not_of(' ') + 1);
        std::transform(cmd.begin(), cmd.end(), cmd.begin(), [](unsigned char c) { return std::tolower(c); });
        if (cmd.empty()) {
        } else if (cmd == "help") {
            Emit("COMMANDS:");
            Emit("  HELP      this list");
            Emit("  VER       software version");
            Emit("  STAT      system status");
            Emit("  DIS EXT   extension table");
            Emit("  DIS ALM   active alarms");
            Emit("  ALARM     raise a critical alarm now");
            Emit("  SILENT    stop the periodic output (a quiet line)");
            Emit("  RESUME    start it again");
        } else if (cmd == "ver") {
            Emit("MORVEL MX-2000 MAINTENANCE PORT");
            Emit("SW 4.12.07  BUILD 2003-11-18", false);
            Emit("HW SHELF A REV C");
        } else if (cmd == "stat") {
            Emit("SYSTEM STATUS " + Stamp());
            Emit("  CPU LOAD   12%");
            Emit("  TRUNKS     24 IN SERVICE, 0 BLOCKED");
            Emit("  EXTENSIONS 80 CONFIGURED, 3 BUSY", false);
            Emit("  ALARMS     1 MINOR");
        } else if (cmd == "dis ext") {
            Emit("EXT  CLASS  STATE   NAME");
            for (int i = 0; i < 8; ++i) {
                char buf[96];
                std::snprintf(buf, sizeof buf, "%03d  %-5s  %-6s  %s %d", 200 + i, i % 3 ? "STD" : "EXEC",
                              i == 2 ? "BUSY" : "IDLE", kLineCyr, i + 1);
                Emit(buf, i % 2 == 0);
            }
            Emit("END OF TABLE");
        } else if (cmd == "alarm") {
            Emit("ALM " + Stamp() + " CRITICAL SHELF A POWER SUPPLY FAILURE");
        } else if (cmd == "silent") {
            Silent = true;
            Emit("PERIODIC OUTPUT STOPPED");
        } else if (cmd == "resume") {
            Silent = false;
            Emit("PERIODIC OUTPUT RESUMED");
        } else if (cmd == "dis alm") {
            Emit(std::string("ALM MINOR TRK 03 ") + kAlarmCyr);
            Emit("END OF ALARMS");
        } else {
            Emit("?? UNKNOWN COMMAND: " + cmd);
        }
        Emit(">", false);
    }

    std::string Line;
    bool LastWasCr = false;
    unsigned long Tick = 0;
    bool Silent = false;
};

void MakeRaw(int fd)
{
    termios t{};
    if (tcgetattr(fd, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    const Options opt = ParseOptions(argc, argv);
    if (opt.Backfill.Days > 0) {
        const int written = Backfill(opt.Backfill);
        if (written < 0)
            return 1;
        std::printf("%d days written\n", written);
        return 0;
    }
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGHUP, OnSignal);
    std::signal(SIGPIPE, SIG_IGN);

    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("pbxsim: posix_openpt");
        return 1;
    }
    char slaveName[256];
    if (ptsname_r(master, slaveName, sizeof slaveName) != 0) {
        std::perror("pbxsim: ptsname");
        return 1;
    }
    const std::string slavePath = slaveName;
    // Our own slave descriptor keeps the pty alive while the terminal closes and reopens it.
    int keeper = open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (keeper < 0) {
        std::perror("pbxsim: open slave");
        return 1;
    }
    MakeRaw(keeper);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    if (!opt.Link.empty()) {
        unlink(opt.Link.c_str());
        if (symlink(slavePath.c_str(), opt.Link.c_str()) != 0) {
            std::perror("pbxsim: symlink");
            return 1;
        }
    }
    std::printf("%s\n", slavePath.c_str());
    std::fflush(stdout);

    std::FILE* transcript = nullptr;
    if (!opt.Transcript.empty() && !(transcript = std::fopen(opt.Transcript.c_str(), "wb"))) {
        std::perror("pbxsim: transcript");
        return 1;
    }
    auto sent = [transcript](const char* data, ssize_t n) {
        if (transcript && n > 0) {
            std::fwrite(data, 1, size_t(n), transcript);
            std::fflush(transcript);
        }
    };

    Pbx pbx;
    std::string flood;
    long long floodLeft = opt.FloodRate >= 0 ? opt.FloodBytes : 0;
    unsigned long floodRecord = 0;
    double floodCredit = 0;
    auto last = Clock::now();
    auto nextPeriodic = last + std::chrono::milliseconds(opt.PeriodMs);
    char buf[65536];

    while (!gStop) {
        const auto now = Clock::now();
        if (opt.PeriodMs > 0 && now >= nextPeriodic) {
            pbx.Periodic();
            nextPeriodic = now + std::chrono::milliseconds(opt.PeriodMs);
        }
        if (floodLeft > 0) {
            floodCredit += std::chrono::duration<double>(now - last).count() * double(opt.FloodRate);
            const size_t room = sizeof buf;
            size_t want = opt.FloodRate == 0 ? room : size_t(std::min<double>(floodCredit, double(room)));
            while (flood.size() < want && (long long)flood.size() < floodLeft)
                flood += CallRecord(++floodRecord) + "\r\n";
            want = size_t(std::min<long long>({(long long)want, floodLeft, (long long)flood.size()}));
            if (want > 0) {
                ssize_t n = write(master, flood.data(), want);
                sent(flood.data(), n);
                if (n > 0) {
                    flood.erase(0, size_t(n));
                    floodLeft -= n;
                    floodCredit -= double(n);
                }
            }
            if (opt.FloodRate == 0)
                floodCredit = 0;
        } else if (opt.ExitAfterFlood && opt.FloodRate >= 0) {
            // Leave once the terminal has taken everything: closing the master drops unread input.
            int waiting = 0;
            if (ioctl(keeper, FIONREAD, &waiting) != 0 || waiting == 0)
                break;
        }
        last = now;
        if (!pbx.Out.empty()) {
            ssize_t n = write(master, pbx.Out.data(), pbx.Out.size());
            sent(pbx.Out.data(), n);
            if (n > 0)
                pbx.Out.erase(0, size_t(n));
        }

        pollfd p{master, POLLIN, 0};
        if (!pbx.Out.empty() || (floodLeft > 0 && opt.FloodRate == 0))
            p.events |= POLLOUT;
        int timeout = 200;
        if (opt.PeriodMs > 0)
            timeout = int(std::clamp<long long>(
                std::chrono::duration_cast<std::chrono::milliseconds>(nextPeriodic - Clock::now()).count(), 0, 200));
        if (floodLeft > 0 && opt.FloodRate > 0)
            timeout = std::min(timeout, 10);
        if (opt.ExitAfterFlood && floodLeft == 0)
            timeout = std::min(timeout, 10);
        if (poll(&p, 1, timeout) < 0 && errno != EINTR)
            break;
        if (p.revents & POLLIN) {
            ssize_t n = read(master, buf, sizeof buf);
            if (n > 0)
                pbx.Received(buf, size_t(n));
        }
    }
    if (!opt.Link.empty())
        unlink(opt.Link.c_str());
    if (transcript)
        std::fclose(transcript);
    close(keeper);
    close(master);
    return 0;
}
