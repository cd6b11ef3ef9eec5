#pragma once
// Name and number conversions for the Addr, Port and Proto texts of TWSocket.
// Each resolver raises ESocketException with its text.
#include "net/WSocketErrors.h"

#include <cstdint>
#include <optional>
#include <string>

// The text without leading and trailing blanks and control characters.
std::string WSocketTrim(const std::string& text);

int WSocketResolveProto(const std::string& proto);
uint16_t WSocketResolvePort(const std::string& port, const std::string& proto);
uint32_t WSocketResolveHost(const std::string& host);  // network order
// Four groups of decimal digits, each at most 255, blanks around allowed. A
// leading zero is still decimal: "010" is 10, where inet_aton reads 8.
std::optional<uint32_t> WSocketDottedIP(const std::string& text);  // network order
bool WSocketIsDottedIP(const std::string& text);
