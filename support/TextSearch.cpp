#include "support/TextSearch.h"

#include "support/CodePage.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace TextSearch {

void FoldInto(std::string_view from, char* to)
{
    // Eight bytes at a time: a byte in 'A'..'Z' gets its 0x20 bit set.
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    constexpr uint64_t kHigh = 0x8080808080808080ull;
    size_t i = 0;
    const size_t n = from.size();
    for (; i + 8 <= n; i += 8) {
        uint64_t word;
        std::memcpy(&word, from.data() + i, 8);
        const uint64_t low7 = word & ~kHigh;
        const uint64_t atLeastA = low7 + (0x80 - 'A') * kOnes;
        const uint64_t aboveZ = low7 + (0x80 - 'Z' - 1) * kOnes;
        const uint64_t upper = atLeastA & ~aboveZ & ~word & kHigh;
        word |= upper >> 2;
        std::memcpy(to + i, &word, 8);
    }
    for (; i < n; ++i)
        to[i] = char(FoldByte(static_cast<unsigned char>(from[i])));
}

std::string Folded(std::string_view text)
{
    std::string out(text.size(), '\0');
    FoldInto(text, out.data());
    return out;
}

namespace {

size_t MemFind(std::string_view text, std::string_view pattern, size_t from)
{
    const void* hit = memmem(text.data() + from, text.size() - from, pattern.data(), pattern.size());
    return hit ? size_t(static_cast<const char*>(hit) - text.data()) : std::string_view::npos;
}

}  // namespace

size_t Find(std::string_view text, std::string_view pattern, size_t from, bool matchCase, std::string_view folded)
{
    constexpr size_t npos = std::string_view::npos;
    if (pattern.empty() || from > text.size() || text.size() - from < pattern.size())
        return npos;
    if (matchCase)
        return MemFind(text, pattern, from);

    const std::string foldedPattern = Folded(pattern);
    if (folded.size() == text.size())
        return MemFind(folded, foldedPattern, from);

    // Fold block by block, each block overlapping the next by the pattern's
    // length less one so that no match is cut in two.
    constexpr size_t kBlock = 64 * 1024;
    const size_t overlap = pattern.size() - 1;
    std::string buffer(kBlock + overlap, '\0');
    for (size_t at = from; text.size() - at >= pattern.size(); at += kBlock) {
        const size_t length = std::min(kBlock + overlap, text.size() - at);
        FoldInto(text.substr(at, length), buffer.data());
        const size_t hit = MemFind(std::string_view(buffer.data(), length), foldedPattern, 0);
        if (hit != npos)
            return at + hit;
        if (length < kBlock + overlap)
            break;
    }
    return npos;
}

Step FindNext(std::string_view text, std::string_view findText, size_t findPosition, bool findNext, bool matchCase,
              std::string_view folded)
{
    Step step;
    step.further = findNext && findPosition != 0;
    const size_t start = step.further ? findPosition + findText.size() : 1;
    const size_t hit = Find(text, findText, start - 1, matchCase, folded);
    step.position = hit == std::string_view::npos ? 0 : hit + 1;
    return step;
}

QString NotFoundMessage(bool further, const QString& findText, const QString& place)
{
    return further ? QStringLiteral("There are no further occurences of \"%1\" in %2.").arg(findText, place)
                   : QStringLiteral("Could not find \"%1\" in %2.").arg(findText, place);
}

std::optional<std::string> FindTextBytes(const QString& findText)
{
    std::string bytes;
    bytes.reserve(size_t(findText.size()));
    for (QChar ch : findText) {
        const int b = CodePage::CharToByte(ch);
        if (b < 0)
            return std::nullopt;
        bytes.push_back(char(b));
    }
    return bytes;
}

}  // namespace TextSearch
