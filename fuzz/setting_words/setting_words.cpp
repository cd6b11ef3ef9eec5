// "Setings.ini": any bytes are read as the program reads them; 30 bytes or more
// give words that encode back to the first 30, fewer leave the words alone and
// call the file damaged; words written and read again come back the same.
#include "core/SettingWords.h"
#include "fuzz/FuzzSupport.h"

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    TSettingWords untouched;
    untouched.Words.fill(0xA55A);

    TSettingWords words = untouched;
    const bool whole = DecodeSettingWords(bytes, words);
    FUZZ_CHECK(whole == (size >= TSettingWords::kFileSize));
    if (whole)
        FUZZ_CHECK(EncodeSettingWords(words) == bytes.substr(0, TSettingWords::kFileSize));
    else
        FUZZ_CHECK(words.Words == untouched.Words);

    // The same bytes as a file on disk.
    const std::string path = FuzzScratchFolder() + "/Setings.ini";
    {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file.write(bytes.data(), std::streamsize(size));
    }
    TSettingWords read = untouched;
    std::string problem;
    const SettingsRead result = ReadSettingWords(path, read, problem);
    FUZZ_CHECK(result == (whole ? SettingsRead::Read : SettingsRead::Damaged));
    FUZZ_CHECK(read.Words == words.Words);
    FUZZ_CHECK(whole == problem.empty());

    // Write, then read again.
    WriteSettingWords(path, words);
    TSettingWords again = untouched;
    problem.clear();
    FUZZ_CHECK(ReadSettingWords(path, again, problem) == SettingsRead::Read);
    FUZZ_CHECK(again.Words == words.Words);
    return 0;
}
