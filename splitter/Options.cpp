#include "splitter/Options.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <strings.h>

#include "common/streams/FileStream.h"
#include "common/streams/FileSystem.h"
#include "splitter/Log.h"

namespace Splitter {

const char* const kUsageText =
    "Usage: splitter [options] file.pbf\n\nAvailable options [defaults]:\n"
    "--admin-level|-al             \tWrite boundary relations             \t[0]\n"
    "--description|-d              \tDescription                          \t[]\n"
    "--max-areas|-ma               \tMax areas per pass                   \t[256]\n"
    "--max-nodes|-mn               \tMax nodes per area                   \t[1600000]\n"
    "--multi-contour|-mc           \tEnable multi contour                 \t[OFF]\n"
    "--output-dir|-o               \tOutput dir                           \t[Current]\n"
    "--out-filenames|-of           \tfilename or polyname                 \t[polyname]\n"
    "--pbf                         \tWrite PBF                            \t[XML]\n"
    "--poly-file|-p                \tPoly-file/dir                        \t[]\n"
    "--process-outer|-po           \tProcess outer nodes (with -p)        \t[OFF]\n"
    "--reserve-nodes|-r            \tReserve memory for nodes             \t[0]\n"
    "--split-file|-s               \tareas.list                           \t[]\n"
    "--verbose|-v                  \tVerbose                              \t[OFF]\n"
    "--write-kml|-k                \tWrite areas KML file                 \t[]\n"
    "--write-separate-contours|-wsc\tWrite area contours in separate files\t[OFF]\n";

namespace {

bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

void ReportBadValue(const char* name) { std::printf("Bad \"%s\" value.\n", name); }

// Base 10 as strtoul and strtol read it: blanks and a sign are accepted, a
// magnitude beyond the sign's limit is a range error. Returns false on a range
// error or when characters follow the number.
bool ParseDecimal(const std::string& text, uint64_t limit, uint64_t negativeLimit, bool& negative,
                  uint64_t& magnitude)
{
    const char* p = text.c_str();
    while (IsSpace(*p))
        ++p;
    negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    if (negative)
        limit = negativeLimit;
    const char* digits = p;
    magnitude = 0;
    bool range = false;
    for (; *p >= '0' && *p <= '9'; ++p) {
        magnitude = magnitude * 10 + uint64_t(*p - '0');
        if (magnitude > limit) {
            range = true;
            magnitude = limit;
        }
    }
    if (p == digits)  // no number: nothing was converted
        p = text.c_str();
    return !range && *p == 0;
}

// strtoul for a 32-bit unsigned long: a minus negates modulo 2^32.
bool ParseUnsigned32(const std::string& text, uint32_t& result)
{
    bool negative;
    uint64_t magnitude;
    if (!ParseDecimal(text, UINT32_MAX, UINT32_MAX, negative, magnitude))
        return false;
    result = negative ? uint32_t(0u - uint32_t(magnitude)) : uint32_t(magnitude);
    return true;
}

// strtol for a 32-bit long.
bool ParseSigned32(const std::string& text, int32_t& result)
{
    bool negative;
    uint64_t magnitude;
    if (!ParseDecimal(text, uint64_t(INT32_MAX), uint64_t(INT32_MAX) + 1, negative, magnitude))
        return false;
    result = negative ? int32_t(-int64_t(magnitude)) : int32_t(magnitude);
    return true;
}

bool GetTextOption(CSettings& settings, const char* longName, const char* shortName, std::string& field)
{
    if (TOption* option = FindOption(settings, longName, shortName))
        field = option->value;
    return true;
}

bool GetNumberOption(CSettings& settings, const char* longName, const char* shortName, uint32_t& field,
                     bool zeroIsBad = false)
{
    TOption* option = FindOption(settings, longName, shortName);
    if (option == nullptr)
        return true;
    uint32_t value;
    if (!ParseUnsigned32(option->value, value) || (zeroIsBad && value == 0)) {
        ReportBadValue(option->name.c_str());
        return false;
    }
    field = value;
    return true;
}

bool GetOutFileNamesOption(CSettings& settings)
{
    TOption* option = FindOption(settings, "out-filenames", "of");
    if (option == nullptr)
        return true;
    if (strcasecmp(option->value.c_str(), "filename") == 0) {
        settings.polyName = false;
    } else if (strcasecmp(option->value.c_str(), "polyname") == 0) {
        settings.polyName = true;
    } else {
        ReportBadValue("out-filenames");
        return false;
    }
    return true;
}

// "FIRST-LAST": two plain decimal numbers, FIRST not above LAST; or "none".
bool GetAreaRangeOption(CSettings& settings)
{
    TOption* option = FindOption(settings, "area-range", "ar");
    if (option == nullptr)
        return true;
    const std::string& text = option->value;
    settings.areaRangeName = option->name;
    if (strcasecmp(text.c_str(), "none") == 0) {
        settings.describeOnly = true;
        return true;
    }
    const size_t dash = text.find('-');
    auto number = [](std::string_view digits, uint32_t& value) {
        if (digits.empty() || digits.size() > 10 || digits.find_first_not_of("0123456789") != std::string_view::npos)
            return false;
        const uint64_t v = std::strtoull(std::string(digits).c_str(), nullptr, 10);
        value = uint32_t(v);
        return v <= UINT32_MAX;
    };
    if (dash == std::string::npos || !number(std::string_view(text).substr(0, dash), settings.firstArea) ||
        !number(std::string_view(text).substr(dash + 1), settings.lastArea) || settings.firstArea > settings.lastArea) {
        ReportBadValue(option->name.c_str());
        return false;
    }
    return true;
}

bool IsConfigExtension(std::string_view extension)
{
    std::string ext(extension);
    return strcasecmp(ext.c_str(), ".cfg") == 0 || strcasecmp(ext.c_str(), ".conf") == 0 ||
           strcasecmp(ext.c_str(), ".config") == 0;
}

}  // namespace

TOption* FindOption(CSettings& settings, const char* longName, const char* shortName)
{
    TOption* first = nullptr;
    for (TOption& option : settings.options) {
        if (strcasecmp(option.name.c_str(), longName) == 0 ||
            (shortName != nullptr && strcasecmp(option.name.c_str(), shortName) == 0)) {
            option.used = true;
            if (first == nullptr)
                first = &option;
        }
    }
    if (first == nullptr || (first->value.empty() && first->fromConfig))
        return nullptr;
    return first;
}

bool GetFlagOption(CSettings& settings, const char* longName, const char* shortName, bool& flag)
{
    TOption* option = FindOption(settings, longName, shortName);
    if (option == nullptr)
        return true;
    if (option->value.empty()) {
        flag = true;
        return true;
    }
    int32_t value;
    if (!ParseSigned32(option->value, value) || uint32_t(value) > 1) {
        ReportBadValue(option->name.c_str());
        return false;
    }
    flag = value == 1;
    return true;
}

bool LoadConfigFile(CSettings& settings, const std::string& path, CLog& log)
{
    std::string fault;
    try {
        CFileReadStream file(CFileReadStream::kWholeFile);
        if (!file.Open(path)) {
            fault = file.OpenError();
        } else {
            if (file.Remaining() >= 3) {
                const uint8_t* head = file.Get(3);
                if (!(head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF))
                    file.Seek(0);
            }
            for (uint64_t number = 1; char* line = file.ReadLine(); ++number) {
                if (line[0] == '#' || line[0] == ';')
                    continue;
                while (IsSpace(*line))
                    ++line;
                if (*line == 0)
                    continue;
                char* equals = std::strchr(line, '=');
                if (equals == nullptr || equals == line) {
                    fault = "line " + std::to_string(number) + (equals == nullptr ? " has no \"=\"" : " has no name");
                    break;
                }
                char* nameEnd = equals;
                while (nameEnd > line && IsSpace(nameEnd[-1]))
                    --nameEnd;
                char* value = equals + 1;
                while (IsSpace(*value))
                    ++value;
                char* valueEnd = value + std::strlen(value);
                while (valueEnd > value && IsSpace(valueEnd[-1]))
                    --valueEnd;
                settings.options.PushBack(TOption{std::string(line, nameEnd), std::string(value, valueEnd), false, true});
            }
        }
    } catch (const TStreamException&) {
        fault = "reading failed";
    }
    if (fault.empty())
        return true;
    log.Format("Config file \"%s\": %s.", path.c_str(), fault.c_str());
    log.Line("Error loading config file.");
    return false;
}

bool ScanArguments(CSettings& settings, const char* const* arguments, int count)
{
    for (int i = 0; i < count; ++i) {
        const char* argument = arguments[i];
        if (argument[0] == '-') {
            const char* rest = argument + (argument[1] == '-' ? 2 : 1);
            if (const char* equals = std::strchr(rest, '=')) {
                std::string name(rest, equals);
                if (strcasecmp(name.c_str(), "config") == 0 || strcasecmp(name.c_str(), "cfg") == 0)
                    settings.configFile = equals + 1;
                else
                    settings.options.PushBack(TOption{std::move(name), equals + 1, false, false});
            } else {
                settings.options.PushBack(TOption{rest, {}, false, false});
            }
        } else if (IsConfigExtension(ExtensionPart(argument))) {
            settings.configFile = argument;
        } else {
            settings.positionals.PushBack(argument);
        }
    }
    if (settings.configFile) {
        CStdOutLog log;
        return LoadConfigFile(settings, *settings.configFile, log);
    }
    return true;
}

bool ParseCommandLine(CSettings& settings, const char* const* arguments, int count)
{
    if (!ScanArguments(settings, arguments, count))
        return false;
    if (settings.positionals.Empty()) {
        ReportBadValue("input file");
        return false;
    }
    settings.inputFile = settings.positionals[0];
    settings.positionalsConsumed = 1;

    bool ok = GetTextOption(settings, "description", "d", settings.description) &&
              GetNumberOption(settings, "max-areas", "ma", settings.maxAreas, true) &&
              GetNumberOption(settings, "max-nodes", "mn", settings.maxNodes) &&
              GetNumberOption(settings, "reserve-nodes", "r", settings.reserveNodes) &&
              GetNumberOption(settings, "admin-level", "al", settings.adminLevel) &&
              GetTextOption(settings, "output-dir", "o", settings.outputDir);
    if (!ok)
        return false;
    if (!settings.outputDir.empty() && !IsSeparator(settings.outputDir.back()))
        settings.outputDir += '/';
    ok = GetTextOption(settings, "split-file", "s", settings.splitFile) && GetOutFileNamesOption(settings) &&
         // The usage text names it poly-file; the shorter name stays valid.
         GetTextOption(settings, "poly-file", "p", settings.poly) &&
         GetTextOption(settings, "poly", nullptr, settings.poly) &&
         GetTextOption(settings, "write-kml", "k", settings.writeKml) &&
         GetFlagOption(settings, "verbose", "v", settings.verbose) &&
         GetFlagOption(settings, "pbf", nullptr, settings.pbf) &&
         GetFlagOption(settings, "process-outer", "po", settings.processOuter) &&
         GetFlagOption(settings, "multi-contour", "mc", settings.multiContour) &&
         GetFlagOption(settings, "write-separate-contours", "wsc", settings.writeSeparateContours) &&
         GetFlagOption(settings, "progress", nullptr, settings.progress) && GetAreaRangeOption(settings);
    if (!ok)
        return false;

    CStdOutLog log;
    return !ReportUnusedArguments(settings, log);
}

bool ReportUnusedArguments(CSettings& settings, CLog& log)
{
    bool reported = false;
    for (const TOption& option : settings.options) {
        if (!option.used) {
            log.Format("Wrong param \"%s\".", option.name.c_str());
            reported = true;
        }
    }
    for (uint64_t i = settings.positionalsConsumed; i < settings.positionals.Count(); ++i) {
        log.Format("Wrong key \"%s\".", settings.positionals[i].c_str());
        reported = true;
    }
    return reported;
}

}  // namespace Splitter
