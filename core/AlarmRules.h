#pragma once
// The alarm rules of "Watch.txt": one regular expression a line, matched
// without regard to case; empty lines and lines starting with # are skipped.
#include "core/AlarmPrefilter.h"

#include <QRegularExpression>
#include <QString>
#include <string>
#include <string_view>
#include <vector>

class TAlarmRules {
public:
    // Rules from the file's text; a rule that does not compile is skipped, and
    // problems gets a line naming it by its line number.
    static TAlarmRules Parse(const QString& text, std::vector<std::string>& problems);
    // The rules of the file at path (UTF-8); none when it does not exist.
    static TAlarmRules Load(const std::string& path, std::vector<std::string>& problems);

    bool Empty() const { return rules_.empty(); }
    size_t Count() const { return rules_.size(); }
    // The rule as written in the file.
    const QString& Rule(size_t index) const { return rules_[index].Text; }
    // The rule's line number in the file, from 1.
    int RuleLine(size_t index) const { return rules_[index].Line; }
    // The first rule that a display line matches, -1 for none. The line is
    // bytes as received, read through Windows-1251.
    int Match(std::string_view line) const;

private:
    struct TRule {
        QString Text;
        QRegularExpression Expression;
        int Line = 0;
    };
    std::vector<TRule> rules_;
    // All rules as one alternation: one pass over a line that matches none.
    QRegularExpression any_;
    TAlarmPrefilter prefilter_;
    // The line as text, its storage kept from line to line.
    mutable QString text_;
};
