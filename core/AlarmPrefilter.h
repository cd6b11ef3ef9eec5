#pragma once
// A quick look before the alarm rules' regular expressions: the literal words
// every match of a rule must hold. A line (case folded) that holds none of
// them cannot match any rule and is passed over. Where a rule's words cannot
// be told for sure, the look is off and every line goes to the expressions.
// The archive's search by regular expression looks the same way.
#include <QString>
#include <QStringList>
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The words of one pattern, one for each of its top-level alternatives;
// nothing when the pattern holds a construct whose words are not sure.
std::optional<std::vector<QString>> RequiredWords(const QString& pattern);

class TAlarmPrefilter {
public:
    // A pattern with a word shorter than shortestWord leaves the look off.
    void Build(const QStringList& patterns, qsizetype shortestWord = 1);
    bool Active() const { return active_; }
    // False when no rule can match the line (bytes in Windows-1251).
    bool MayMatch(std::string_view line) const;
    // Where the first word at or after from stands in a text of such lines; npos for none.
    size_t Find(std::string_view text, size_t from = 0) const;

private:
    bool active_ = false;
    std::array<unsigned char, 256> fold_{};
    // The words, case folded in Windows-1251, by their first byte.
    std::array<bool, 256> first_{};
    std::array<std::vector<std::string>, 256> byFirst_;
    std::string only_;  // the one word, when the text search can look for it
};
