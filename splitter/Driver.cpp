#include "splitter/Driver.h"

#include <cstdio>

#include "common/OSM/Banner.h"
#include "splitter/Options.h"

int RunSplitter(const char* const* arguments, int count)
{
    std::puts(OSM::kBanner);
    if (count == 0) {
        std::puts(kUsageText);
        return kExitUsage;
    }
    CSettings settings;
    if (!ParseCommandLine(settings, arguments, count))
        return kExitUsage;
    std::puts("");
    return kExitDone;
}
