#include "core/InstanceCheck.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

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
    EXPECT_EQ(CountProcessesNamed("morvel-pbx", proc.path().toStdString()), 3);
    EXPECT_EQ(CountProcessesNamed("Morvel-pbx", proc.path().toStdString()), 1);
    EXPECT_EQ(CountProcessesNamed("morvel-pbx", proc.filePath("gone").toStdString()), 0);
}
