#include "splitter/Passes.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "splitter/Options.h"
#include "splitter/OutputFiles.h"

using namespace Splitter;

namespace {

TEST(Passes, GroupsSharingAFileAreNeverSplit)
{
    const std::string sources[] = {"0", "1", "2"};
    const struct {
        const char* what;
        std::vector<uint64_t> runs;  // of areas of one source each
        bool multiContour;
        uint32_t maxAreas, maxFiles;
        std::vector<uint64_t> ends;  // of the passes, in order
    } cases[] = {
        {"max-areas", {3, 3}, false, 4, 100, {4, 6}},
        {"groups join beyond max-areas", {3, 1, 1}, true, 2, 100, {3, 5}},
        {"open files", {5}, false, 256, 2, {2, 4, 5}},
        {"open files, groups", {3, 2, 2}, true, 256, 2, {5, 7}},
        {"a group that would overflow the pass", {1, 32768, 2}, true, 40000, 100, {1, 32769, 32771}},
        {"single areas fill the pass", {32770}, false, 40000, 40000, {32768, 32770}},
    };
    for (const auto& c : cases) {
        TAreaList areas;
        for (size_t r = 0; r < c.runs.size(); ++r)
            for (uint64_t i = 0; i < c.runs[r]; ++i)
                areas.EmplaceBack().source = &sources[r];
        CSettings settings;
        settings.multiContour = c.multiContour;
        settings.maxAreas = c.maxAreas;
        std::vector<uint64_t> ends;
        for (uint64_t first = 0; first < areas.Count() && ends.size() < 10; first = ends.back())
            ends.push_back(PassEnd(COutputPlan(areas, settings), first, settings, c.maxFiles));
        EXPECT_EQ(ends, c.ends) << c.what;
    }
}

}  // namespace
