#include "core/ArchiveSearch.h"
#include "core/CaptureNames.h"
#include "support/CodePage.h"
#include "support/TextSearch.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <map>
#include <random>

namespace {

struct Hit {
    QDate day;
    std::string line;
    bool operator==(const Hit&) const = default;
};

class ArchiveSearch : public ::testing::Test {
protected:
    void Day(const QDate& date, const std::string& bytes)
    {
        const auto y = unsigned(date.year()), m = unsigned(date.month());
        const QString folder =
            dir_.filePath(QString::fromStdString("archive/" + std::to_string(y) + "/" + TwoDigits(m)));
        QDir().mkpath(folder);
        QFile file(folder + "/" + QString::fromStdString(CaptureName(y, m, unsigned(date.day()))));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes.data(), qint64(bytes.size()));
        days_[date] = bytes;
    }
    std::vector<Hit> Search(TArchiveQuery query)
    {
        std::vector<Hit> hits;
        SearchArchive(dir_.filePath("archive").toStdString(), query, [&](const QDate& day, const TArchiveLine& line) {
            hits.push_back({day, std::string(line.Bytes)});
        });
        return hits;
    }
    // Line by line, the plain way.
    std::vector<Hit> Reference(const TArchiveQuery& query)
    {
        std::vector<Hit> hits;
        const std::string pattern = *TextSearch::FindTextBytes(query.Pattern);
        for (const auto& [day, bytes] : days_) {
            if (day < query.From || day > query.To)
                continue;
            size_t start = 0;
            while (start < bytes.size()) {
                size_t end = bytes.find("\r\n", start);
                end = end == std::string::npos ? bytes.size() : end;
                const std::string line = bytes.substr(start, end - start);
                const std::string a = query.MatchCase ? line : TextSearch::Folded(line);
                const std::string b = query.MatchCase ? pattern : TextSearch::Folded(pattern);
                if (a.find(b) != std::string::npos)
                    hits.push_back({day, line});
                start = end + 2;
            }
        }
        return hits;
    }

    QTemporaryDir dir_;
    std::map<QDate, std::string> days_;
};

}  // namespace

TEST_F(ArchiveSearch, AgreesWithALineByLineSearchOnRandomDays)
{
    std::mt19937 random(7);
    const char* words[] = {"TRK", "trk", "Trunk", "EXT", "ALM", "\xC0\xC2\xC0\xD0\xC8\xDF", "7", "07", "fail"};
    QDate date(2026, 11, 28);
    for (int d = 0; d < 8; ++d, date = date.addDays(1 + int(random() % 3))) {
        std::string bytes;
        for (int l = 0; l < 200; ++l) {
            for (int w = 0; w < 6; ++w)
                bytes += std::string(words[random() % 9]) + (random() % 4 ? " " : "");
            bytes += "\r\n";
        }
        Day(date, bytes);
    }
    for (const char* pattern : {"trk 07", "TRK", "\xC0\xC2\xC0\xD0\xC8\xDF fail", "ext7", "zzz"}) {
        for (bool matchCase : {false, true}) {
            TArchiveQuery query{QDate(2026, 11, 30), QDate(2026, 12, 10), CodePage::ToText(pattern), false, matchCase};
            EXPECT_EQ(Search(query), Reference(query)) << pattern << " " << matchCase;
        }
    }
}

// Regular expressions, against each line matched alone, on lines with a lone CR,
// empty lines and a last line without its end.
TEST_F(ArchiveSearch, RegularExpressionsAgreeWithEachLineMatchedAlone)
{
    std::mt19937 random(11);
    const char* words[] = {"TRK", "trk", "7", "07", " ", "\r", "fail", "ALM", "\xC0\xE2\xE0\xF0\xE8\xFF"};
    QDate date(2026, 12, 1);
    for (int d = 0; d < 4; ++d, date = date.addDays(1)) {
        std::string bytes;
        for (int l = 0; l < 300; ++l) {
            for (int w = int(random() % 7); w > 0; --w)
                bytes += words[random() % 9];
            bytes += "\r\n";
        }
        Day(date, bytes + "open TRK 7");
    }
    for (const char* pattern :
         {"TRK\\s*0?7$", "^ALM", "t.k", "\\bfail\\b", "(?:ALM|TRK) ?7", "7$", "^$", "\\s$", "k\\s+7", "^\\S*$",
          "(?!TRK)7", "\\A7", "\xC0\xE2.+fail", "ALM|\\bfail", "tRk ?0", "\xE0\xC2\xE0", "(?:fail)?ALM7"}) {
        for (bool matchCase : {false, true}) {
            const TArchiveQuery query{QDate(2026, 12, 1), QDate(2026, 12, 31), CodePage::ToText(pattern), true,
                                      matchCase};
            QRegularExpression expression(query.Pattern, matchCase ? QRegularExpression::NoPatternOption
                                                                   : QRegularExpression::CaseInsensitiveOption);
            std::vector<Hit> reference;
            for (const auto& [day, bytes] : days_)
                for (size_t start = 0; start < bytes.size();) {
                    size_t end = bytes.find("\r\n", start);
                    end = end == std::string::npos ? bytes.size() : end;
                    const std::string line = bytes.substr(start, end - start);
                    if (expression.match(CodePage::ToText(line)).hasMatch())
                        reference.push_back({day, line});
                    start = end + 2;
                }
            EXPECT_EQ(Search(query), reference) << pattern << " " << matchCase;
        }
    }
}

// Days larger than the search's fold block, with matches astride its edges.
TEST_F(ArchiveSearch, MatchesAcrossTheEdgesOfTheFoldedBlocksAreFoundOnce)
{
    constexpr size_t kBlock = 256 * 1024;
    for (int shift = 0; shift < 6; ++shift) {
        std::string bytes;
        for (size_t edge = kBlock; edge <= 3 * kBlock; edge += kBlock) {
            std::string filler(edge - bytes.size() - 3 - size_t(shift) - 2, 'x');
            for (size_t at = 100; at < filler.size(); at += 100)
                filler.replace(at, 2, "\r\n");
            bytes += filler + "\r\nab Trunk 7 cd\r\n";
        }
        Day(QDate(2026, 12, 1).addDays(shift), bytes);
    }
    for (bool matchCase : {false, true}) {
        const TArchiveQuery query{QDate(2026, 12, 1), QDate(2026, 12, 31), "TRUNK 7", false, matchCase};
        const std::vector<Hit> hits = Search(query);
        EXPECT_EQ(hits, Reference(query));
        EXPECT_EQ(hits.size(), matchCase ? 0u : 18u);
    }
}

TEST_F(ArchiveSearch, RegularExpressionsStopAndBadQueries)
{
    Day(QDate(2026, 12, 7), "ALM MAJOR TRK 03\r\nCDR 1\r\nalm minor psu\r\n");
    Day(QDate(2026, 12, 8), "ALM MAJOR PSU\r\n");
    TArchiveQuery query{QDate(2026, 12, 1), QDate(2026, 12, 31), QStringLiteral("^alm (major|minor) (trk|psu)"), true};
    ASSERT_EQ(Search(query).size(), 3u);
    query.MatchCase = true;
    EXPECT_EQ(Search(query), (std::vector<Hit>{{QDate(2026, 12, 7), "alm minor psu"}}));

    std::atomic<bool> stop{false};
    size_t seen = 0;
    query.MatchCase = false;
    SearchArchive(
        dir_.filePath("archive").toStdString(), query,
        [&](const QDate&, const TArchiveLine&) {
            ++seen;
            stop = true;
        },
        &stop);
    EXPECT_EQ(seen, 1u) << "neither the rest of the day nor the next is searched";

    EXPECT_NE(CheckArchiveQuery({QDate(), QDate(), QStringLiteral("(open"), true}), "");
    EXPECT_NE(CheckArchiveQuery({QDate(), QDate(), QString(), false}), "");
    EXPECT_NE(CheckArchiveQuery({QDate(2026, 12, 9), QDate(2026, 12, 1), QStringLiteral("x"), false}), "");
}
