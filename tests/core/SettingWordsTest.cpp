#include "core/SettingWords.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <stdexcept>

TEST(SettingWords, EncodesFifteenLittleEndianWords)
{
    TSettingWords words;
    words[TSettingWords::SpeedIndex] = 6;
    words[TSettingWords::PortIndex] = IndexWord(-1);
    words.Words[14] = 0x1234;
    const std::string bytes = EncodeSettingWords(words);
    ASSERT_EQ(bytes.size(), 30u);
    EXPECT_EQ(bytes.substr(0, 4), std::string("\x06\x00\xFF\xFF", 4));
    EXPECT_EQ(bytes.substr(28), std::string("\x34\x12", 2));
}

TEST(SettingWords, DecodeIgnoresTrailingBytesAndRefusesShortFiles)
{
    std::string bytes(32, '\0');
    for (int i = 0; i < 32; ++i)
        bytes[size_t(i)] = char(i + 1);
    TSettingWords words;
    ASSERT_TRUE(DecodeSettingWords(bytes, words));
    EXPECT_EQ(words.Words[0], 0x0201);
    EXPECT_EQ(words.Words[14], 0x1E1D);
    EXPECT_EQ(EncodeSettingWords(words), bytes.substr(0, 30));

    TSettingWords untouched;
    untouched.Words[3] = 7;
    EXPECT_FALSE(DecodeSettingWords(bytes.substr(0, 29), untouched));
    EXPECT_EQ(untouched.Words[3], 7);
}

TEST(SettingWords, IndexesOutsideTheListSelectNothing)
{
    EXPECT_EQ(WordIndex(2, 3), 2);
    EXPECT_EQ(WordIndex(3, 3), -1);
    EXPECT_EQ(WordIndex(65535, 7), -1);
    EXPECT_EQ(WordIndex(IndexWord(-1), 65535), -1);
}

TEST(SettingWords, FileRoundTripAndDamage)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("Setings.ini").toStdString();
    TSettingWords words, read;
    std::string problem;
    EXPECT_EQ(ReadSettingWords(path, read, problem), SettingsRead::Missing);
    for (size_t i = 0; i < TSettingWords::kCount; ++i)
        words.Words[i] = uint16_t(1000 + i);
    WriteSettingWords(path, words);
    EXPECT_EQ(QFile(QString::fromStdString(path)).size(), 30);
    EXPECT_EQ(ReadSettingWords(path, read, problem), SettingsRead::Read);
    EXPECT_EQ(read.Words, words.Words);

    QFile file(QString::fromStdString(path));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("short", 5);
    file.close();
    EXPECT_EQ(ReadSettingWords(path, read, problem), SettingsRead::Damaged);
    EXPECT_NE(problem.find("damaged"), std::string::npos);
    EXPECT_EQ(read.Words, words.Words);
}

TEST(SettingWords, AnUnreadableFileIsDamagedAndAFailedWriteThrows)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("Setings.ini").toStdString();
    ASSERT_TRUE(QDir(dir.path()).mkdir("Setings.ini"));
    TSettingWords words;
    words.Words[0] = 9;
    std::string problem;
    EXPECT_EQ(ReadSettingWords(path, words, problem), SettingsRead::Damaged);
    EXPECT_NE(problem.find(path), std::string::npos) << problem;
    EXPECT_EQ(words.Words[0], 9);

    EXPECT_THROW(WriteSettingWords(dir.filePath("missing/Setings.ini").toStdString(), words), std::runtime_error);
}
