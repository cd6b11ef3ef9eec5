#pragma once
// The program's command line: what the operator asked for this run.
#include "core/ArchiveCommand.h"

#include <QStringList>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct TCommandLine {
    std::vector<std::string> Ports;  // --port PATH: listed first; the first is chosen for this run
    std::optional<uint32_t> Speed;   // --speed BAUD, one of the speed list's
    std::string DataFolder;          // --data-folder DIR, or the user's folder with --user-data
    bool Help = false;
    bool Version = false;
    std::optional<TArchiveCommand> Archive;  // --search or --export: runs without a window
    std::string Error;                       // what was wrong, for standard error; the program then ends with status 2
};

// args as the program got them, the program's name first.
TCommandLine ParseCommandLine(const QStringList& args);
// One line for each option.
QString CommandLineHelp();
// The speeds the speed list offers.
const std::vector<uint32_t>& ListSpeeds();
