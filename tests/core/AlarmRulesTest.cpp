#include "core/AlarmRules.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(AlarmRules, CommentsAndEmptyLinesAreSkippedAndABadRuleIsNamedByItsLine)
{
    std::vector<std::string> problems;
    const TAlarmRules rules = TAlarmRules::Parse(QStringLiteral("# major alarms\r\n"
                                                                "\n"
                                                                "ALM .* MAJOR\r\n"
                                                                "   \n"
                                                                "fan (fail\n"
                                                                "АВАРИЯ\n"
                                                                "(trk|psu) (\\d+) .* \\2$\n"),
                                                 problems);
    ASSERT_EQ(rules.Count(), 3u);
    EXPECT_EQ(rules.Rule(0), "ALM .* MAJOR");
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("line 5"), std::string::npos) << problems[0];

    EXPECT_EQ(rules.Match("ALM 10:00 major PSU 1"), 0) << "case does not count";
    EXPECT_EQ(rules.Match("ALM 10:00 MINOR PSU 1"), -1);
    EXPECT_EQ(rules.Match("\xC0\xE2\xE0\xF0\xE8\xFF trunk 3"), 1) << "a Windows-1251 line, a Cyrillic rule";
    EXPECT_EQ(rules.Match("TRK 07 LOST 07"), 2) << "a back reference";
    EXPECT_EQ(rules.Match("TRK 07 LOST 08"), -1);
}

TEST(AlarmRules, TheFirstMatchingRuleAndNoneWithoutRules)
{
    std::vector<std::string> problems;
    const TAlarmRules rules = TAlarmRules::Parse(QStringLiteral("fan\nfan fail\n"), problems);
    EXPECT_EQ(rules.Match("FAN FAIL"), 0);
    EXPECT_TRUE(problems.empty());
    EXPECT_EQ(TAlarmRules().Match("anything"), -1);
}

TEST(AlarmRules, AMissingFileHasNoRulesAndAFileIsReadAsUtf8)
{
    QTemporaryDir dir;
    std::vector<std::string> problems;
    EXPECT_TRUE(TAlarmRules::Load(dir.filePath("Watch.txt").toStdString(), problems).Empty());
    EXPECT_TRUE(problems.empty());
    QFile file(dir.filePath("Watch.txt"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QStringLiteral("авария\n").toUtf8());
    file.close();
    const TAlarmRules rules = TAlarmRules::Load(dir.filePath("Watch.txt").toStdString(), problems);
    EXPECT_EQ(rules.Match("\xC0\xC2\xC0\xD0\xC8\xDF"), 0);
}

TEST(AlarmRules, RulesKnowTheirLineAndAQuoteCannotSpillIntoTheNextRule)
{
    std::vector<std::string> problems;
    // Together as one alternation the quote would run to the next rule's \E.
    const TAlarmRules rules = TAlarmRules::Parse(QStringLiteral("# quoted\n\\Qa.b\nx\\E\n"), problems);
    ASSERT_EQ(rules.Count(), 2u);
    EXPECT_EQ(rules.RuleLine(0), 2);
    EXPECT_EQ(rules.RuleLine(1), 3);
    EXPECT_EQ(rules.Match("A.B"), 0);
    EXPECT_EQ(rules.Match("AxB"), 1);
    EXPECT_EQ(rules.Match("x"), 1);
}
