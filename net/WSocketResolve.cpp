#include "net/WSocketResolve.h"

#include "net/SocketApi.h"

#include <algorithm>
#include <cctype>
#include <cstring>

using namespace SockApi;

std::string WSocketTrim(const std::string& text)
{
    size_t first = 0, last = text.size();
    while (first < last && (unsigned char)text[first] <= ' ')
        ++first;
    while (last > first && (unsigned char)text[last - 1] <= ' ')
        --last;
    return text.substr(first, last - first);
}

namespace {

bool StartsWithDigit(const std::string& text) { return !text.empty() && std::isdigit((unsigned char)text[0]); }

// The value of the leading decimal digits, saturated so that it cannot wrap.
long LeadingNumber(const std::string& text)
{
    long value = 0;
    for (char c : text) {
        if (!std::isdigit((unsigned char)c))
            break;
        value = std::min(value * 10 + (c - '0'), 1L << 30);
    }
    return value;
}

}  // namespace

int WSocketResolveProto(const std::string& proto)
{
    if (proto.empty() || proto.size() >= 32)
        throw ESocketException("WSocketResolveProto: Invalid Protocol.");
    std::string text = WSocketTrim(proto);
    if (StartsWithDigit(text))
        return int(LeadingNumber(text));
    int number = ProtocolByName(text);
    if (number < 0)
        throw ESocketException("WSocketResolveProto: Cannot convert protocol '" + text + "', Error #" +
                               std::to_string(SockApi::LastError()));
    return number;
}

uint16_t WSocketResolvePort(const std::string& port, const std::string& proto)
{
    if (port.empty() || port.size() >= 32)
        throw ESocketException("WSocketResolvePort: Invalid Port.");
    if (proto.empty() || proto.size() >= 32)
        throw ESocketException("WSocketResolvePort: Invalid Proto.");
    std::string text = WSocketTrim(port);
    if (StartsWithDigit(text)) {
        long number = LeadingNumber(text);
        // Cut to 16 bits, 70000 would quietly become port 4464.
        if (number > 65535)
            throw ESocketException("WSocketResolvePort: Invalid Port.");
        return uint16_t(number);
    }
    int number = ServiceByName(text, WSocketTrim(proto));
    if (number < 0)
        throw ESocketException("WSocketResolvePort: Cannot convert port '" + text + "', Error #" +
                               std::to_string(SockApi::LastError()));
    return uint16_t(number);
}

std::optional<uint32_t> WSocketDottedIP(const std::string& text)
{
    size_t i = 0, n = text.size();
    while (i < n && text[i] == ' ')
        ++i;
    unsigned char bytes[4] = {};
    for (int group = 0; group < 4; ++group) {
        if (group > 0) {
            if (i >= n || text[i] != '.')
                return std::nullopt;
            ++i;
        }
        size_t start = i;
        long value = 0;
        while (i < n && std::isdigit((unsigned char)text[i])) {
            value = std::min(value * 10 + (text[i] - '0'), 1000L);
            ++i;
        }
        if (i == start || value > 255)
            return std::nullopt;
        bytes[group] = (unsigned char)value;
    }
    while (i < n && text[i] == ' ')
        ++i;
    if (i != n)
        return std::nullopt;
    uint32_t addr = 0;
    std::memcpy(&addr, bytes, sizeof addr);  // first group first: network order
    return addr;
}

bool WSocketIsDottedIP(const std::string& text) { return WSocketDottedIP(text).has_value(); }

uint32_t WSocketResolveHost(const std::string& host)
{
    if (host.empty() || host.size() > 256)
        throw ESocketException("WSocketResolveHost: '" + host + "' Invalid Hostname.");
    std::string text = WSocketTrim(host);
    if (auto dotted = WSocketDottedIP(text))
        return *dotted;
    uint32_t addr = 0;
    if (HostByName(text, addr) < 0)
        throw ESocketException("WSocketResolveHost: Cannot convert host address '" + text + "', Error #" +
                               std::to_string(SockApi::LastError()));
    return addr;
}
