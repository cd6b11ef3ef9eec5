#include "support/MyCript.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>

namespace {

RandomByteSource Fixed(std::string bytes)
{
    auto next = std::make_shared<size_t>(0);
    return [bytes, next]() { return uint8_t(bytes[(*next)++ % bytes.size()]); };
}

std::string RandomText(std::mt19937& gen, size_t length)
{
    std::uniform_int_distribution<int> byte(0, 255);
    std::string text;
    for (size_t i = 0; i < length; ++i)
        text += char(byte(gen));
    return text;
}

}  // namespace

TEST(MyCript, KnownVectorsFromTheKey)
{
    // 'A' ^ key[1] (0x91) ^ 0x00 = 0xD0
    EXPECT_EQ(ScramblePassword("A", Fixed(std::string(1, '\0'))), "D000");
    // 'A' ^ 0x91 ^ 0xFE = 0x2E; 'B' ^ key[2] (0x0B) ^ 0x20 = 0x69
    EXPECT_EQ(ScramblePassword("AB", Fixed("\xFE\x20")), "2E69FE20");
    EXPECT_EQ(UnscramblePassword("2E69FE20"), "AB");
    EXPECT_EQ(UnscramblePassword("D000"), "A");
}

TEST(MyCript, KeyIndexIsPositionModTwelve)
{
    // NUL characters and zero random bytes leave the key bytes themselves:
    // positions 1..11 use indexes 1..11, position 12 index 0, position 13 index 1.
    const std::string password(13, '\0');
    const std::string scrambled = ScramblePassword(password, Fixed(std::string(1, '\0')));
    EXPECT_EQ(scrambled, "910BC427D863AF1472E93D5E91" + std::string(26, '0'));
    EXPECT_EQ(UnscramblePassword(scrambled), password);
}

TEST(MyCript, EmptyPassword)
{
    EXPECT_EQ(ScramblePassword(""), "");
    EXPECT_EQ(UnscramblePassword(""), "");
}

TEST(MyCript, RoundTripsEveryLengthUpTo127AndBeyond)
{
    std::mt19937 gen(7);
    for (size_t length = 0; length <= 300; ++length) {
        const std::string password = RandomText(gen, length);
        const std::string scrambled = ScramblePassword(password);
        ASSERT_EQ(scrambled.size(), 4 * length);
        ASSERT_EQ(UnscramblePassword(scrambled), password) << "length " << length;
    }
}

TEST(MyCript, TwoScramblingsDifferAndBothReadBack)
{
    const std::string password = "Morvel PBX 2323";
    const std::string first = ScramblePassword(password);
    const std::string second = ScramblePassword(password);
    EXPECT_NE(first, second);
    EXPECT_EQ(UnscramblePassword(first), password);
    EXPECT_EQ(UnscramblePassword(second), password);
}

TEST(MyCript, RandomBytesNeverReach255)
{
    const std::string password(127, 'x');
    for (int round = 0; round < 100; ++round) {
        const std::string randoms = ScramblePassword(password).substr(254);
        for (size_t i = 0; i < randoms.size(); i += 2)
            ASSERT_NE(randoms.substr(i, 2), "FF");
    }
}

TEST(MyCript, ShortAndOddTextsStayInBounds)
{
    const std::string scrambled = ScramblePassword("secret");
    // Exactly sized heap copies, so that a read past the end is caught by ASan.
    for (size_t length = 0; length <= scrambled.size() + 1; ++length) {
        std::string source = scrambled.substr(0, length);
        if (length > scrambled.size())
            source += '7';
        auto buffer = std::make_unique<char[]>(length);
        std::copy(source.begin(), source.end(), buffer.get());
        const std::string plain = UnscramblePassword(std::string_view(buffer.get(), length));
        EXPECT_EQ(plain.size(), length / 2 / 2) << "length " << length;
    }
    EXPECT_EQ(UnscramblePassword("D0001"), "A");  // a stray last character is ignored
}

TEST(MyCript, HexDigitValue)
{
    EXPECT_EQ(HexDigitValue('0'), 0);
    EXPECT_EQ(HexDigitValue('9'), 9);
    EXPECT_EQ(HexDigitValue('A'), 10);
    EXPECT_EQ(HexDigitValue('F'), 15);
    // The scrambler writes no lowercase digits; they read as code minus 55.
    EXPECT_EQ(HexDigitValue('a'), 42);
    EXPECT_EQ(HexDigitValue('\xE9'), 0xE9 - 55);
}
