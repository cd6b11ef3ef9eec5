#pragma once
// Where a day's capture file lives, relative to the data folder. The capture
// writer and the archive viewer both name files by these rules.
#include <string>

// 0 to 99 as two decimal digits (the value modulo 100).
std::string TwoDigits(unsigned value);
// "archive/2026/12/" for December 2026.
std::string CaptureDirectory(unsigned year, unsigned month);
// "07-12-26.CAP" for 7 December 2026: day, month and the year's last two digits.
std::string CaptureName(unsigned year, unsigned month, unsigned day);
// "07-12-26.TIM": the receive times of the day's capture file.
std::string TimeIndexName(unsigned year, unsigned month, unsigned day);
// "07-12-26.LOG": the day's event log.
std::string EventLogName(unsigned year, unsigned month, unsigned day);
// "archive/2026/12/07-12-26.*": the day's capture file and any sibling of the same name.
std::string CapturePattern(unsigned year, unsigned month, unsigned day);
