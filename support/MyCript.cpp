#include "support/MyCript.h"

#include <mutex>
#include <random>

const std::array<uint8_t, 12> ScrambleKey = {0x5E, 0x91, 0x0B, 0xC4, 0x27, 0xD8, 0x63, 0xAF, 0x14, 0x72, 0xE9, 0x3D};

namespace {

uint8_t DefaultRandomByte()
{
    static std::mutex lock;
    static std::mt19937 generator{std::random_device{}()};
    std::uniform_int_distribution<int> draw(0, 254);
    std::lock_guard guard(lock);
    return uint8_t(draw(generator));
}

void AppendHex(std::string& out, uint8_t value)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    out += digits[value >> 4];
    out += digits[value & 0x0F];
}

uint8_t HexPair(char high, char low)
{
    // Wraps modulo 256 like the original byte arithmetic.
    return uint8_t(16 * HexDigitValue(high) + HexDigitValue(low));
}

}  // namespace

std::string ScramblePassword(std::string_view password) { return ScramblePassword(password, DefaultRandomByte); }

std::string ScramblePassword(std::string_view password, const RandomByteSource& randomByte)
{
    std::string masked;
    std::string randoms;
    masked.reserve(2 * password.size());
    randoms.reserve(2 * password.size());
    for (size_t i = 0; i < password.size(); ++i) {
        const size_t position = i + 1;
        const uint8_t r = randomByte();
        AppendHex(randoms, r);
        AppendHex(masked, uint8_t(r ^ uint8_t(password[i]) ^ ScrambleKey[position % 12]));
    }
    return masked + randoms;
}

std::string UnscramblePassword(std::string_view scrambled)
{
    // One half holds the masked bytes, the other the random bytes; a stray
    // odd character at the end belongs to neither.
    const size_t half = scrambled.size() / 2;
    std::string password;
    password.reserve(half / 2);
    for (size_t i = 0; i + 1 < half; i += 2) {
        const uint8_t m = HexPair(scrambled[i], scrambled[i + 1]);
        const uint8_t r = HexPair(scrambled[half + i], scrambled[half + i + 1]);
        const size_t position = i / 2 + 1;
        password += char(m ^ ScrambleKey[position % 12] ^ r);
    }
    return password;
}

int HexDigitValue(char c)
{
    const unsigned char code = static_cast<unsigned char>(c);
    if (code >= '0' && code <= '9')
        return code - '0';
    return code - 55;
}
