// Search across a year of capture files. pbxsim --backfill writes DISTINCT
// days of MB megabytes each (capture file and time index); the year is 365
// days of hard links to them, so it holds 365 x MB of capture files while the
// disk holds only the distinct days (and the page cache can keep them: this
// measures the search, not the disk). Peers in the same run: grep -c over the
// same 365 files with the same pattern (into a file: grep stops at the first
// match when its output is /dev/null), and cat to /dev/null.
//   bench_archive_search [MB [DISTINCT [DIR]]]   (50 MB, 7 days, a temporary folder)
#include "core/ArchiveSearch.h"
#include "core/CaptureNames.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

double Seconds(const QElapsedTimer& timer) { return double(timer.nsecsElapsed()) / 1e9; }

// This process's processor time, and its children's: the machine may be shared.
double CpuSeconds(int who = RUSAGE_SELF)
{
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct TTimes {
    double Wall = 0, Cpu = 0;
};

// Runs a shell line over the year's files: its clock and processor seconds.
TTimes Shell(const QString& folder, const QString& line)
{
    const double cpu = CpuSeconds(RUSAGE_CHILDREN);
    QElapsedTimer timer;
    timer.start();
    QProcess shell;
    shell.setWorkingDirectory(folder);
    shell.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), line});
    shell.waitForFinished(-1);
    return {Seconds(timer), CpuSeconds(RUSAGE_CHILDREN) - cpu};
}

}  // namespace

int main(int argc, char** argv)
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    const long megabytes = argc > 1 ? std::atol(argv[1]) : 50;
    const int distinct = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    QTemporaryDir temporary;
    const QString base = argc > 3 ? QString::fromLocal8Bit(argv[3]) : temporary.path();
    const QString source = base + "/distinct", year = base + "/year";

    QProcess pbxsim;
    pbxsim.start(QStringLiteral(PBXSIM_PATH), {"--backfill", QString::number(distinct), "--data-folder", source,
                                               "--day-bytes", QString::number(megabytes << 20)});
    if (!pbxsim.waitForFinished(-1) || pbxsim.exitCode() != 0) {
        std::fprintf(stderr, "pbxsim --backfill failed: %s\n", pbxsim.readAllStandardError().constData());
        return 1;
    }
    std::vector<QString> days;
    for (const QDate& day : CaptureDays((source + "/archive").toStdString()))
        days.push_back(
            source + "/" +
            QString::fromStdString(CaptureDirectory(unsigned(day.year()), unsigned(day.month())) +
                                   CaptureName(unsigned(day.year()), unsigned(day.month()), unsigned(day.day()))));
    if (days.empty())
        return 1;
    // 2025, day by day, each a hard link to one of the distinct days and its index.
    QDir(year).removeRecursively();
    qint64 bytes = 0;
    const QDate first(2025, 1, 1);
    for (int i = 0; i < 365; ++i) {
        const QDate day = first.addDays(i);
        const auto y = unsigned(day.year()), m = unsigned(day.month()), d = unsigned(day.day());
        const QString folder = year + "/" + QString::fromStdString(CaptureDirectory(y, m));
        QDir().mkpath(folder);
        const QString from = days[size_t(i) % days.size()];
        const QString to = folder + QString::fromStdString(CaptureName(y, m, d));
        if (::link(from.toLocal8Bit().constData(), to.toLocal8Bit().constData()) != 0 ||
            ::link((from.chopped(4) + ".TIM").toLocal8Bit().constData(),
                   (to.chopped(4) + ".TIM").toLocal8Bit().constData()) != 0) {
            std::perror("link");
            return 1;
        }
        bytes += QFile(to).size();
    }
    const std::string root = (year + "/archive").toStdString();
    std::printf("a year: 365 days of %ld MB (%.1f GB of capture files, %d distinct days hard-linked)\n", megabytes,
                double(bytes) / 1e9, distinct);
    Shell(year, "cat archive/*/*/*.CAP > /dev/null");  // into the page cache
    const TTimes cat = Shell(year, "cat archive/*/*/*.CAP > /dev/null");
    std::printf("  %-30s %6.2f s (processor %6.2f s)  %6.0f MB/s\n", "cat > /dev/null (peer)", cat.Wall, cat.Cpu,
                double(bytes) / 1e6 / cat.Wall);

    struct TCase {
        const char* Name;
        QString Pattern;
        bool Regex, MatchCase;
        const char* Grep;
    };
    const TCase cases[] = {
        {"text, any case, rare", QStringLiteral("critical trk 07"), false, false, "grep -c -i -F 'critical trk 07'"},
        {"text, any case, common", QStringLiteral("trk 07"), false, false, "grep -c -i -F 'trk 07'"},
        {"text, match case, Cyrillic", QStringLiteral("Транк 07"), false, true, nullptr},
        {"regular expression", QStringLiteral("CRITICAL TRK 0[57]"), true, true, "grep -c -E 'CRITICAL TRK 0[57]'"},
    };
    for (const TCase& test : cases) {
        const double cpu = CpuSeconds();
        QElapsedTimer timer;
        timer.start();
        const size_t hits =
            SearchArchive(root, {QDate(2025, 1, 1), QDate(2025, 12, 31), test.Pattern, test.Regex, test.MatchCase},
                          [](const QDate&, const TArchiveLine&) {});
        const double search = Seconds(timer), searchCpu = CpuSeconds() - cpu;
        std::printf("  %-30s %6.2f s (processor %6.2f s)  %6.0f MB/s  %zu lines", test.Name, search, searchCpu,
                    double(bytes) / 1e6 / search, hits);
        if (test.Grep) {
            const TTimes grep = Shell(year, QString::fromLatin1(test.Grep) + " archive/*/*/*.CAP > ../grep.out");
            std::printf("; grep %.2f s (processor %.2f s), search / grep %.2f", grep.Wall, grep.Cpu,
                        search / grep.Wall);
        }
        std::printf("\n");
    }
    return 0;
}
