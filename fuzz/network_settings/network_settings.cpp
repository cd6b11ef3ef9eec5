// "Setings.str": any bytes read without fault, a damaged file never switches a
// service on, what was read writes back as a sound file that reads the same,
// and settings made from the input survive a write and a read unchanged.
#include "core/NetworkSettings.h"

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

bool Same(const TNetworkSettings& a, const TNetworkSettings& b)
{
    return a.RemoteEnabled == b.RemoteEnabled && a.FullAccessPassword == b.FullAccessPassword &&
           a.ViewerPassword == b.ViewerPassword && a.SettingsPassword == b.SettingsPassword &&
           a.ListenAddress == b.ListenAddress && a.ListenPort == b.ListenPort && a.NmsEnabled == b.NmsEnabled &&
           a.NmsHost == b.NmsHost && a.NmsPort == b.NmsPort;
}

// Writes, reads back and checks; the random bytes of the scrambler come from seed.
void RoundTrip(const TNetworkSettings& settings, uint8_t seed)
{
    uint8_t next = seed;
    const std::string bytes = EncodeNetworkSettings(settings, [&next] { return uint8_t(next++ % 255); });
    std::string problem = "unset";
    const TNetworkSettings back = DecodeNetworkSettings(bytes, &problem);
    Check(problem.empty());
    Check(Same(back, settings));
}

std::string OneLine(std::string_view text)
{
    std::string line;
    for (char c : text)
        if (c != '\r' && c != '\n')
            line += c;
    return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(bytes), size);

    std::string problem;
    const TNetworkSettings read = DecodeNetworkSettings(input, &problem);
    if (!problem.empty())
        Check(!read.RemoteEnabled && !read.NmsEnabled);
    for (const std::string* password : {&read.FullAccessPassword, &read.ViewerPassword, &read.SettingsPassword})
        Check(password->size() <= size_t(kMaxPasswordLength));
    RoundTrip(read, size > 0 ? bytes[0] : 0);

    // The input as the panel's values: pieces between 0x01 bytes.
    TNetworkSettings made;
    std::string pieces[9];
    size_t n = 0;
    for (char c : input) {
        if (c == '\x01' && n + 1 < 9)
            ++n;
        else
            pieces[n] += c;
    }
    made.RemoteEnabled = !pieces[0].empty() && (pieces[0][0] & 1);
    made.FullAccessPassword = pieces[1].substr(0, size_t(kMaxPasswordLength));
    made.ViewerPassword = pieces[2].substr(0, size_t(kMaxPasswordLength));
    made.SettingsPassword = pieces[3].substr(0, size_t(kMaxPasswordLength));
    made.ListenAddress = OneLine(pieces[4]);
    made.ListenPort = OneLine(pieces[5]);
    made.NmsEnabled = !pieces[6].empty() && (pieces[6][0] & 1);
    made.NmsHost = OneLine(pieces[7]);
    made.NmsPort = OneLine(pieces[8]);
    RoundTrip(made, size > 1 ? bytes[1] : 0);
    return 0;
}
