#include "support/TextSearch.h"

#include <gtest/gtest.h>
#include <random>
#include <string>

namespace {

// Presses Find Next the way both windows do, keeping the position between presses.
struct Searcher {
    explicit Searcher(std::string t) : text(std::move(t)) {}

    std::string text;
    size_t position = 0;
    bool findNext = false;
    QString message;

    size_t Press(const std::string& findText, bool matchCase, const QString& place = "Capture")
    {
        if (position == 0)
            findNext = false;
        const TextSearch::Step step = TextSearch::FindNext(text, findText, position, findNext, matchCase);
        position = step.position;
        message =
            position ? QString() : TextSearch::NotFoundMessage(step.further, QString::fromStdString(findText), place);
        findNext = true;
        return position;
    }
};

size_t NaiveFind(const std::string& text, const std::string& pattern, size_t from, bool matchCase)
{
    const auto fold = [&](unsigned char c) { return matchCase ? c : TextSearch::FoldByte(c); };
    for (size_t i = from; i + pattern.size() <= text.size(); ++i) {
        size_t k = 0;
        while (k < pattern.size() && fold(text[i + k]) == fold(pattern[k]))
            ++k;
        if (k == pattern.size())
            return i;
    }
    return std::string::npos;
}

}  // namespace

TEST(TextSearch, FindsEachMatchThenSaysNoFurtherThenStartsAgain)
{
    Searcher s("x abc\r\nyy abc\r\n");
    EXPECT_EQ(s.Press("ABC", false), 3u);
    EXPECT_EQ(s.Press("ABC", false), 11u);
    EXPECT_EQ(s.Press("ABC", false), 0u);
    EXPECT_EQ(s.message, "There are no further occurences of \"ABC\" in Capture.");
    EXPECT_EQ(s.Press("ABC", false), 3u);
}

TEST(TextSearch, MatchCaseAndFirstSearchMessage)
{
    Searcher s("abc abc");
    EXPECT_EQ(s.Press("ABC", true, "Archive"), 0u);
    EXPECT_EQ(s.message, "Could not find \"ABC\" in Archive.");
    EXPECT_EQ(s.Press("abc", true), 1u);
    EXPECT_EQ(s.Press("aBc", false), 5u);
}

TEST(TextSearch, FurtherSearchStartsAfterTheWholePreviousMatch)
{
    Searcher s("aaaa");
    EXPECT_EQ(s.Press("aa", true), 1u);
    EXPECT_EQ(s.Press("aa", true), 3u);
    EXPECT_EQ(s.Press("aa", true), 0u);
}

TEST(TextSearch, OnlyLatinLettersAreFolded)
{
    // Windows-1251: "АБВ" is C0 C1 C2 and "абв" is E0 E1 E2, 0x20 apart as in ASCII.
    Searcher s("\xC0\xC1\xC2 [x]");
    EXPECT_EQ(s.Press("\xE0\xE1\xE2", false), 0u);
    EXPECT_EQ(s.Press("\xC0\xC1\xC2", false), 1u);
    s.position = 0;
    // '[' and '{' are 0x20 apart too.
    EXPECT_EQ(s.Press("{X}", false), 0u);
    EXPECT_EQ(s.Press("[X]", false), 5u);
}

TEST(TextSearch, AgreesWithAPlainSearchAcrossBlocksAndWithAFoldedCopy)
{
    std::mt19937 random(7);
    // Letters, their neighbours and their high-bit twins, and line ends.
    const std::string alphabet = "aAzZ@[`{\xC1\xDA\xE1\xFA\r\n";
    std::string text(200000, 'a');
    for (char& c : text)
        c = alphabet[random() % alphabet.size()];
    const std::string folded = TextSearch::Folded(text);
    for (int round = 0; round < 60; ++round) {
        std::string pattern(1 + random() % 9, 'a');
        for (char& c : pattern)
            c = alphabet[random() % (alphabet.size() - 2)];
        const size_t from = random() % text.size();
        for (bool matchCase : {false, true}) {
            const size_t expected = NaiveFind(text, pattern, from, matchCase);
            EXPECT_EQ(TextSearch::Find(text, pattern, from, matchCase), expected) << round;
            EXPECT_EQ(TextSearch::Find(text, pattern, from, matchCase, folded), expected) << round;
        }
    }
    // Short texts, so that matches fall in the last sixteen bytes too, and
    // patterns taken from the text with their letters' case flipped.
    for (int round = 0; round < 3000; ++round) {
        std::string small(random() % 80, 'a');
        for (char& c : small)
            c = alphabet[random() % alphabet.size()];
        if (small.empty())
            continue;
        const size_t start = random() % small.size();
        std::string pattern = small.substr(start, 1 + random() % std::min<size_t>(20, small.size() - start));
        for (char& c : pattern)
            if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z' && random() % 2)
                c = char(c ^ 0x20);
        const size_t from = random() % small.size();
        for (bool matchCase : {false, true})
            ASSERT_EQ(TextSearch::Find(small, pattern, from, matchCase), NaiveFind(small, pattern, from, matchCase))
                << round << " " << small << " / " << pattern;
    }
    // A match cut by the edge of a folding block, and one at the very end.
    std::string plain(70000, '.');
    plain.replace(65536 - 2, 4, "NeEd");
    plain.replace(plain.size() - 3, 3, "EnD");
    EXPECT_EQ(TextSearch::Find(plain, "need", 0, false), 65534u);
    EXPECT_EQ(TextSearch::Find(plain, "end", 0, false), plain.size() - 3);
    EXPECT_EQ(TextSearch::Find(plain, "end", plain.size() - 2, false), std::string::npos);
}

TEST(TextSearch, FindTextOutsideTheCodePageMatchesNothing)
{
    EXPECT_EQ(TextSearch::FindTextBytes(QString::fromUtf8("Ab Я")), std::string("Ab \xDF"));
    EXPECT_FALSE(TextSearch::FindTextBytes(QString::fromUtf8("a中")).has_value());
}
