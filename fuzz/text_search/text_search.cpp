// The find routine of both windows against a plain search written out here:
// the same first match from any start, with and without match case, with and
// without the caller's folded copy, also across the routine's 64 KiB blocks.
// Input: flags, pattern length, padding, start (2 bytes), pattern, text.
#include "fuzz/FuzzSupport.h"
#include "support/CodePage.h"
#include "support/TextSearch.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

size_t PlainFind(std::string_view text, std::string_view pattern, size_t from, bool matchCase)
{
    if (pattern.empty())
        return std::string_view::npos;
    const auto fold = [&](char c) {
        const auto b = static_cast<unsigned char>(c);
        return matchCase || b < 'A' || b > 'Z' ? b : static_cast<unsigned char>(b + 32);
    };
    for (size_t at = from; at <= text.size() && text.size() - at >= pattern.size(); ++at) {
        size_t i = 0;
        while (i < pattern.size() && fold(text[at + i]) == fold(pattern[i]))
            ++i;
        if (i == pattern.size())
            return at;
    }
    return std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 5)
        return 0;
    const bool matchCase = data[0] & 1;
    const bool withFolded = data[0] & 2;
    const bool findNext = data[0] & 4;
    const size_t patternSize = std::min<size_t>(data[1] % 64, size - 5);
    // Padding moves the text across the block boundaries of the routine.
    const size_t padding = size_t(data[2] % 18) * 4093;
    const size_t from = size_t(data[3] | data[4] << 8);
    const std::string_view pattern(reinterpret_cast<const char*>(data) + 5, patternSize);
    const std::string_view rest(reinterpret_cast<const char*>(data) + 5 + patternSize, size - 5 - patternSize);
    std::string text(padding, rest.empty() ? 'a' : rest[0]);
    text.append(rest);

    const std::string folded = TextSearch::Folded(text);
    FUZZ_CHECK(folded.size() == text.size());
    for (size_t i = 0; i < text.size(); ++i)
        FUZZ_CHECK(folded[i] == char(TextSearch::FoldByte(static_cast<unsigned char>(text[i]))));

    const size_t start = padding + from % (rest.size() + 2);
    const std::string_view foldedView = withFolded ? std::string_view(folded) : std::string_view();
    FUZZ_CHECK(TextSearch::Find(text, pattern, start, matchCase, foldedView) ==
               PlainFind(text, pattern, start, matchCase));

    // One press of Find Next after a match at a position the start gives.
    const size_t previous = from % 3 == 0 ? 0 : start + 1;
    const TextSearch::Step step = TextSearch::FindNext(text, pattern, previous, findNext, matchCase, foldedView);
    const bool further = findNext && previous != 0;
    FUZZ_CHECK(step.further == further);
    const size_t hit = PlainFind(text, pattern, further ? previous + pattern.size() - 1 : 0, matchCase);
    FUZZ_CHECK(step.position == (hit == std::string_view::npos ? 0 : hit + 1));

    // A find text made of the code page's characters comes back as the same bytes.
    const std::optional<std::string> bytes = TextSearch::FindTextBytes(CodePage::ToText(pattern));
    FUZZ_CHECK(bytes && *bytes == pattern);
    return 0;
}
