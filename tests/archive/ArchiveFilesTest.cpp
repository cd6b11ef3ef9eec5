#include "archive/ArchiveFiles.h"
#include "tests/archive/ArchiveTestSupport.h"

#include <QFile>
#include <stdexcept>

using ArchiveFilesTest = DataFolderTest;

TEST_F(ArchiveFilesTest, SnapshotNeverWritesThroughALinkAndCleansUpOnFailure)
{
    WriteFile("source", "data");
    WriteFile("victim", "keep");
    ASSERT_TRUE(QFile::link("victim", "arch.tmp"));
    ArchiveFiles::Snapshot({"source"}, "arch.tmp");
    EXPECT_EQ(ReadFile("victim"), "keep");
    EXPECT_EQ(ArchiveFiles::ReadAll("arch.tmp"), "data");

    EXPECT_THROW(ArchiveFiles::Snapshot({"source", "missing"}, "arch.tmp"), std::runtime_error);
    EXPECT_FALSE(Exists("arch.tmp"));
    try {
        ArchiveFiles::ReadAll("missing");
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Cannot open \"missing\": No such file or directory");
    }
}
