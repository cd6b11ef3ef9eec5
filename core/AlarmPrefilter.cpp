#include "core/AlarmPrefilter.h"

#include "support/CodePage.h"
#include "support/TextSearch.h"

#include <QRegularExpression>
#include <algorithm>

namespace {

// "{2}", "{2,}", "{2,5}" repeat what stands before them; another "{" is not sure.
qsizetype BraceQuantifierEnd(const QString& p, qsizetype i)
{
    static const QRegularExpression quantifier(QStringLiteral(R"(\{\d+(,\d*)?\})"));
    const QRegularExpressionMatch m =
        quantifier.match(p, i, QRegularExpression::NormalMatch, QRegularExpression::AnchorAtOffsetMatchOption);
    return m.hasMatch() ? m.capturedEnd() - 1 : -1;
}

// The end of a character class opened at i.
qsizetype ClassEnd(const QString& p, qsizetype i)
{
    const qsizetype n = p.size();
    qsizetype j = i + 1;
    if (j < n && p[j] == QLatin1Char('^'))
        ++j;
    if (j < n && p[j] == QLatin1Char(']'))
        ++j;
    for (; j < n && p[j] != QLatin1Char(']'); ++j) {
        if (p[j] == QLatin1Char('\\')) {
            ++j;
        } else if (p[j] == QLatin1Char('[') && j + 1 < n && p[j + 1] == QLatin1Char(':')) {
            j = p.indexOf(QStringLiteral(":]"), j + 2);
            if (j < 0)
                return -1;
            ++j;
        }
    }
    return j < n ? j : -1;
}

}  // namespace

std::optional<std::vector<QString>> RequiredWords(const QString& p)
{
    std::vector<QString> words;
    QString best, run;
    bool lastLiteral = false;  // the run's last character may take a quantifier
    int depth = 0;             // inside a group nothing is sure to be there
    // Spaces at a word's ends are common in lines: the word without them is as sure and finds less.
    auto endRun = [&] {
        if (run.trimmed().size() > best.size())
            best = run.trimmed();
        run.clear();
        lastLiteral = false;
    };
    auto endAlternative = [&] {
        endRun();
        if (best.isEmpty())
            return false;
        words.push_back(std::exchange(best, QString()));
        return true;
    };
    const qsizetype n = p.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = p[i];
        if (c == QLatin1Char('\\')) {
            if (++i >= n)
                return std::nullopt;
            const QChar e = p[i];
            if (e.unicode() < 0x80 && !e.isLetterOrNumber()) {
                if (depth == 0) {
                    run += e;
                    lastLiteral = true;
                }
            } else if (QStringLiteral("dDwWsSbBhHvVR").contains(e)) {
                if (depth == 0)
                    endRun();
            } else {
                return std::nullopt;  // \Q, \x, \p, back references and the like
            }
            continue;
        }
        if (c == QLatin1Char('[')) {
            i = ClassEnd(p, i);
            if (i < 0)
                return std::nullopt;
            if (depth == 0)
                endRun();
            continue;
        }
        if (c == QLatin1Char('(')) {
            const QChar k1 = i + 1 < n ? p[i + 1] : QChar();
            const QChar k2 = i + 2 < n ? p[i + 2] : QChar();
            if (k1 == QLatin1Char('*'))
                return std::nullopt;  // verbs
            // Groups, look-arounds and named groups only: option settings change how the rest reads.
            if (k1 == QLatin1Char('?') && !QStringLiteral(":=!<P'>").contains(k2))
                return std::nullopt;
            if (depth == 0)
                endRun();
            ++depth;
            continue;
        }
        if (c == QLatin1Char(')')) {
            if (depth == 0)
                return std::nullopt;
            --depth;
            continue;
        }
        if (depth > 0)
            continue;
        if (c == QLatin1Char('|')) {
            if (!endAlternative())
                return std::nullopt;
            continue;
        }
        if (c == QLatin1Char('?') || c == QLatin1Char('*') || c == QLatin1Char('+') || c == QLatin1Char('{')) {
            if (c == QLatin1Char('{')) {
                i = BraceQuantifierEnd(p, i);
                if (i < 0)
                    return std::nullopt;
            }
            // The character before a quantifier may be missing or repeated.
            if (lastLiteral)
                run.chop(1);
            endRun();
            continue;
        }
        if (c == QLatin1Char('.') || c == QLatin1Char('^') || c == QLatin1Char('$')) {
            endRun();
            continue;
        }
        run += c;
        lastLiteral = true;
    }
    if (depth != 0 || !endAlternative())
        return std::nullopt;
    return words;
}

void TAlarmPrefilter::Build(const QStringList& patterns, qsizetype shortestWord)
{
    active_ = false;
    only_.clear();
    first_.fill(false);
    for (auto& words : byFirst_)
        words.clear();
    for (int b = 0; b < 256; ++b) {
        const int folded = CodePage::CharToByte(CodePage::ByteToChar(uchar(b)).toCaseFolded());
        fold_[size_t(b)] = uchar(folded >= 0 ? folded : b);
    }
    size_t count = 0;
    std::string last;
    for (const QString& pattern : patterns) {
        const std::optional<std::vector<QString>> words = RequiredWords(pattern);
        if (!words)
            return;
        for (const QString& word : *words) {
            if (word.size() < shortestWord)
                return;
            std::string bytes;
            for (const QChar ch : word) {
                // A character without a byte folds onto no line's character for sure.
                const int b = CodePage::CharToByte(ch.toCaseFolded());
                if (b < 0)
                    return;
                bytes.push_back(char(b));
            }
            ++count;
            last = bytes;
            first_[uchar(bytes[0])] = true;
            byFirst_[uchar(bytes[0])].push_back(std::move(bytes));
        }
    }
    active_ = true;
    // One word of ASCII folds as the text search folds A to Z, as long as no
    // other byte folds onto ASCII: that search is many times quicker.
    const auto ascii = [](uchar b) { return b < 0x80; };
    if (count == 1 && std::all_of(last.begin(), last.end(), ascii) &&
        std::none_of(fold_.begin() + 0x80, fold_.end(), ascii))
        only_ = last;
}

bool TAlarmPrefilter::MayMatch(std::string_view line) const { return Find(line) != std::string_view::npos; }

size_t TAlarmPrefilter::Find(std::string_view text, size_t from) const
{
    if (!only_.empty())
        return TextSearch::Find(text, only_, from, false);
    // One pass over the text: only where a word's first character stands are words compared.
    const size_t n = text.size();
    for (size_t i = from; i < n; ++i) {
        const uchar b = fold_[uchar(text[i])];
        if (!first_[b])
            continue;
        for (const std::string& word : byFirst_[b]) {
            if (word.size() > n - i)
                continue;
            size_t k = 1;
            while (k < word.size() && fold_[uchar(text[i + k])] == uchar(word[k]))
                ++k;
            if (k == word.size())
                return i;
        }
    }
    return std::string_view::npos;
}
