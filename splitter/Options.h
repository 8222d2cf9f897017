// The option language: command line and configuration file into CSettings.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/base/GrowArray.h"

namespace Splitter {

class CLog;

struct TOption {
    std::string name;   // as the user typed it
    std::string value;  // empty when there was no "="
    bool used = false;  // set by every lookup that matches
    bool fromConfig = false;
};

struct CSettings {
    CGrowArray<TOption> options;  // command line first, then the configuration file
    CGrowArray<std::string> positionals;
    uint32_t positionalsConsumed = 0;
    std::optional<std::string> configFile;  // given even when empty

    std::string inputFile;
    std::string description;
    std::string outputDir;  // empty, or ending with '/' or '\\'
    std::string splitFile;
    std::string poly;
    std::string writeKml;
    uint32_t maxAreas = 256;
    uint32_t maxNodes = 1600000;
    uint32_t reserveNodes = 0;
    uint32_t adminLevel = 0;
    bool verbose = false;
    bool pbf = false;
    bool polyName = true;  // out-filenames: true for "polyname", false for "filename"
    bool processOuter = false;
    bool multiContour = false;
    bool writeSeparateContours = false;
    // A progress line on standard error even when it is no terminal.
    bool progress = false;
    // area-range: write only the tiles of areas [firstArea, lastArea] of the
    // settled list, so that separate jobs can share phase 2.
    std::string areaRangeName;  // as the user typed it; empty without the option
    uint32_t firstArea = 0;
    uint32_t lastArea = UINT32_MAX;
    // area-range=none: settle the areas and write their descriptions, but
    // no tile, for jobs that then load the written areas.list.
    bool describeOnly = false;
};

extern const char* const kUsageText;

// Parses the arguments (without the program name) into settings. Returns
// false, after printing why, when an option or value was not understood.
bool ParseCommandLine(CSettings& settings, const char* const* arguments, int count);

// Splits the arguments into option records, positionals and the
// configuration file path, then loads that file. False when it fails to load.
bool ScanArguments(CSettings& settings, const char* const* arguments, int count);

// Appends the file's "name = value" lines as option records. False, after
// logging why and "Error loading config file.", when the file cannot be read
// or holds a line without a name or "="; records appended before the failure
// stay.
bool LoadConfigFile(CSettings& settings, const std::string& path, CLog& log);

// Marks every record named longName or shortName (any case) used and returns
// the first one, or null when the option is absent. An empty value from the
// configuration file counts as absent.
TOption* FindOption(CSettings& settings, const char* longName, const char* shortName);

// Reads a 0/1 option into flag; leaves flag unchanged when it is absent.
// Returns false, after printing the bad-value line, when the value is bad.
bool GetFlagOption(CSettings& settings, const char* longName, const char* shortName, bool& flag);

// Logs "Wrong param" for every record no lookup matched and "Wrong key" for
// every surplus positional. Returns true when anything was reported.
bool ReportUnusedArguments(CSettings& settings, CLog& log);

}  // namespace Splitter
