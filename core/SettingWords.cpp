#include "core/SettingWords.h"

#include "support/SysCall.h"

#include "support/AtomicFile.h"

#include <cerrno>
#include <sys/stat.h>

std::string EncodeSettingWords(const TSettingWords& words)
{
    std::string bytes(TSettingWords::kFileSize, '\0');
    for (size_t i = 0; i < TSettingWords::kCount; ++i) {
        bytes[2 * i] = char(words.Words[i] & 0xFF);
        bytes[2 * i + 1] = char(words.Words[i] >> 8);
    }
    return bytes;
}

bool DecodeSettingWords(std::string_view bytes, TSettingWords& words)
{
    if (bytes.size() < TSettingWords::kFileSize)
        return false;
    for (size_t i = 0; i < TSettingWords::kCount; ++i)
        words.Words[i] = uint16_t(uint8_t(bytes[2 * i]) | uint8_t(bytes[2 * i + 1]) << 8);
    return true;
}

SettingsRead ReadSettingWords(const std::string& path, TSettingWords& words, std::string& problem)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 && errno == ENOENT)
        return SettingsRead::Missing;
    std::string bytes;
    if (!ReadWholeFile(path, bytes)) {
        problem = "Cannot read \"" + path + "\": " + ErrnoText(errno);
        return SettingsRead::Damaged;
    }
    if (!DecodeSettingWords(bytes, words)) {
        problem = "\"" + path + "\" is damaged (" + std::to_string(bytes.size()) + " bytes instead of " +
                  std::to_string(TSettingWords::kFileSize) + ")";
        return SettingsRead::Damaged;
    }
    return SettingsRead::Read;
}

void WriteSettingWords(const std::string& path, const TSettingWords& words)
{
    AtomicWriteFile(path, EncodeSettingWords(words));
}
