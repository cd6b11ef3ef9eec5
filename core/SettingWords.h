#pragma once
// "Setings.ini": 15 unsigned 16-bit little-endian words, 30 bytes, no header.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

struct TSettingWords {
    enum Word { SpeedIndex = 0, PortIndex, SendCR, SendLF, FontSizeIndex, FontBold };
    static constexpr size_t kCount = 15;
    static constexpr size_t kFileSize = 2 * kCount;

    std::array<uint16_t, kCount> Words{};

    uint16_t& operator[](Word w) { return Words[w]; }
    uint16_t operator[](Word w) const { return Words[w]; }
};

// A list's item index as stored: no selection (-1) becomes 65535.
inline uint16_t IndexWord(int itemIndex) { return uint16_t(itemIndex); }
// A stored word as an item index for a list of count items; -1 when the list has no such item.
inline int WordIndex(uint16_t word, int count) { return word < count ? int(word) : -1; }

std::string EncodeSettingWords(const TSettingWords& words);
// False when fewer than 30 bytes are given; bytes after the 30th are ignored.
bool DecodeSettingWords(std::string_view bytes, TSettingWords& words);

enum class SettingsRead { Missing, Read, Damaged };
// Missing: no file. Damaged: the file exists but cannot be read or is short;
// problem then says why and words are unchanged.
SettingsRead ReadSettingWords(const std::string& path, TSettingWords& words, std::string& problem);
// Creates or replaces the file. Throws std::runtime_error on failure.
void WriteSettingWords(const std::string& path, const TSettingWords& words);
