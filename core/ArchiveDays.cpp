#include "core/ArchiveDays.h"

#include "core/CaptureNames.h"
#include "support/AtomicFile.h"

#include <QDir>
#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// "07-12-26.CAP" in archive/2026/12: the name must agree with its folders.
std::optional<QDate> DayOfFile(int year, int month, const QString& name)
{
    if (name.size() != 12 || !name.endsWith(QStringLiteral(".CAP")))
        return std::nullopt;
    const QDate day(year, month, name.left(2).toInt());
    if (!day.isValid() ||
        QString::fromStdString(CaptureName(unsigned(year), unsigned(month), unsigned(day.day()))) != name)
        return std::nullopt;
    return day;
}

}  // namespace

std::vector<QDate> CaptureDays(const std::string& root)
{
    std::vector<QDate> days;
    const QDir archive(QString::fromStdString(root));
    for (const QString& yearName : archive.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool yearOk = false;
        const int year = yearName.toInt(&yearOk);
        if (!yearOk || yearName.size() != 4)
            continue;
        const QDir yearDir(archive.filePath(yearName));
        for (const QString& monthName : yearDir.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            bool monthOk = false;
            const int month = monthName.toInt(&monthOk);
            if (!monthOk || monthName.size() != 2 || month < 1 || month > 12)
                continue;
            for (const QString& file : QDir(yearDir.filePath(monthName)).entryList(QDir::Files))
                if (const std::optional<QDate> day = DayOfFile(year, month, file))
                    days.push_back(*day);
        }
    }
    std::sort(days.begin(), days.end());
    return days;
}

std::optional<QDate> NeighbourDay(const std::vector<QDate>& days, const QDate& day, int step)
{
    if (step < 0) {
        const auto it = std::lower_bound(days.begin(), days.end(), day);
        return it == days.begin() ? std::nullopt : std::optional<QDate>(*std::prev(it));
    }
    const auto it = std::upper_bound(days.begin(), days.end(), day);
    return it == days.end() ? std::nullopt : std::optional<QDate>(*it);
}

bool TArchiveDay::Load(const std::string& root, const QDate& day, bool withTimes)
{
    const auto y = unsigned(day.year()), m = unsigned(day.month()), d = unsigned(day.day());
    const std::string folder = root + "/" + std::to_string(y) + "/" + TwoDigits(m) + "/";
    times_ = {};
    timesPath_.clear();
    // The bytes of the day before are read over, not cleared first: their room is reused.
    if (!ReadWholeFile(folder + CaptureName(y, m, d), bytes_)) {
        bytes_.clear();
        return false;
    }
    timesPath_ = folder + TimeIndexName(y, m, d);
    if (withTimes)
        LoadTimes();
    return true;
}

void TArchiveDay::LoadTimes()
{
    if (timesPath_.empty())
        return;
    times_ = TTimeIndex::Load(timesPath_);
    timesPath_.clear();
}

TArchiveLine TArchiveDay::LineAt(size_t offset) const
{
    const size_t start = offset == 0 ? 0 : bytes_.rfind('\n', offset - 1) + 1;  // npos + 1 is 0
    size_t end = bytes_.find('\n', offset);
    end = end == std::string::npos ? bytes_.size() : end;
    size_t stop = end;
    if (stop > start && bytes_[stop - 1] == '\r')
        --stop;
    return {std::string_view(bytes_).substr(start, stop - start), start, times_.TimeAt(start)};
}

void TArchiveDay::ForEachLine(const std::function<void(const TArchiveLine&)>& take) const
{
    for (size_t at = 0; at < bytes_.size();) {
        const TArchiveLine line = LineAt(at);
        take(line);
        const size_t next = bytes_.find('\n', at);
        if (next == std::string::npos)
            break;
        at = next + 1;
    }
}

std::string TimeText(uint32_t milliseconds)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u.%03u", milliseconds / 3600000, milliseconds / 60000 % 60,
                  milliseconds / 1000 % 60, milliseconds % 1000);
    return text;
}
