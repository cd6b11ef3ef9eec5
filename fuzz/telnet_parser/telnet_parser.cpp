// The telnet parser: what it reports does not depend on how the input is
// split, every answer it gives is a well-formed command that fits the verb it
// answers, and no subnegotiation it reports passes its cap.
// Input: one byte that seeds the split points, then the bytes from the server.
#include "net/TelnetParser.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace Telnet;

struct Transcript {
    std::string data;                 // all data, in order
    std::vector<std::string> events;  // everything else, in order; data runs appear as one "D"
};

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

// An answer: IAC with a verb and an option, or IAC SB ... IAC SE without another IAC.
void CheckAnswer(std::string_view bytes, unsigned char lastVerb, unsigned char lastOption)
{
    Check(bytes.size() >= 3 && (unsigned char)bytes[0] == IAC);
    const auto verb = (unsigned char)bytes[1];
    if (verb == SB) {
        Check(bytes.size() >= 5 && (unsigned char)bytes[bytes.size() - 2] == IAC && (unsigned char)bytes.back() == SE);
        Check(bytes.substr(2, bytes.size() - 4).find(char(IAC)) == std::string_view::npos);
        return;
    }
    Check(bytes.size() == 3 && verb >= WILL && verb <= DONT);
    Check((unsigned char)bytes[2] == lastOption);
    switch (lastVerb) {
    case WILL:
        Check(verb == DO || verb == DONT);
        break;
    case DO:
        Check(verb == WILL || verb == WONT);
        break;
    default:  // WONT and DONT are only ever refused
        Check(verb == WONT);
        break;
    }
}

Transcript Run(std::string_view input, const std::vector<size_t>& cuts)
{
    Transcript t;
    unsigned char lastVerb = 0, lastOption = 0;
    TTelnetParser parser([&](const TTelnetEvent& e) {
        switch (e.type) {
        case TTelnetEvent::Data:
            t.data.append(e.bytes);
            if (t.events.empty() || t.events.back() != "D")
                t.events.emplace_back("D");
            return;
        case TTelnetEvent::Send:
            CheckAnswer(e.bytes, lastVerb, lastOption);
            break;
        case TTelnetEvent::Negotiation:
            Check(e.verb >= WILL && e.verb <= DONT);
            lastVerb = e.verb;
            lastOption = e.option;
            break;
        case TTelnetEvent::Subnegotiation:
            Check(e.bytes.size() <= TTelnetParser::kMaxSubnegotiation);
            break;
        default:
            break;
        }
        t.events.push_back(std::to_string(int(e.type)) + ":" + std::to_string(e.verb) + ":" + std::to_string(e.option) +
                           ":" + std::string(e.bytes));
    });
    size_t from = 0;
    for (size_t cut : cuts) {
        parser.Feed(input.substr(from, cut - from));
        from = cut;
    }
    parser.Feed(input.substr(from));
    return t;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    if (size < 1)
        return 0;
    const std::string_view input(reinterpret_cast<const char*>(bytes) + 1, size - 1);
    // Cuts at every position, at none, and at pseudo-random ones.
    std::vector<size_t> every, some;
    for (size_t i = 1; i < input.size(); ++i)
        every.push_back(i);
    uint32_t state = bytes[0] * 2654435761u + 1;
    for (size_t i = 1; i < input.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        if ((state >> 28) == 0)
            some.push_back(i);
    }
    const Transcript whole = Run(input, {});
    for (const auto& cuts : {every, some}) {
        const Transcript split = Run(input, cuts);
        Check(split.data == whole.data);
        Check(split.events == whole.events);
    }
    Check(whole.data.size() <= input.size());
    return 0;
}
