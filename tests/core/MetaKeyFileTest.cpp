#include "core/MetaKeyFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cerrno>
#include <gtest/gtest.h>
#include <stdexcept>

TEST(MetaKeyRecords, WriteExactly67BytesPerRecordCutToTheirFields)
{
    std::vector<TMetaKeyRecord> records(kMetaKeyRows);
    records[0] = {std::string(30, 'n'), "dis ext 100", "^M"};
    records[41] = {"last", std::string(50, 'c'), "^M^M^M"};
    const std::string bytes = EncodeMetaKeyRecords(records);
    ASSERT_EQ(bytes.size(), 2814u);
    EXPECT_EQ(bytes[0], 20);
    EXPECT_EQ(bytes.substr(1, 20), std::string(20, 'n'));
    EXPECT_EQ(bytes[21], 11);
    EXPECT_EQ(bytes.substr(22, 11), "dis ext 100");
    EXPECT_EQ(bytes.substr(33, 29), std::string(29, '\0'));
    EXPECT_EQ(bytes.substr(62, 3), std::string("\x02^M", 3));
    EXPECT_EQ(bytes.substr(65, 2), std::string(2, '\0'));
    const std::vector<TMetaKeyRecord> back = DecodeMetaKeyRecords(bytes);
    ASSERT_EQ(back.size(), 42u);
    EXPECT_EQ(back[0].Name, std::string(20, 'n'));
    EXPECT_EQ(back[41].Command, std::string(40, 'c'));
    EXPECT_EQ(back[41].CR, "^M^M");
}

TEST(MetaKeyRecords, FilesOutsideTheFormatAreReadAsFarAsTheyMakeSense)
{
    std::string bytes(44 * 67 + 30, '\0');
    bytes[0] = char(200);  // length above the field
    bytes[21] = char(255);
    bytes[62] = 9;
    const std::vector<TMetaKeyRecord> records = DecodeMetaKeyRecords(bytes);
    ASSERT_EQ(records.size(), 42u);  // surplus and the partial record ignored
    EXPECT_EQ(records[0].Name.size(), 20u);
    EXPECT_EQ(records[0].Command.size(), 40u);
    EXPECT_EQ(records[0].CR.size(), 4u);
    EXPECT_TRUE(DecodeMetaKeyRecords(std::string(66, 'x')).empty());
}

TEST(MetaKeyFile, MissingFileHasNoRecordsAndASavedFileReadsBack)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("MetaKey.ini").toStdString();
    std::string problem;
    EXPECT_TRUE(LoadMetaKeyRecords(path, problem).empty());
    EXPECT_EQ(problem, "");

    std::vector<TMetaKeyRecord> records(10);
    for (size_t i = 0; i < records.size(); ++i)
        records[i] = {"key" + std::to_string(i + 1), "cmd" + std::to_string(i + 1), i % 2 ? "^M" : ""};
    SaveMetaKeyRecords(path, records);
    EXPECT_EQ(QFile(QString::fromStdString(path)).size(), 670);
    const std::vector<TMetaKeyRecord> back = LoadMetaKeyRecords(path, problem);
    EXPECT_EQ(problem, "");
    ASSERT_EQ(back.size(), 10u);
    for (size_t i = 0; i < back.size(); ++i) {
        EXPECT_EQ(back[i].Name, records[i].Name);
        EXPECT_EQ(back[i].Command, records[i].Command);
        EXPECT_EQ(back[i].CR, records[i].CR);
    }

    SaveMetaKeyRecords(path, {});  // replaced, not appended to
    EXPECT_EQ(QFile(QString::fromStdString(path)).size(), 0);
}

TEST(MetaKeyFile, AFileThatCannotBeReadOrWrittenIsNamed)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("MetaKey.ini").toStdString();
    ASSERT_TRUE(QDir(dir.path()).mkdir("MetaKey.ini"));
    std::string problem;
    EXPECT_TRUE(LoadMetaKeyRecords(path, problem).empty());
    EXPECT_NE(problem.find(path), std::string::npos) << problem;
    const std::string unwritable = dir.filePath("missing/MetaKey.ini").toStdString();
    try {
        SaveMetaKeyRecords(unwritable, std::vector<TMetaKeyRecord>(1));
        FAIL() << "wrote into a missing folder";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(unwritable), std::string::npos) << e.what();
    }
}

TEST(MetaKeyFile, RecordsReadBeforeAFailureAreKept)
{
    std::vector<TMetaKeyRecord> records(5);
    for (size_t i = 0; i < records.size(); ++i)
        records[i] = {"key" + std::to_string(i + 1), "cmd", ""};
    const std::string bytes = EncodeMetaKeyRecords(records);
    // Three whole records and a part of the fourth arrive, in pieces of 50 bytes; then the device fails.
    const size_t good = 3 * kMetaKeyRecordSize + 20;
    size_t pos = 0;
    const TByteReader read = [&](char* buffer, size_t size) -> long {
        if (pos >= good) {
            errno = EIO;
            return -1;
        }
        const size_t n = std::min({size, size_t(50), good - pos});
        bytes.copy(buffer, n, pos);
        pos += n;
        return long(n);
    };
    std::string problem;
    const std::vector<TMetaKeyRecord> got = ReadMetaKeyRecords(read, problem);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[2].Name, "key3");
    EXPECT_EQ(problem, "Input/output error");
}
