#include "core/NetworkSettings.h"

#include "support/SysCall.h"

#include "support/AtomicFile.h"
#include "support/MyUtils.h"

#include <array>
#include <cerrno>
#include <stdexcept>

namespace {

constexpr char kPieceDelimiter = '^';

// A typed text must not break the file into more lines than it has.
std::string OneLine(std::string_view text)
{
    std::string line;
    for (char c : text)
        if (c != '\r' && c != '\n')
            line += c;
    return line;
}

std::string Encode(const TNetworkSettings& s, const std::function<std::string(std::string_view)>& scramble)
{
    const std::array<std::string, 7> lines = {
        s.RemoteEnabled ? "1" : "0",
        scramble(s.FullAccessPassword) + kPieceDelimiter + scramble(s.ViewerPassword) + kPieceDelimiter +
            scramble(s.SettingsPassword),
        OneLine(s.ListenAddress),
        OneLine(s.ListenPort),
        s.NmsEnabled ? "1" : "0",
        OneLine(s.NmsHost),
        OneLine(s.NmsPort),
    };
    std::string bytes;
    for (const std::string& line : lines)
        bytes += line + "\r\n";
    return bytes;
}

}  // namespace

std::string EncodeNetworkSettings(const TNetworkSettings& settings)
{
    return Encode(settings, [](std::string_view password) { return ScramblePassword(password); });
}

std::string EncodeNetworkSettings(const TNetworkSettings& settings, const RandomByteSource& randomByte)
{
    return Encode(settings,
                  [&randomByte](std::string_view password) { return ScramblePassword(password, randomByte); });
}

TNetworkSettings DecodeNetworkSettings(std::string_view bytes)
{
    std::array<std::string, 7> lines;
    size_t n = 0;
    size_t pos = 0;
    while (pos < bytes.size() && n < lines.size()) {
        size_t end = bytes.find_first_of("\r\n", pos);
        if (end == std::string_view::npos)
            end = bytes.size();
        lines[n++] = std::string(bytes.substr(pos, end - pos));
        pos = end;
        if (pos < bytes.size() && bytes[pos] == '\r')
            ++pos;
        if (pos < bytes.size() && bytes[pos] == '\n')
            ++pos;
    }

    TNetworkSettings s;
    s.RemoteEnabled = lines[0] == "1";
    // The closing delimiter makes the last piece a whole one.
    const std::string passwords = lines[1] + kPieceDelimiter;
    s.FullAccessPassword = UnscramblePassword(GetPiece(passwords, 1, 1, kPieceDelimiter));
    s.ViewerPassword = UnscramblePassword(GetPiece(passwords, 2, 1, kPieceDelimiter));
    s.SettingsPassword = UnscramblePassword(GetPiece(passwords, 3, 1, kPieceDelimiter));
    s.ListenAddress = lines[2];
    s.ListenPort = lines[3];
    s.NmsEnabled = lines[4] == "1";
    s.NmsHost = lines[5];
    s.NmsPort = lines[6];
    return s;
}

bool LoadNetworkSettings(const std::string& path, TNetworkSettings& settings)
{
    std::string bytes;
    if (!ReadWholeFile(path, bytes)) {
        if (errno == ENOENT)
            return false;
        throw std::runtime_error("Cannot read \"" + path + "\": " + ErrnoText(errno));
    }
    if (bytes.empty())
        return false;
    settings = DecodeNetworkSettings(bytes);
    return true;
}

void SaveNetworkSettings(const std::string& path, const TNetworkSettings& settings)
{
    AtomicWriteFile(path, EncodeNetworkSettings(settings), 0600);
}
