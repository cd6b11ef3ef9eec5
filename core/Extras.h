#pragma once
// "Extras.ini": settings the original files have no room for, in Qt's INI
// format. A missing or damaged file means the defaults.
#include <string>

struct TExtras {
    int QuietMinutes = 0;  // [watch] quiet_minutes; 0 is off
};

TExtras LoadExtras(const std::string& path);
// Throws std::runtime_error naming the file when it cannot be written.
void SaveExtras(const std::string& path, const TExtras& extras);
