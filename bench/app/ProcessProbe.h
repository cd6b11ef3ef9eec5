#pragma once
// What another process has used so far, read from /proc: CPU time to the
// nanosecond (summed over its threads), context switches, and memory.
#include <QDir>
#include <QFile>
#include <QString>

struct ProcessUse {
    double CpuSeconds = 0;
    long long Switches = 0;  // voluntary and forced, all threads: the process's wake-ups and more
    long long RssKiB = 0;
    long long PeakRssKiB = 0;
};

namespace ProcessProbe {

inline long long StatusField(const QByteArray& status, const char* name)
{
    const QByteArray key = QByteArray(name) + ':';
    const qsizetype at = status.indexOf(key);
    if (at < 0)
        return 0;
    const qsizetype end = status.indexOf('\n', at);
    return status.mid(at + key.size(), end - at - key.size()).trimmed().split(' ').value(0).toLongLong();
}

inline QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Resident memory now, for a process that watches itself while it runs.
inline long long RssKiB(qint64 pid)
{
    return StatusField(ReadAll(QStringLiteral("/proc/%1/status").arg(pid)), "VmRSS");
}

inline ProcessUse Sample(qint64 pid)
{
    ProcessUse use;
    const QString root = QStringLiteral("/proc/%1").arg(pid);
    const QByteArray status = ReadAll(root + QStringLiteral("/status"));
    use.RssKiB = StatusField(status, "VmRSS");
    use.PeakRssKiB = StatusField(status, "VmHWM");
    for (const QString& task : QDir(root + QStringLiteral("/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString dir = root + QStringLiteral("/task/") + task;
        use.CpuSeconds += double(ReadAll(dir + QStringLiteral("/schedstat")).split(' ').value(0).toLongLong()) / 1e9;
        const QByteArray taskStatus = ReadAll(dir + QStringLiteral("/status"));
        use.Switches +=
            StatusField(taskStatus, "voluntary_ctxt_switches") + StatusField(taskStatus, "nonvoluntary_ctxt_switches");
    }
    return use;
}

}  // namespace ProcessProbe
