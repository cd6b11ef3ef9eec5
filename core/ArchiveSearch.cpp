#include "core/ArchiveSearch.h"

#include "core/AlarmPrefilter.h"
#include "support/CodePage.h"
#include "support/TextSearch.h"

#include <QRegularExpression>
#include <algorithm>
#include <future>
#include <optional>
#include <vector>

namespace {

QRegularExpression Expression(const TArchiveQuery& query)
{
    QRegularExpression expression(query.Pattern, query.MatchCase ? QRegularExpression::NoPatternOption
                                                                 : QRegularExpression::CaseInsensitiveOption);
    expression.optimize();
    return expression;
}

// The expression run over a whole day to find the lines worth matching one by
// one; ^ and $ hold at each line's edges. Whatever matches a line alone
// matches there in the whole day too, unless the pattern looks past the line
// (lookaround, \A, \z, \Z, \G) or gives up its backtracking (atomic groups,
// possessive counts): such a pattern is matched line by line (invalid here).
QRegularExpression WholeDayExpression(const TArchiveQuery& query)
{
    QString pattern = query.Pattern;
    pattern.replace(QStringLiteral("(?:"), QString());
    for (const char* edge : {"(?", "\\A", "\\z", "\\Z", "\\G", "*+", "++", "?+", "}+"})
        if (pattern.contains(QLatin1String(edge)))
            return QRegularExpression(QStringLiteral("("));
    QRegularExpression expression(query.Pattern, QRegularExpression::MultilineOption |
                                                     (query.MatchCase ? QRegularExpression::NoPatternOption
                                                                      : QRegularExpression::CaseInsensitiveOption));
    expression.optimize();
    return expression;
}

}  // namespace

std::string CheckArchiveQuery(const TArchiveQuery& query)
{
    if (query.Pattern.isEmpty())
        return "Say what to search for.";
    if (query.Regex) {
        const QRegularExpression expression = Expression(query);
        if (!expression.isValid())
            return "The pattern is not a valid regular expression: " + expression.errorString().toStdString() + ".";
    }
    if (query.From.isValid() && query.To.isValid() && query.From > query.To)
        return "The first day comes after the last.";
    return {};
}

size_t SearchArchive(const std::string& root, const TArchiveQuery& query,
                     const std::function<void(const QDate&, const TArchiveLine&)>& onHit, const std::atomic<bool>* stop)
{
    if (!CheckArchiveQuery(query).empty())
        return 0;
    const QRegularExpression expression = query.Regex ? Expression(query) : QRegularExpression();
    const QRegularExpression wholeDay = query.Regex ? WholeDayExpression(query) : QRegularExpression();
    // A line without one of the pattern's words cannot match. A word shorter
    // than three characters stands in most lines, and matching nearly every
    // line alone costs more than the one scan of the whole day.
    TAlarmPrefilter words;
    if (query.Regex)
        words.Build({query.Pattern}, 3);
    QString dayText;
    const std::optional<std::string> text = query.Regex ? std::nullopt : TextSearch::FindTextBytes(query.Pattern);
    if (!query.Regex && !text)
        return 0;  // a character the code page lacks cannot be in a capture file
    const std::string needle = text && !query.MatchCase ? TextSearch::Folded(*text) : text.value_or("");

    std::vector<QDate> dates = CaptureDays(root);
    std::erase_if(dates, [&](const QDate& date) {
        return (query.From.isValid() && date < query.From) || (query.To.isValid() && date > query.To);
    });
    // The next day is read while this one is searched. Most days of a long
    // search hold no match: their time index is read at the first.
    TArchiveDay days[2];
    const auto load = [&](size_t i) { return days[i % 2].Load(root, dates[i], false); };
    std::future<bool> next;
    if (!dates.empty())
        next = std::async(std::launch::async, load, 0);
    size_t hits = 0;
    for (size_t i = 0; i < dates.size(); ++i) {
        const bool loaded = next.get();
        if (stop && stop->load())
            break;
        if (i + 1 < dates.size())
            next = std::async(std::launch::async, load, i + 1);
        if (!loaded)
            continue;
        const QDate& date = dates[i];
        TArchiveDay& day = days[i % 2];
        const auto hit = [&](TArchiveLine line) {
            day.LoadTimes();
            line.Milliseconds = day.Times().TimeAt(line.Offset);
            ++hits;
            onHit(date, line);
        };
        const std::string& bytes = day.Bytes();
        if (words.Active()) {
            for (size_t at = words.Find(bytes); at != std::string::npos && !(stop && stop->load());) {
                const TArchiveLine line = day.LineAt(at);
                if (expression.match(CodePage::ToText(line.Bytes)).hasMatch())
                    hit(line);
                const size_t next = bytes.find('\n', at);
                at = next == std::string::npos ? next : words.Find(bytes, next + 1);
            }
            continue;
        }
        if (query.Regex && !wholeDay.isValid()) {
            day.ForEachLine([&](const TArchiveLine& line) {
                // A stop passes over the rest of the day: a day's expressions may take seconds.
                if (stop && stop->load())
                    return;
                if (expression.match(CodePage::ToText(line.Bytes)).hasMatch())
                    hit(line);
            });
            continue;
        }
        if (query.Regex) {
            // The whole day at once finds the next line that may match; that
            // line alone decides. One character per byte keeps the offsets.
            // The CR of each CR LF reads as LF: a line's end is then an end for $.
            dayText.clear();
            CodePage::AppendText(dayText, bytes);
            for (size_t lf = bytes.find("\r\n"); lf != std::string::npos; lf = bytes.find("\r\n", lf + 2))
                dayText[qsizetype(lf)] = u'\n';
            // One scan goes on from match to match (a fresh start checks the
            // whole text again); a match that runs into the next line starts
            // a scan from there, so that no line is passed over.
            size_t resume = 0;
            for (qsizetype at = 0; at < dayText.size();) {
                QRegularExpressionMatchIterator scan = wholeDay.globalMatch(dayText, at);
                at = dayText.size();
                while (scan.hasNext() && !(stop && stop->load())) {
                    const QRegularExpressionMatch match = scan.next();
                    const auto start = size_t(match.capturedStart());
                    if (start < resume)
                        continue;  // its line is done
                    const TArchiveLine line = day.LineAt(start);
                    if (expression.match(CodePage::ToText(line.Bytes)).hasMatch())
                        hit(line);
                    const size_t next = bytes.find('\n', start);
                    resume = next == std::string::npos ? bytes.size() : next + 1;
                    if (size_t(match.capturedEnd()) > resume) {
                        at = qsizetype(resume);
                        break;
                    }
                }
            }
            continue;
        }
        // A match names its line; the search goes on after that line.
        size_t resume = 0;
        while (!(stop && stop->load())) {
            const size_t found = TextSearch::Find(bytes, needle, resume, query.MatchCase);
            if (found == std::string::npos)
                break;
            const TArchiveLine line = day.LineAt(found);
            if (found + needle.size() <= line.Offset + line.Bytes.size())  // not across a line end
                hit(line);
            const size_t next = bytes.find('\n', found);
            resume = next == std::string::npos ? bytes.size() : next + 1;
        }
    }
    return hits;
}
