#pragma once
// Searching a byte text the way both windows' find does it: downwards from a
// 1-based position, optionally ignoring the case of the letters A to Z only
// (Cyrillic and every other byte compare unchanged).
#include <QString>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace TextSearch {

inline unsigned char FoldByte(unsigned char c)
{
    return static_cast<unsigned char>(c + (static_cast<unsigned char>(c - 'A') < 26 ? 'a' - 'A' : 0));
}
// Writes the folded form of from to to (from.size() bytes).
void FoldInto(std::string_view from, char* to);
std::string Folded(std::string_view text);

// 0-based offset of the first occurrence of pattern starting at or after from,
// npos when there is none. folded, when not empty, is Folded(text), kept by a
// caller that searches a large text often without match case.
size_t Find(std::string_view text, std::string_view pattern, size_t from, bool matchCase, std::string_view folded = {});

struct Step {
    size_t position = 0;   // 1-based position of the match in the whole text, 0 for none
    bool further = false;  // the search went on after an earlier match
};

// One press of Find Next. findPosition is the previous match (0: none, so the
// search starts at the beginning whatever findNext says); a further search
// starts just after the previous match.
Step FindNext(std::string_view text, std::string_view findText, size_t findPosition, bool findNext, bool matchCase,
              std::string_view folded = {});

// The message for a search that found nothing; place is "Capture" or "Archive".
QString NotFoundMessage(bool further, const QString& findText, const QString& place);

// The find text as bytes of the code page; nothing when it holds a character
// the code page lacks (such a text cannot occur in the bytes).
std::optional<std::string> FindTextBytes(const QString& findText);

}  // namespace TextSearch
