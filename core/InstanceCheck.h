#pragma once
#include <string>

#include <sys/types.h>

// How many running processes of the user have an executable whose file name,
// without its directory, equals name exactly. procRoot is /proc outside tests.
int CountProcessesNamed(const std::string& name, uid_t user, const std::string& procRoot = "/proc");

// True when another copy of this program runs for this user (the program counts
// itself); other users' copies do not count.
bool IsAnotherInstanceRunning();
