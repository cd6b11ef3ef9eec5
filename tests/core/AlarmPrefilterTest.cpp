#include "core/AlarmPrefilter.h"
#include "core/AlarmRules.h"
#include "support/CodePage.h"

#include <gtest/gtest.h>
#include <random>

namespace {

std::vector<QString> Words(const char* pattern)
{
    const auto words = RequiredWords(QString::fromUtf8(pattern));
    return words ? *words : std::vector<QString>{QStringLiteral("<none>")};
}

}  // namespace

TEST(AlarmPrefilter, TheLongestSureLiteralOfEachAlternative)
{
    using W = std::vector<QString>;
    EXPECT_EQ(Words("critical"), W{"critical"});
    EXPECT_EQ(Words("major .* (fail|down)"), W{"major"});
    EXPECT_EQ(Words(R"(\bTRK \d+ LOST\b)"), W{"LOST"});
    EXPECT_EQ(Words("overheat|temperature"), W({"overheat", "temperature"}));
    EXPECT_EQ(Words("fans? fail"), W{"fail"}) << "a quantified character is not sure";
    EXPECT_EQ(Words("ab+cd"), W{"cd"});
    EXPECT_EQ(Words("x{2,3}yz"), W{"yz"});
    EXPECT_EQ(Words(R"(1\.5 [kK]V)"), W{"1.5"});
    EXPECT_EQ(Words("(?:shelf) a"), W{"a"});
    // Constructs whose words are not sure turn the look off.
    for (const char* unsure :
         {"(?x)fan fail", "fan|", ".", R"(\x41BC)", R"(\Qa.b)", "(*UTF)abc", "a{", "(ab", "ab)", R"(\1abc)", "  "})
        EXPECT_EQ(Words(unsure), W{"<none>"}) << unsure;
}

TEST(AlarmPrefilter, RulesGiveTheSameAnswersWithTheLookAsEachExpressionAlone)
{
    const QStringList patterns = {"critical",
                                  "major .* (fail|down)",
                                  R"(\bTRK \d+ LOST\b)",
                                  "^ALM ",
                                  QString::fromUtf8("авария|ё[a-c]"),
                                  "fan fail",
                                  "(link|trunk) down",
                                  "overheat|temperature",
                                  "shelf [a-d] .* error",
                                  "K\\.O\\.?",
                                  "(?=x)x1"};
    std::vector<std::string> problems;
    const TAlarmRules rules = TAlarmRules::Parse(patterns.join(QLatin1Char('\n')), problems);
    ASSERT_TRUE(problems.empty());
    TAlarmPrefilter prefilter;
    prefilter.Build(patterns);
    ASSERT_TRUE(prefilter.Active());

    std::vector<QRegularExpression> alone;
    for (const QString& p : patterns)
        alone.emplace_back(p, QRegularExpression::CaseInsensitiveOption);
    const std::vector<std::string> pieces = {"CRITICAL",
                                             "Major",
                                             " ",
                                             "fail",
                                             "DOWN",
                                             "TRK",
                                             "12",
                                             "LOST",
                                             "ALM",
                                             "\xC0\xE2\xE0\xF0\xE8\xFF",
                                             "\xE0\xE2\xE0\xF0\xE8\xFF",
                                             "\xA8",
                                             "B",
                                             "fan",
                                             "FAN FAIL",
                                             "link",
                                             "Trunk",
                                             "OVERHEAT",
                                             "Shelf",
                                             "c",
                                             "error",
                                             "k.o",
                                             "X1",
                                             "\t",
                                             ".",
                                             "\xB5"};
    std::mt19937 random(7);
    int matched = 0;
    for (int n = 0; n < 20000; ++n) {
        std::string line;
        for (int k = int(random() % 8); k > 0; --k)
            line += pieces[random() % pieces.size()];
        int expected = -1;
        const QString text = CodePage::ToText(line);
        for (size_t i = 0; i < alone.size() && expected < 0; ++i)
            if (alone[i].match(text).hasMatch())
                expected = int(i);
        ASSERT_EQ(rules.Match(line), expected) << line;
        if (expected >= 0) {
            ++matched;
            ASSERT_TRUE(prefilter.MayMatch(line)) << line;
        }
    }
    EXPECT_GT(matched, 1000);
}
