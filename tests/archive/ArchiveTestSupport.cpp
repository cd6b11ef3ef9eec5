#include "tests/archive/ArchiveTestSupport.h"

#include "tests/WaitUntil.h"

#include <QFile>

void DataFolderTest::WriteFile(const QString& path, const std::string& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(file.write(bytes.data(), qint64(bytes.size())), qint64(bytes.size()));
}

std::string DataFolderTest::ReadFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll().toStdString();
}

void DataFolderTest::Capture(const QDate& day, const std::string& bytes)
{
    WriteFile(day.toString(QStringLiteral("'archive'/yyyy/MM/dd-MM-yy'.CAP'")), bytes);
}

TDialogs DataFolderTest::Answering()
{
    TDialogs dialogs = TDialogs::Standard();
    dialogs.ErrorMessage = [this](QWidget*, const QString& text) { messages.push_back(text); };
    return dialogs;
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs) { return WaitUntil(done, timeoutMs); }
