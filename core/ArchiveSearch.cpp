#include "core/ArchiveSearch.h"

#include "support/CodePage.h"
#include "support/TextSearch.h"

#include <QRegularExpression>
#include <algorithm>
#include <optional>

namespace {

QRegularExpression Expression(const TArchiveQuery& query)
{
    QRegularExpression expression(query.Pattern, query.MatchCase ? QRegularExpression::NoPatternOption
                                                                 : QRegularExpression::CaseInsensitiveOption);
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
    const std::optional<std::string> text = query.Regex ? std::nullopt : TextSearch::FindTextBytes(query.Pattern);
    if (!query.Regex && !text)
        return 0;  // a character the code page lacks cannot be in a capture file
    const std::string needle = text && !query.MatchCase ? TextSearch::Folded(*text) : text.value_or("");

    size_t hits = 0;
    TArchiveDay day;
    std::string folded;
    for (const QDate& date : CaptureDays(root)) {
        if ((query.From.isValid() && date < query.From) || (query.To.isValid() && date > query.To))
            continue;
        if (stop && stop->load())
            break;
        if (!day.Load(root, date))
            continue;
        const std::string& bytes = day.Bytes();
        if (query.Regex) {
            day.ForEachLine([&](const TArchiveLine& line) {
                // A stop passes over the rest of the day: a day's expressions may take seconds.
                if (stop && stop->load())
                    return;
                if (expression.match(CodePage::ToText(line.Bytes)).hasMatch()) {
                    ++hits;
                    onHit(date, line);
                }
            });
            continue;
        }
        // One pass over the whole day; a match names its line, the search goes on after it.
        std::string_view haystack = bytes;
        if (!query.MatchCase) {
            folded.resize(bytes.size());
            TextSearch::FoldInto(bytes, folded.data());
            haystack = folded;
        }
        for (size_t at = 0; at < haystack.size();) {
            const size_t found = TextSearch::Find(haystack, needle, at, true);
            if (found == std::string_view::npos)
                break;
            const TArchiveLine line = day.LineAt(found);
            if (found + needle.size() <= line.Offset + line.Bytes.size()) {  // not across a line end
                ++hits;
                onHit(date, line);
            }
            const size_t next = bytes.find('\n', found);
            at = next == std::string::npos ? haystack.size() : next + 1;
            if (stop && stop->load())
                break;
        }
    }
    return hits;
}
