#pragma once
// Scrambling of the passwords kept in "Setings.str". It hides them from a
// casual reader of the file; anybody who knows the key can read them.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

extern const std::array<uint8_t, 12> ScrambleKey;

// Returns a byte from 0 to 254.
using RandomByteSource = std::function<uint8_t()>;

// Uppercase hex, 4 characters per password byte: the masked bytes, then the
// random bytes that masked them. Differs from call to call.
std::string ScramblePassword(std::string_view password);
std::string ScramblePassword(std::string_view password, const RandomByteSource& randomByte);

// Inverse of ScramblePassword for passwords of any length. Text that was not
// made by the scrambler reads as some other text, never out of bounds.
std::string UnscramblePassword(std::string_view scrambled);

// '0'..'9' give 0..9, any other character its code minus 55 ('A'..'F' give 10..15).
int HexDigitValue(char c);
