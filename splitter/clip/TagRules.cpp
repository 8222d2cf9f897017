#include "splitter/clip/TagRules.h"

#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <iterator>
#include <string_view>

namespace Splitter::Clip {

bool IsLineFeatureTag(const OSM::TTag& tag)
{
    struct TLineKey {
        std::string_view key;
        std::initializer_list<std::string_view> values;  // empty: any value
        bool areaValues;  // values lists the area values, not the line ones
    };
    static const TLineKey kLineKeys[] = {
        {"highway", {}, true},
        {"railway", {"platform", "station", "turntable"}, true},
        {"waterway", {"riverbank", "dock", "boatyard", "fuel"}, true},
        {"barrier", {}, true},
        {"aerialway", {"station"}, true},
        {"power", {"line", "minor_line", "cable"}, false},
        {"route", {}, true},
        {"piste:type", {}, true},
        {"man_made", {"embankment", "dyke", "breakwater", "groyne", "pipeline", "cutline", "goods_conveyor"}, false},
        {"natural", {"coastline", "cliff", "ridge", "arete", "tree_row", "earth_bank"}, false},
    };
    for (const TLineKey& line : kLineKeys) {
        if (tag.key != line.key)
            continue;
        bool listed = std::find(line.values.begin(), line.values.end(), tag.value) != line.values.end();
        return line.areaValues ? !listed : listed;
    }
    return false;
}

bool IsAreaWay(const OSM::TWay& way)
{
    static constexpr std::string_view kAreaKeys[] = {
        "aeroway", "amenity", "boundary", "building", "craft",   "geological", "historic", "landuse",
        "leisure", "military", "natural", "office",  "place",   "shop",       "sport",    "tourism"};
    // A square or a platform drawn as a closed highway says so with area=yes.
    if (const std::string* area = way.FindTag("area"))
        return *area != "no";
    if (way.FindTag("highway") != nullptr)
        return false;
    bool line = false, areaTag = false;
    for (const OSM::TTag& tag : way.tags) {
        if (IsLineFeatureTag(tag))
            line = true;
        else if (std::find(std::begin(kAreaKeys), std::end(kAreaKeys), tag.key) != std::end(kAreaKeys))
            areaTag = true;
    }
    return !line || areaTag;
}

void KeepBoundaryTags(CGrowArray<OSM::TTag>& tags)
{
    if (std::any_of(tags.begin(), tags.end(), IsLineFeatureTag))
        KeepOnlyBoundaryTags(tags);
}

void KeepOnlyBoundaryTags(CGrowArray<OSM::TTag>& tags)
{
    auto describesBoundary = [](const OSM::TTag& tag) {
        std::string_view key = tag.key;
        return key == "boundary" || key == "admin_level" || key == "border_type" || key == "maritime" ||
               key.substr(0, 9) == "boundary:";
    };
    CGrowArray<OSM::TTag> kept;
    for (const OSM::TTag& tag : tags)
        if (describesBoundary(tag))
            kept.PushBack(tag);
    tags = std::move(kept);
}

bool IsHighway(const OSM::TWay& way) { return way.FindTag("highway") != nullptr; }

namespace {

// The number at the start of a tag value: blanks and a sign allowed, no
// digits reads as 0.
long LeadingInteger(const std::string* value) { return value == nullptr ? 0 : std::strtol(value->c_str(), nullptr, 10); }

}  // namespace

bool QualifiesAsMultipolygon(const OSM::TRelation& relation)
{
    const std::string* type = relation.FindTag("type");
    if (type != nullptr && (*type == "multipolygon" || *type == "boundary"))
        return true;
    const std::string* boundary = relation.FindTag("boundary");
    return boundary != nullptr && *boundary == "administrative" && LeadingInteger(relation.FindTag("admin_level")) > 2;
}

}  // namespace Splitter::Clip
