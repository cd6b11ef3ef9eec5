#include "core/Extras.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

void Write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

}  // namespace

TEST(Extras, RoundTripInTheWatchGroup)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Extras.ini");
    EXPECT_EQ(LoadExtras(path.toStdString()).QuietMinutes, 0) << "no file: the defaults";
    SaveExtras(path.toStdString(), TExtras{15});
    EXPECT_EQ(LoadExtras(path.toStdString()).QuietMinutes, 15);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_TRUE(text.contains("[watch]")) << text.toStdString();
    EXPECT_TRUE(text.contains("quiet_minutes=15")) << text.toStdString();
}

TEST(Extras, ADamagedFileMeansTheDefaults)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Extras.ini");
    for (const QByteArray& bytes :
         {QByteArray("[watch]\nquiet_minutes=many\n"), QByteArray("[watch]\nquiet_minutes=-5\n"),
          QByteArray("\x00\xff\x01garbage", 10), QByteArray("quiet_minutes=7\n")}) {
        Write(path, bytes);
        EXPECT_EQ(LoadExtras(path.toStdString()).QuietMinutes, 0) << bytes.toStdString();
    }
    QDir().mkpath(dir.filePath("sub"));
    EXPECT_THROW(SaveExtras(dir.path().toStdString(), TExtras{1}), std::runtime_error) << "a folder is no file";
}
