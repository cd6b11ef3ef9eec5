#include "support/TextSearch.h"

#include "support/CodePage.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// The pattern's middle against the text at, folding the text when asked.
bool MiddleMatches(const char* at, std::string_view pattern, bool fold)
{
    if (!fold)
        return std::memcmp(at + 1, pattern.data() + 1, pattern.size() - 2) == 0;
    for (size_t i = 1; i + 1 < pattern.size(); ++i)
        if (FoldByte(static_cast<unsigned char>(at[i])) != static_cast<unsigned char>(pattern[i]))
            return false;
    return true;
}

#if defined(__SSE2__)
__m128i FoldVector(__m128i bytes)
{
    // A byte in 'A'..'Z' gets its 0x20 bit set.
    const __m128i offset = _mm_sub_epi8(bytes, _mm_set1_epi8('A'));
    const __m128i upper = _mm_cmpeq_epi8(_mm_min_epu8(offset, _mm_set1_epi8(25)), offset);
    return _mm_or_si128(bytes, _mm_and_si128(upper, _mm_set1_epi8(0x20)));
}
#endif

// Sixteen places at a time, the pattern's first and last bytes pick the
// places worth a full comparison (pattern folded already when fold is set).
size_t ScanFind(std::string_view text, std::string_view pattern, size_t from, bool fold)
{
    const size_t m = pattern.size();
    const size_t n = text.size();
    if (m == 1 && !fold) {
        const void* hit = std::memchr(text.data() + from, pattern[0], n - from);
        return hit ? size_t(static_cast<const char*>(hit) - text.data()) : std::string_view::npos;
    }
    const auto first = static_cast<unsigned char>(pattern.front());
    const auto last = static_cast<unsigned char>(pattern.back());
    const char* data = text.data();
    size_t i = from;
#if defined(__SSE2__)
    const __m128i firstVector = _mm_set1_epi8(char(first));
    const __m128i lastVector = _mm_set1_epi8(char(last));
    for (; i + m - 1 + 16 <= n; i += 16) {
        __m128i head = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        __m128i tail = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + m - 1));
        if (fold) {
            head = FoldVector(head);
            tail = FoldVector(tail);
        }
        auto candidates = unsigned(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(head, firstVector), _mm_cmpeq_epi8(tail, lastVector))));
        while (candidates) {
            const auto bit = unsigned(__builtin_ctz(candidates));
            if (m <= 2 || MiddleMatches(data + i + bit, pattern, fold))
                return i + bit;
            candidates &= candidates - 1;
        }
    }
#endif
    const auto at = [&](size_t k) {
        const auto c = static_cast<unsigned char>(data[k]);
        return fold ? FoldByte(c) : c;
    };
    for (; i + m <= n; ++i)
        if (at(i) == first && at(i + m - 1) == last && (m <= 2 || MiddleMatches(data + i, pattern, fold)))
            return i;
    return std::string_view::npos;
}

}  // namespace

size_t Find(std::string_view text, std::string_view pattern, size_t from, bool matchCase, std::string_view folded)
{
    constexpr size_t npos = std::string_view::npos;
    if (pattern.empty() || from > text.size() || text.size() - from < pattern.size())
        return npos;
    if (matchCase)
        return ScanFind(text, pattern, from, false);
    const std::string foldedPattern = Folded(pattern);
    if (folded.size() == text.size())
        return ScanFind(folded, foldedPattern, from, false);
    return ScanFind(text, foldedPattern, from, true);
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
