#include "core/InstanceCheck.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

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
    process("66", "/usr/bin/morvel-pbx (deleted)");  // replaced on disk while running
    process("self", "/usr/bin/morvel-pbx");
    QDir(proc.path()).mkpath("self-not-a-pid");
    QDir(proc.path()).mkpath("55");  // no exe link: a process we may not look at
    const std::string root = proc.path().toStdString();
    EXPECT_EQ(CountProcessesNamed("morvel-pbx", ::getuid(), root), 3);
    EXPECT_EQ(CountProcessesNamed("Morvel-pbx", ::getuid(), root), 1);
    EXPECT_EQ(CountProcessesNamed("morvel-pbx", ::getuid(), proc.filePath("gone").toStdString()), 0);
}

TEST(InstanceCheck, OnlyTheUsersOwnProcessesCount)
{
    QTemporaryDir proc;
    for (const char* pid : {"10", "20"}) {
        QDir(proc.path()).mkpath(pid);
        QFile::link("/usr/bin/morvel-pbx", proc.filePath(QString(pid) + "/exe"));
    }
    const std::string root = proc.path().toStdString();
    EXPECT_EQ(CountProcessesNamed("morvel-pbx", ::getuid() + 1, root), 0) << "another user's copies";
    // As the superuser the test can give one of them to another user.
    if (::geteuid() == 0 && ::lchown(proc.filePath("20").toLocal8Bit().constData(), 4242, 4242) == 0) {
        EXPECT_EQ(CountProcessesNamed("morvel-pbx", ::getuid(), root), 1);
        EXPECT_EQ(CountProcessesNamed("morvel-pbx", 4242, root), 1);
    }
}
