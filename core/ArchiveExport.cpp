#include "core/ArchiveExport.h"

#include "support/CodePage.h"

#include <QSaveFile>
#include <algorithm>
#include <stdexcept>
#include <vector>

namespace {

// A moment as milliseconds since an epoch of days, so spans compare without
// the local zone's repeated or skipped hours.
int64_t Moment(const QDate& day, uint32_t milliseconds)
{
    return day.toJulianDay() * int64_t(kMillisecondsPerDay) + milliseconds;
}

int64_t Moment(const QDateTime& time) { return Moment(time.date(), uint32_t(time.time().msecsSinceStartOfDay())); }

struct TDayLine {
    TArchiveLine Line;
    size_t End = 0;  // past its line end
};

// The whole lines of a day; the last line of a file being written may not be whole yet.
std::vector<TDayLine> WholeLines(const TArchiveDay& day)
{
    std::vector<TDayLine> lines;
    const std::string& bytes = day.Bytes();
    day.ForEachLine([&](const TArchiveLine& line) {
        const size_t lf = bytes.find('\n', line.Offset + line.Bytes.size());
        if (lf != std::string::npos)
            lines.push_back({line, lf + 1});
    });
    return lines;
}

void Write(QSaveFile& file, std::string_view bytes)
{
    if (file.write(bytes.data(), qint64(bytes.size())) != qint64(bytes.size()))
        throw std::runtime_error("Cannot write \"" + file.fileName().toStdString() +
                                 "\": " + file.errorString().toStdString());
}

}  // namespace

std::string CheckExportRequest(const TExportRequest& request)
{
    if (!request.From.isValid() || !request.To.isValid())
        return "Say from when and to when to export.";
    if (Moment(request.From) >= Moment(request.To))
        return "The start of the export comes after its end.";
    return {};
}

TExportResult ExportArchive(const std::string& root, const TExportRequest& request, const std::string& path,
                            const std::atomic<bool>* stop, const std::function<void(const QDate&)>& onDay)
{
    if (const std::string problem = CheckExportRequest(request); !problem.empty())
        throw std::runtime_error(problem);
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly))
        throw std::runtime_error("Cannot write \"" + path + "\": " + file.errorString().toStdString());

    const int64_t from = Moment(request.From), to = Moment(request.To);
    TExportResult result;
    TArchiveDay day;
    for (const QDate& date : CaptureDays(root)) {
        if (date < request.From.date() || date > request.To.date())
            continue;
        if (stop && stop->load()) {
            file.cancelWriting();
            result.Stopped = true;
            return result;
        }
        if (onDay)
            onDay(date);
        if (!day.Load(root, date))
            continue;
        const std::vector<TDayLine> lines = WholeLines(day);
        // The known time after each line, to bound the lines without one.
        std::vector<uint32_t> nextKnown(lines.size() + 1, kMillisecondsPerDay - 1);
        for (size_t i = lines.size(); i-- > 0;)
            nextKnown[i] = lines[i].Line.Milliseconds.value_or(nextKnown[i + 1]);
        uint32_t lastKnown = 0;
        for (size_t i = 0; i < lines.size(); ++i) {
            const TArchiveLine& line = lines[i].Line;
            bool inside;
            if (line.Milliseconds) {
                lastKnown = *line.Milliseconds;
                const int64_t at = Moment(date, lastKnown);
                inside = at >= from && at < to;
            } else {
                const uint32_t after = nextKnown[i + 1];
                inside =
                    Moment(date, std::min(lastKnown, after)) >= from && Moment(date, std::max(lastKnown, after)) < to;
            }
            if (!inside)
                continue;
            if (request.Utf8) {
                std::string row = ArchiveRowText(date, line);
                row += '\n';
                Write(file, row);
                result.Bytes += row.size();
            } else {
                const std::string_view bytes =
                    std::string_view(day.Bytes()).substr(size_t(line.Offset), lines[i].End - size_t(line.Offset));
                Write(file, bytes);
                result.Bytes += bytes.size();
            }
            ++result.Lines;
        }
    }
    if (!file.commit())
        throw std::runtime_error("Cannot write \"" + path + "\": " + file.errorString().toStdString());
    return result;
}

std::string ArchiveRowText(const QDate& day, const TArchiveLine& line)
{
    std::string row = day.toString(QStringLiteral("yyyy-MM-dd")).toStdString();
    row += '\t';
    if (line.Milliseconds)
        row += TimeText(*line.Milliseconds);
    row += '\t';
    row += CodePage::ToText(line.Bytes).toUtf8().toStdString();
    return row;
}
