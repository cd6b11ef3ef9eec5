#include "core/NetworkSettings.h"

#include "support/SysCall.h"

#include "support/AtomicFile.h"
#include "support/MyUtils.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <stdexcept>

namespace {

constexpr char kPieceDelimiter = '^';
constexpr size_t kLineCount = 7;

// What ScramblePassword makes: uppercase hexadecimal, four digits for each
// character of a password the edits can hold.
bool IsScrambledText(std::string_view piece)
{
    if (piece.size() % 4 != 0 || piece.size() > 4 * size_t(kMaxPasswordLength))
        return false;
    for (char c : piece)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    return true;
}

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
    const std::array<std::string, kLineCount> lines = {
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

TNetworkSettings DecodeNetworkSettings(std::string_view bytes, std::string* problem)
{
    std::array<std::string, kLineCount> lines;
    size_t n = 0;
    size_t pos = 0;
    bool lastEnded = true;
    while (pos < bytes.size() && n < lines.size()) {
        size_t end = bytes.find_first_of("\r\n", pos);
        if (end == std::string_view::npos)
            end = bytes.size();
        lines[n++] = std::string(bytes.substr(pos, end - pos));
        pos = end;
        lastEnded = pos < bytes.size();
        if (pos < bytes.size() && bytes[pos] == '\r')
            ++pos;
        if (pos < bytes.size() && bytes[pos] == '\n')
            ++pos;
    }

    // The first wrong line is named; where the file is cut, that comes first.
    std::string wrong;
    size_t wrongLine = kLineCount + 1;
    auto fault = [&](size_t line, const std::string& what) {
        if (line >= wrongLine)
            return;
        wrongLine = line;
        wrong = "line " + std::to_string(line) + " " + what;
    };
    if (!lastEnded)
        fault(n, "is cut short");
    else if (n < lines.size())
        fault(n + 1, "is missing");

    TNetworkSettings s;
    s.RemoteEnabled = lines[0] == "1";
    if (n >= 1 && lines[0] != "0" && lines[0] != "1")
        fault(1, "is neither \"0\" nor \"1\"");
    // The closing delimiter makes the last piece a whole one.
    const std::string passwords = lines[1] + kPieceDelimiter;
    // A piece the file ends in may be cut anywhere: it is not taken, even when it looks whole.
    const size_t wholePieces =
        n == 2 && !lastEnded ? size_t(std::count(lines[1].begin(), lines[1].end(), '^')) : size_t(3);
    std::string* const targets[] = {&s.FullAccessPassword, &s.ViewerPassword, &s.SettingsPassword};
    const char* const names[] = {"full-access", "viewer", "settings"};
    for (size_t i = 0; i < 3 && i < wholePieces; ++i) {
        const std::string piece = GetPiece(passwords, int(i) + 1, 1, kPieceDelimiter);
        if (IsScrambledText(piece))
            *targets[i] = UnscramblePassword(piece);
        else
            fault(2, std::string("holds a ") + names[i] + " password that is not scrambled text");
    }
    s.ListenAddress = lines[2];
    s.ListenPort = lines[3];
    s.NmsEnabled = lines[4] == "1";
    if (n >= 5 && lines[4] != "0" && lines[4] != "1")
        fault(5, "is neither \"0\" nor \"1\"");
    s.NmsHost = lines[5];
    s.NmsPort = lines[6];

    if (!wrong.empty()) {
        s.RemoteEnabled = false;
        s.NmsEnabled = false;
    }
    if (problem)
        *problem = wrong;
    return s;
}

bool LoadNetworkSettings(const std::string& path, TNetworkSettings& settings, std::string& problem)
{
    problem.clear();
    std::string bytes;
    if (!ReadWholeFile(path, bytes)) {
        if (errno == ENOENT)
            return false;
        throw std::runtime_error("Cannot read \"" + path + "\": " + ErrnoText(errno));
    }
    if (bytes.empty())
        return false;
    settings = DecodeNetworkSettings(bytes, &problem);
    if (!problem.empty())
        problem = "\"" + path + "\" is damaged: " + problem + ".";
    return true;
}

void SaveNetworkSettings(const std::string& path, const TNetworkSettings& settings)
{
    AtomicWriteFile(path, EncodeNetworkSettings(settings), 0600);
}
