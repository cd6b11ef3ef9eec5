#pragma once
#include <string>

// How many running processes have an executable whose file name, without its
// directory, equals name exactly. procRoot is /proc outside tests.
int CountProcessesNamed(const std::string& name, const std::string& procRoot = "/proc");

// True when another copy of this program is running (the program counts itself).
bool IsAnotherInstanceRunning();
