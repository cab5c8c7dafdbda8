#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/format_types.h"

// The command line of `brevant`, parsed.
enum class CliCommand { None, Help, List, Format };

struct CliOptions {
    CliCommand command = CliCommand::None;
    FormatMode mode = FormatMode::Quick;  // --full gives Full
    std::string device;                   // --device NODE; empty: the one flash disk found
    bool assumeYes = false;               // --yes
    std::string settingsPath;  // --settings FILE; empty: Brevant.ini in the current folder
    bool settingsGiven = false;
    std::string logPath;      // --log FILE; empty: brevant.log when GenerateLog is on
    std::string simulate;     // --simulate DESCRIPTION
    std::string exportImage;  // --export-image FILE (simulated disk only)
    std::string exportPages;  // --export-pages FILE (simulated disk only)
    std::string tracePath;    // --trace FILE (simulated machine only)
    std::uint32_t simLatencyMicroseconds = 0;  // --sim-latency MICROSECONDS
    bool latencyGiven = false;
};

// Parses argv (without argv[0]). On a usage error returns false with a one-line reason.
bool ParseCommandLine(const std::vector<std::string>& args, CliOptions* options,
                      std::string* error);

// The text `brevant --help` prints.
std::string UsageText();
