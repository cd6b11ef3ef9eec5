#include "core/ArchiveSearch.h"

#include "support/CodePage.h"
#include "support/TextSearch.h"

#include <QRegularExpression>
#include <algorithm>
#include <future>
#include <optional>
#include <vector>

namespace {

constexpr size_t kFoldBlock = 256 * 1024;

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
    std::string block;
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
        if (query.Regex) {
            day.ForEachLine([&](const TArchiveLine& line) {
                if (expression.match(CodePage::ToText(line.Bytes)).hasMatch())
                    hit(line);
            });
            continue;
        }
        // Without case, a block at a time is folded, so that it is searched
        // while it is still in the cache; blocks overlap by the needle less one.
        // A match names its line; the search goes on after that line.
        const size_t overlap = needle.size() - 1;
        const size_t blockSize = query.MatchCase ? bytes.size() : kFoldBlock;
        size_t resume = 0;
        for (size_t start = 0; start + needle.size() <= bytes.size() && !(stop && stop->load()); start += blockSize) {
            std::string_view haystack = std::string_view(bytes).substr(start, blockSize + overlap);
            if (!query.MatchCase) {
                block.resize(std::max(block.size(), haystack.size()));
                TextSearch::FoldInto(haystack, block.data());
                haystack = std::string_view(block.data(), haystack.size());
            }
            while (resume < start + haystack.size()) {
                const size_t found = TextSearch::Find(haystack, needle, resume > start ? resume - start : 0, true);
                if (found == std::string_view::npos)
                    break;
                const TArchiveLine line = day.LineAt(start + found);
                if (start + found + needle.size() <= line.Offset + line.Bytes.size())  // not across a line end
                    hit(line);
                const size_t next = bytes.find('\n', start + found);
                resume = next == std::string::npos ? bytes.size() : next + 1;
                if (stop && stop->load())
                    break;
            }
        }
    }
    return hits;
}
