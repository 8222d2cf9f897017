// What tags decide: which closed ways are areas, what a closing way along a
// border keeps, which relations are closed like multipolygons.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "splitter/clip/TagRules.h"

using namespace Splitter;

namespace {

using TTags = std::vector<std::pair<std::string, std::string>>;

template <typename T>
T Tagged(const TTags& tags)
{
    T entity;
    for (const auto& [key, value] : tags)
        entity.AddTag(key, value);
    return entity;
}

std::string Keys(const CGrowArray<OSM::TTag>& tags)
{
    std::string keys;
    for (const OSM::TTag& tag : tags)
        keys += tag.key + " ";
    return keys;
}

TEST(TagRules, ClosedWaysAreAreasUnlessTheirTagsMakeThemLines)
{
    const struct {
        TTags tags;
        bool area;
        bool highway;
    } cases[] = {
        {{}, true, false},
        {{{"building", "yes"}}, true, false},
        {{{"highway", "pedestrian"}}, false, true},
        {{{"highway", "pedestrian"}, {"area", "yes"}}, true, true},
        {{{"landuse", "meadow"}, {"area", "no"}}, false, false},
        {{{"barrier", "fence"}}, false, false},
        {{{"barrier", "fence"}, {"landuse", "meadow"}}, true, false},
        {{{"natural", "coastline"}}, false, false},
        {{{"natural", "wood"}}, true, false},
        {{{"railway", "platform"}}, true, false},
        {{{"railway", "rail"}}, false, false},
        {{{"power", "line"}}, false, false},
        {{{"power", "substation"}}, true, false},
        {{{"man_made", "pier"}}, true, false},
    };
    for (const auto& c : cases) {
        const auto way = Tagged<OSM::TWay>(c.tags);
        EXPECT_EQ(Clip::IsAreaWay(way), c.area) << Keys(way.tags);
        EXPECT_EQ(Clip::IsHighway(way), c.highway) << Keys(way.tags);
    }
}

TEST(TagRules, ClosingWaysKeepOnlyWhatDescribesTheBoundaryOfALine)
{
    const TTags boundary = {{"boundary", "administrative"}, {"admin_level", "8"}, {"boundary:type", "x"},
                            {"name", "Road"}};
    auto road = Tagged<OSM::TWay>(boundary);
    road.AddTag("highway", "primary");
    Clip::KeepBoundaryTags(road.tags);
    EXPECT_EQ(Keys(road.tags), "boundary admin_level boundary:type ");
    auto plain = Tagged<OSM::TWay>(boundary);
    Clip::KeepBoundaryTags(plain.tags);
    EXPECT_EQ(Keys(plain.tags), "boundary admin_level boundary:type name ");
    Clip::KeepOnlyBoundaryTags(plain.tags);
    EXPECT_EQ(Keys(plain.tags), "boundary admin_level boundary:type ");
}

TEST(TagRules, MultipolygonsAndBoundariesAreClosedInEveryTile)
{
    const struct {
        TTags tags;
        bool closed;
    } cases[] = {
        {{{"type", "multipolygon"}}, true},
        {{{"type", "boundary"}, {"admin_level", "2"}}, true},
        {{{"type", "route"}}, false},
        {{{"boundary", "administrative"}, {"admin_level", " 4"}}, true},
        {{{"boundary", "administrative"}, {"admin_level", "2"}}, false},
        {{{"boundary", "administrative"}, {"admin_level", "x"}}, false},
        {{{"boundary", "protected_area"}, {"admin_level", "4"}}, false},
    };
    for (const auto& c : cases) {
        const auto relation = Tagged<OSM::TRelation>(c.tags);
        EXPECT_EQ(Clip::QualifiesAsMultipolygon(relation), c.closed) << Keys(relation.tags);
    }
}

}  // namespace
