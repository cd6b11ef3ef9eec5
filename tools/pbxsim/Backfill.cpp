#include "Backfill.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>
#include <sys/stat.h>
#include <system_error>
#include <vector>

namespace {

constexpr uint32_t kDayMs = 24u * 3600 * 1000;

// "Авария" (alarm), "Линия" (line), "Повикване" (call), "Транк" (trunk),
// "Неуспешно" (failed) in Windows-1251.
const char kAlarmCyr[] = "\xC0\xE2\xE0\xF0\xE8\xFF";
const char kLineCyr[] = "\xCB\xE8\xED\xE8\xFF";
const char kCallCyr[] = "\xCF\xEE\xE2\xE8\xEA\xE2\xE0\xED\xE5";
const char kTrunkCyr[] = "\xD2\xF0\xE0\xED\xEA";
const char kFailedCyr[] = "\xCD\xE5\xF3\xF1\xEF\xE5\xF8\xED\xEE";

// The folder and those above it.
bool MakeDirectory(const std::string& path)
{
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        if (::mkdir(path.substr(0, slash).c_str(), 0755) != 0 && errno != EEXIST)
            return false;
    return ::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

// One line of the day at ms: mostly call records, then alarms, Cyrillic
// notices and now and then a long table dump.
std::string Line(std::mt19937& random, const std::tm& day, uint32_t ms, unsigned long n)
{
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02d.%02d.%02d %02u:%02u:%02u", day.tm_mday, day.tm_mon + 1, day.tm_year % 100,
                  ms / 3600000, ms / 60000 % 60, ms / 1000 % 60);
    char buf[256];
    const unsigned kind = random() % 1000;
    const unsigned trunk = random() % 24, ext = 200 + random() % 80;
    if (kind < 700) {
        std::snprintf(buf, sizeof buf, "CDR %06lu %s EXT %03u TRK %02u DUR %04u NUM 0%09u", n, stamp, ext, trunk,
                      unsigned(random() % 3600), unsigned(2000000 + random() % 1000000));
        return buf;
    }
    if (kind < 820) {
        std::snprintf(buf, sizeof buf, "%s %s EXT %03u %s %02u", kCallCyr, stamp, ext, kTrunkCyr, trunk);
        return buf;
    }
    if (kind < 900) {
        static const char* const kLevels[] = {"MINOR", "MAJOR", "CRITICAL"};
        std::snprintf(buf, sizeof buf, "ALM %s %s TRK %02u %s %u %s", stamp, kLevels[random() % 3], trunk, kLineCyr,
                      trunk + 1, kAlarmCyr);
        return buf;
    }
    if (kind < 960) {
        std::snprintf(buf, sizeof buf, "ALM %s MAJOR PSU %u FAN FAIL", stamp, unsigned(random() % 2 + 1));
        return buf;
    }
    if (kind < 999) {
        std::snprintf(buf, sizeof buf, "%s %s: %s %02u %s", stamp, kFailedCyr, kTrunkCyr, trunk, kCallCyr);
        return buf;
    }
    // A table dumped without line ends: a few kilobytes on one line.
    std::string dump = "DIS EXT " + std::string(stamp) + ":";
    const unsigned entries = 40 + random() % 200;
    for (unsigned i = 0; i < entries; ++i) {
        std::snprintf(buf, sizeof buf, " %03u %s %s %u;", 200 + i % 80, i % 3 ? "STD" : "EXEC", kLineCyr, i + 1);
        dump += buf;
    }
    return dump;
}

void PutRecord(std::string& index, uint64_t offset, uint32_t ms)
{
    for (int i = 0; i < 8; ++i)
        index.push_back(char(offset >> (8 * i)));
    for (int i = 0; i < 4; ++i)
        index.push_back(char(ms >> (8 * i)));
}

bool WriteFile(const std::string& path, const std::string& bytes)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

}  // namespace

int Backfill(const BackfillOptions& options)
{
    const std::string root = options.DataFolder + "/archive";
    if (!MakeDirectory(root)) {
        std::fprintf(stderr, "pbxsim: cannot create \"%s\": %s\n", root.c_str(),
                     std::generic_category().message(errno).c_str());
        return -1;
    }
    const std::time_t now = std::time(nullptr);
    int written = 0;
    for (int back = options.Days; back >= 1; --back) {
        std::tm day{};
        std::time_t t = now;
        localtime_r(&t, &day);
        day.tm_mday -= back;
        day.tm_hour = 12;  // clear of daylight saving switches
        t = std::mktime(&day);
        localtime_r(&t, &day);
        char folder[64], name[32];
        std::snprintf(folder, sizeof folder, "/%04d/%02d/", day.tm_year + 1900, day.tm_mon + 1);
        std::snprintf(name, sizeof name, "%02d-%02d-%02d", day.tm_mday, day.tm_mon + 1, day.tm_year % 100);
        const std::string directory = root + folder;
        if (!MakeDirectory(directory)) {
            std::fprintf(stderr, "pbxsim: cannot create \"%s\": %s\n", directory.c_str(),
                         std::generic_category().message(errno).c_str());
            return -1;
        }
        const std::string capturePath = directory + name + ".CAP";
        struct stat info {};
        if (::stat(capturePath.c_str(), &info) == 0) {
            std::fprintf(stderr, "pbxsim: %s is there already; left as it is\n", capturePath.c_str());
            continue;
        }
        // The same day always gets the same lines.
        std::mt19937 random(unsigned((day.tm_year + 1900) * 400 + day.tm_yday));
        const uint64_t lines = std::max<uint64_t>(1, options.DayBytes / 65);
        const double step = double(kDayMs) / double(lines);
        std::string capture, index;
        capture.reserve(options.DayBytes + (64u << 10));
        index.reserve(size_t(lines + 16) * 12);
        for (unsigned long n = 0; capture.size() < options.DayBytes; ++n) {
            const uint32_t ms =
                std::min<uint32_t>(kDayMs - 1, uint32_t(double(n) * step + double(random() % unsigned(step + 1))));
            PutRecord(index, capture.size(), ms);
            capture += Line(random, day, ms, n);
            capture += "\r\n";
        }
        if (!WriteFile(capturePath, capture) || !WriteFile(directory + name + ".TIM", index)) {
            std::fprintf(stderr, "pbxsim: cannot write \"%s\": %s\n", capturePath.c_str(),
                         std::generic_category().message(errno).c_str());
            return -1;
        }
        ++written;
    }
    return written;
}
