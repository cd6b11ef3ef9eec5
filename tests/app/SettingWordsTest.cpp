#include "core/SettingWords.h"
#include "core/CaptureFile.h"
#include "core/InstanceCheck.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

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

TEST(CaptureNames, TwoDigitFormsAndPaths)
{
    EXPECT_EQ(TwoDigits(0), "00");
    EXPECT_EQ(TwoDigits(7), "07");
    EXPECT_EQ(TwoDigits(99), "99");
    EXPECT_EQ(CaptureDirectory(2026, 12), "archive/2026/12/");
    EXPECT_EQ(CaptureName(2026, 12, 7), "07-12-26.CAP");
    EXPECT_EQ(CaptureName(2027, 1, 1), "01-01-27.CAP");
}

TEST(CaptureFileBacklog, KeepsLinesUntilAFileAcceptsThemAndStaysBounded)
{
    TCaptureFile file;
    file.WriteLine("one");
    EXPECT_FALSE(file.Flush());
    EXPECT_EQ(file.PendingBytes(), 5u);

    QTemporaryDir dir;
    file.Open(dir.path().toStdString() + "/a/b/", "x.CAP");
    file.WriteLine("two");
    EXPECT_TRUE(file.Flush());
    file.Close();
    QFile written(dir.filePath("a/b/x.CAP"));
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), QByteArray("one\r\ntwo\r\n"));

    TCaptureFile unbounded;
    const std::string line(1000, 'x');
    for (int i = 0; i < 20000; ++i)
        unbounded.WriteLine(line);
    EXPECT_LE(unbounded.PendingBytes(), TCaptureFile::kBacklogLimit);
    EXPECT_GT(unbounded.DroppedBytes(), 0u);
    EXPECT_EQ(unbounded.PendingBytes() % 1002, 0u);  // only whole lines are dropped
}

TEST(InstanceCheck, CountsProcessesByExecutableFileNameExactly)
{
    QTemporaryDir proc;
    auto process = [&](const char* pid, const char* exe) {
        QDir(proc.path()).mkpath(pid);
        QFile::link(exe, proc.filePath(QString(pid) + "/exe"));
    };
    process("1", "/usr/bin/morvel-pbx");
    process("22", "/opt/other/morvel-pbx");
    process("333", "/usr/bin/Morvel-pbx");
    process("4444", "/usr/bin/morvel-pbx-old");
    QDir(proc.path()).mkpath("self-not-a-pid");
    QDir(proc.path()).mkpath("55");  // no exe link: a process we may not look at
    EXPECT_EQ(CountProcessesNamed("morvel-pbx", proc.path().toStdString()), 2);
    EXPECT_EQ(CountProcessesNamed("Morvel-pbx", proc.path().toStdString()), 1);
}

TEST(CaptureFileBacklog, AnOpenFileTakesMoreLinesAtOnceThanTheBacklogHolds)
{
    QTemporaryDir dir;
    TCaptureFile file;
    file.Open(dir.path().toStdString() + "/", "x.CAP");
    const std::string line(1000, 'x');
    const int lines = int(TCaptureFile::kBacklogLimit / 1002) + 2000;
    for (int i = 0; i < lines; ++i)
        file.WriteLine(line);
    EXPECT_TRUE(file.Flush());
    EXPECT_EQ(file.DroppedBytes(), 0u);
    file.Close();
    EXPECT_EQ(QFileInfo(dir.filePath("x.CAP")).size(), qint64(lines) * 1002);
}

TEST(CaptureFileBacklog, AFullBacklogDropsABlockOfLinesNotOneLinePerWrite)
{
    TCaptureFile refused;
    const std::string line(1000, 'x');
    while (refused.DroppedBytes() == 0)
        refused.WriteLine(line);
    const uint64_t firstDrop = refused.DroppedBytes();
    EXPECT_GE(firstDrop, TCaptureFile::kBacklogLimit / 5);
    for (int i = 0; i < 100; ++i)
        refused.WriteLine(line);
    EXPECT_EQ(refused.DroppedBytes(), firstDrop);  // room was made for these
}
