// The password line of a remote client: the decision does not depend on how
// the bytes arrive, matches a plain reading of the rule, asks for the
// passwords only once the line is complete, and never keeps more than the limit.
// Input: a byte that seeds the split points, the full-access password and the
// viewer password each ended by a NUL byte, then what the client sends.
#include "core/RemoteLogin.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

TLoginDecision Reference(std::string_view sent, const TLoginPasswords& passwords)
{
    const size_t cr = sent.find('\r');
    if (cr == std::string_view::npos || cr >= TLoginLine::kLimit)
        return sent.size() >= TLoginLine::kLimit ? TLoginDecision::TooLong : TLoginDecision::Wait;
    const std::string_view line = sent.substr(0, cr);
    if (!passwords.Full.empty() && line == passwords.Full)
        return TLoginDecision::Full;
    if (!passwords.Viewer.empty() && line == passwords.Viewer)
        return TLoginDecision::Viewer;
    return TLoginDecision::Wrong;
}

std::string_view TakeField(std::string_view& input)
{
    const size_t end = input.find('\0');
    const std::string_view field = input.substr(0, end);
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
    return field;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    if (size < 1)
        return 0;
    std::string_view input(reinterpret_cast<const char*>(bytes) + 1, size - 1);
    const TLoginPasswords passwords{std::string(TakeField(input)), std::string(TakeField(input))};
    const TLoginDecision expected = Reference(input, passwords);

    uint32_t state = bytes[0] * 2654435761u + 7;
    for (int round = 0; round < 3; ++round) {
        TLoginLine line;
        int asked = 0;
        auto ask = [&] {
            ++asked;
            return passwords;
        };
        TLoginDecision decision = TLoginDecision::Wait;
        size_t from = 0;
        while (from < input.size()) {
            state = state * 1664525u + 1013904223u;
            // Whole, one byte at a time, or pieces of 1 to 64 bytes.
            const size_t piece = round == 0 ? input.size() : round == 1 ? 1 : 1 + (state >> 26);
            const TLoginDecision before = decision;
            decision = line.Take(input.substr(from, piece), ask);
            Check(before == TLoginDecision::Wait || decision == before);
            Check(line.Text().size() <= TLoginLine::kLimit);
            Check(line.Decided() == (decision != TLoginDecision::Wait));
            from += piece;
        }
        Check(decision == expected);
        const bool lineEnded =
            decision == TLoginDecision::Full || decision == TLoginDecision::Viewer || decision == TLoginDecision::Wrong;
        Check(asked == (lineEnded ? 1 : 0));
        if (line.Decided()) {
            Check(line.Take("\r", ask) == decision);
            Check(asked == (lineEnded ? 1 : 0));
        }
    }
    return 0;
}
