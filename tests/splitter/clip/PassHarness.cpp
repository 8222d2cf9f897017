#include "tests/splitter/clip/PassHarness.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "common/OSM/PBInputAdapter.h"
#include "splitter/AreaGeometry.h"
#include "splitter/Log.h"
#include "splitter/clip/ClipContext.h"
#include "splitter/clip/PassDistributor.h"
#include "tests/support/TestSupport.h"

namespace test {

namespace {

// Degrees in the 100-nanodegree steps of a block of default granularity.
int64_t Steps(double degrees) { return std::llround(degrees * 1e7); }

template <typename TMessage>
void AddTags(OSMPBF::PrimitiveBlock& block, TMessage& message, const TTags& tags)
{
    for (const auto& [key, value] : tags) {
        message.add_keys(StringIndex(block, key));
        message.add_vals(StringIndex(block, value));
    }
}

template <typename T>
const T* FindById(const std::vector<T>& records, int64_t id)
{
    for (const T& record : records)
        if (record.id == id)
            return &record;
    return nullptr;
}

}  // namespace

TTestNode NodeAt(int64_t id, double lon, double lat, TTags tags)
{
    return TTestNode{id, Steps(lat), Steps(lon), std::move(tags)};
}

std::string NodeBlob(const std::vector<TTestNode>& nodes)
{
    OSMPBF::PrimitiveBlock block;
    AddDenseNodes(block, *block.add_primitivegroup(), nodes);
    return DataBlob(block);
}

std::string WayBlob(const std::vector<TTestWay>& ways)
{
    OSMPBF::PrimitiveBlock block;
    StringIndex(block, "");
    OSMPBF::PrimitiveGroup& group = *block.add_primitivegroup();
    for (const TTestWay& way : ways) {
        OSMPBF::Way& message = *group.add_ways();
        message.set_id(way.id);
        AddTags(block, message, way.tags);
        int64_t last = 0;
        for (int64_t ref : way.refs) {
            message.add_refs(ref - last);
            last = ref;
        }
    }
    return DataBlob(block);
}

std::string RelationBlob(const std::vector<TTestRelation>& relations)
{
    OSMPBF::PrimitiveBlock block;
    StringIndex(block, "");
    OSMPBF::PrimitiveGroup& group = *block.add_primitivegroup();
    for (const TTestRelation& relation : relations) {
        OSMPBF::Relation& message = *group.add_relations();
        message.set_id(relation.id);
        AddTags(block, message, relation.tags);
        int64_t last = 0;
        for (const TTestMember& member : relation.members) {
            message.add_roles_sid(int32_t(StringIndex(block, member.role)));
            message.add_memids(member.ref - last);
            last = member.ref;
            message.add_types(OSMPBF::Relation::MemberType(member.type));
        }
    }
    return DataBlob(block);
}

std::string PbfInput(const std::vector<TTestNode>& nodes, const std::vector<TTestWay>& ways,
                     const std::vector<TTestRelation>& relations)
{
    std::string file = HeaderBlob();
    if (!nodes.empty())
        file += NodeBlob(nodes);
    if (!ways.empty())
        file += WayBlob(ways);
    if (!relations.empty())
        file += RelationBlob(relations);
    return file;
}

CGeoPoint PointAt(double lon, double lat) { return {MapUnits::FromDegrees(lon), MapUnits::FromDegrees(lat)}; }

TRing DegreeRect(double west, double south, double east, double north)
{
    return RectangleRing(MapUnits::FromDegrees(west), MapUnits::FromDegrees(south), MapUnits::FromDegrees(east),
                         MapUnits::FromDegrees(north));
}

void WriteSplitFile(const std::string& path, const std::vector<std::vector<double>>& rectangles)
{
    std::string text = "# List of areas\r\n#\r\n";
    for (size_t i = 0; i < rectangles.size(); ++i) {
        const std::vector<double>& r = rectangles[i];
        char line[256];
        std::snprintf(line, sizeof line, "%08zu: %d,%d to %d,%d\r\n#       : %f,%f to %f,%f\r\n\r\n", i + 1,
                      MapUnits::FromDegrees(r[1]) / 180, MapUnits::FromDegrees(r[0]) / 180,
                      MapUnits::FromDegrees(r[3]) / 180, MapUnits::FromDegrees(r[2]) / 180, r[1], r[0], r[3], r[2]);
        text += line;
    }
    WriteFile(path, text);
}

void CRecordingWriter::WriteRelation(const OSM::TRelation& relation)
{
    relations.push_back(relation);
    kinds += 'r';
}

void CRecordingWriter::WriteWay(const OSM::TWay& way)
{
    ways.push_back(way);
    kinds += 'w';
}

void CRecordingWriter::WriteNode(const OSM::TNode& node)
{
    nodes.push_back(node);
    kinds += 'n';
}

const OSM::TNode* CRecordingWriter::Node(int64_t id) const { return FindById(nodes, id); }
const OSM::TWay* CRecordingWriter::Way(int64_t id) const { return FindById(ways, id); }
const OSM::TRelation* CRecordingWriter::Relation(int64_t id) const { return FindById(relations, id); }

std::vector<const OSM::TWay*> CRecordingWriter::WaysTagged(const std::string& key, const std::string& value) const
{
    std::vector<const OSM::TWay*> found;
    for (const OSM::TWay& way : ways)
        if (const std::string* v = way.FindTag(key); v != nullptr && *v == value)
            found.push_back(&way);
    return found;
}

CPassHarness::CPassHarness(std::vector<TRing> rings, std::vector<uint32_t> outputOf)
    : m_rings(std::move(rings)), m_outputOf(std::move(outputOf))
{
    if (m_outputOf.empty())
        for (uint32_t i = 0; i < m_rings.size(); ++i)
            m_outputOf.push_back(i);
    uint32_t outputs = 0;
    for (uint32_t o : m_outputOf)
        outputs = std::max(outputs, o + 1);
    for (uint32_t i = 0; i < outputs; ++i) {
        m_writers.push_back(std::make_unique<CRecordingWriter>());
        m_outputs.push_back(std::make_unique<TAreaOutput>());
        m_outputs.back()->writer = m_writers.back().get();
    }
}

TPassResult CPassHarness::Run(const std::string& pbf, uint32_t maxAreas, std::optional<uint64_t> keptPoints)
{
    TPassResult result;
    CMemoryReadStream stream(pbf);
    CPBInputAdapter input;
    if (!input.Open(stream)) {
        ADD_FAILURE() << "the test input has no valid header";
        return result;
    }
    std::vector<const TRing*> polygons;
    std::vector<TAreaOutput*> outputs;
    for (uint32_t i = 0; i < m_rings.size(); ++i) {
        polygons.push_back(&m_rings[i]);
        outputs.push_back(m_outputs[m_outputOf[i]].get());
    }
    Clip::CRunAreas run(polygons.data(), uint32_t(polygons.size()));
    const uint32_t count = uint32_t(polygons.size()), perPass = maxAreas == 0 ? count : maxAreas;
    CStdOutLog log;
    log.enabled = false;
    std::exception_ptr failure;
    result.printed = CaptureStdout([&] {
        try {
            if (perPass < count)
                Clip::CPassDistributor::FindEdgeWays(input, run, perPass, 0, log);
            result.ok = true;
            for (uint32_t first = 0; first < count && result.ok; first += perPass) {
                Clip::CPassDistributor pass;
                if (keptPoints)
                    pass.SetKeptPointLimit(*keptPoints);
                result.ok = pass.Run(input, run, first, outputs.data() + first, std::min(perPass, count - first), 0,
                                     1700000000000, log);
            }
        } catch (...) {
            failure = std::current_exception();
        }
    });
    if (failure)
        std::rethrow_exception(failure);
    return result;
}

int32_t CPassHarness::LocateArea(CGeoPoint p, bool* border) const
{
    std::vector<const TRing*> rings;
    for (const TRing& ring : m_rings)
        rings.push_back(&ring);
    Geometry::CAreaLocator locator;
    locator.Build(rings.data(), rings.size());
    return locator.Locate(p, border);
}

void ExpectSelfContained(const CRecordingWriter& output, const std::string& label)
{
    EXPECT_TRUE(std::is_sorted(output.kinds.begin(), output.kinds.end(),
                               [](char a, char b) { return std::string("nwr").find(a) < std::string("nwr").find(b); }))
        << label << ": kinds out of order: " << output.kinds;
    auto byId = [](const auto& a, const auto& b) { return OSM::IdBefore(a.id, b.id); };
    EXPECT_TRUE(std::is_sorted(output.nodes.begin(), output.nodes.end(), byId)) << label << ": nodes out of order";
    EXPECT_TRUE(std::is_sorted(output.ways.begin(), output.ways.end(), byId)) << label << ": ways out of order";
    EXPECT_TRUE(std::is_sorted(output.relations.begin(), output.relations.end(), byId))
        << label << ": relations out of order";
    std::set<int64_t> nodes, ways, relations;
    for (const OSM::TNode& node : output.nodes)
        EXPECT_TRUE(nodes.insert(node.id).second) << label << ": node " << node.id << " written twice";
    for (const OSM::TWay& way : output.ways) {
        EXPECT_TRUE(ways.insert(way.id).second) << label << ": way " << way.id << " written twice";
        // Input ways of one node stay as they are; pieces have two at least.
        EXPECT_GE(way.nodeRefs.Count(), way.id < TAreaOutput::kFirstNewId ? 1u : 2u) << label << ": way " << way.id;
        for (int64_t ref : way.nodeRefs) {
            EXPECT_NE(ref, Clip::kPlaceholder) << label << ": way " << way.id << " keeps a placeholder";
            EXPECT_TRUE(nodes.count(ref)) << label << ": way " << way.id << " refers to absent node " << ref;
        }
    }
    for (const OSM::TRelation& relation : output.relations)
        EXPECT_TRUE(relations.insert(relation.id).second) << label << ": relation " << relation.id << " written twice";
    for (const OSM::TRelation& relation : output.relations) {
        EXPECT_FALSE(relation.members.Empty()) << label << ": relation " << relation.id << " without members";
        for (const OSM::TMember& member : relation.members) {
            const std::set<int64_t>& present =
                member.type == OSM::kNode ? nodes : member.type == OSM::kWay ? ways : relations;
            EXPECT_TRUE(present.count(member.ref))
                << label << ": relation " << relation.id << " lists absent member " << int(member.type) << "/"
                << member.ref;
        }
    }
}

std::vector<int64_t> Refs(const OSM::TWay& way) { return {way.nodeRefs.begin(), way.nodeRefs.end()}; }

std::vector<CGeoPoint> Shape(const CRecordingWriter& output, const OSM::TWay& way)
{
    std::vector<CGeoPoint> shape;
    for (int64_t ref : way.nodeRefs) {
        const OSM::TNode* node = output.Node(ref);
        if (node == nullptr) {
            ADD_FAILURE() << "way " << way.id << " refers to absent node " << ref;
            return shape;
        }
        shape.push_back(node->position);
    }
    return shape;
}

std::string TagText(const OSM::TEntity& entity)
{
    std::string text;
    for (const OSM::TTag& tag : entity.tags)
        text += (text.empty() ? "" : ";") + tag.key + "=" + tag.value;
    return text;
}

std::string MemberText(const OSM::TRelation& relation)
{
    std::string text;
    for (const OSM::TMember& member : relation.members)
        text += std::string(text.empty() ? "" : ",") + "nwr"[member.type] + std::to_string(member.ref) + ":" +
                member.role;
    return text;
}

std::string PassText(CPassHarness& pass)
{
    std::ostringstream text;
    auto id = [&text](int64_t v) -> std::ostringstream& {
        if (v >= TAreaOutput::kFirstNewId)
            text << '+' << v - TAreaOutput::kFirstNewId;
        else
            text << v;
        return text;
    };
    auto degrees = [&text](int32_t units) {
        char number[32];
        std::snprintf(number, sizeof number, "%.7f", MapUnits::ToDegrees(units));
        std::string s = number;
        s.erase(s.find_last_not_of('0') + 1);
        if (s.back() == '.')
            s.pop_back();
        text << s;
    };
    auto tags = [&text](const OSM::TEntity& entity) {
        if (!entity.tags.Empty())
            text << ' ' << TagText(entity);
        text << ';';
    };
    for (uint32_t o = 0; o < pass.OutputCount(); ++o) {
        const CRecordingWriter& out = pass.Output(o);
        ExpectSelfContained(out, "output " + std::to_string(o));
        text << "== " << o << ':';
        for (const OSM::TNode& node : out.nodes) {
            text << " n";
            id(node.id) << ' ';
            degrees(node.position.x);
            text << ',';
            degrees(node.position.y);
            tags(node);
        }
        for (const OSM::TWay& way : out.ways) {
            text << " w";
            id(way.id);
            for (size_t i = 0; i < way.nodeRefs.Count(); ++i) {
                text << (i == 0 ? ' ' : ',');
                id(way.nodeRefs[i]);
            }
            tags(way);
        }
        for (const OSM::TRelation& relation : out.relations) {
            text << " r";
            id(relation.id);
            for (size_t i = 0; i < relation.members.Count(); ++i) {
                const OSM::TMember& member = relation.members[i];
                text << (i == 0 ? ' ' : ',') << "nwr"[member.type];
                id(member.ref) << ':' << member.role;
            }
            tags(relation);
        }
        text << '\n';
    }
    return text.str();
}

void ExpectClosedRings(const CRecordingWriter& output, const OSM::TRelation& relation, const std::string& label)
{
    for (bool outer : {true, false}) {
        std::vector<std::vector<int64_t>> open;
        for (const OSM::TMember& member : relation.members) {
            if (member.type != OSM::kWay || (member.role != "inner") != outer)
                continue;
            const OSM::TWay* way = output.Way(member.ref);
            if (way == nullptr) {
                ADD_FAILURE() << label << ": relation " << relation.id << " lists absent way " << member.ref;
                continue;
            }
            open.push_back(Refs(*way));
        }
        while (!open.empty()) {
            std::vector<int64_t> chain = open.back();
            open.pop_back();
            for (bool grew = true; grew && chain.front() != chain.back();) {
                grew = false;
                for (size_t k = 0; k < open.size() && !grew; ++k) {
                    std::vector<int64_t>& w = open[k];
                    if (w.back() == chain.back() || w.front() == chain.front())
                        std::reverse(w.begin(), w.end());
                    if (w.front() == chain.back()) {
                        chain.insert(chain.end(), w.begin() + 1, w.end());
                        grew = true;
                    } else if (w.back() == chain.front()) {
                        chain.insert(chain.begin(), w.begin(), w.end() - 1);
                        grew = true;
                    }
                    if (grew)
                        open.erase(open.begin() + std::ptrdiff_t(k));
                }
            }
            EXPECT_EQ(chain.front(), chain.back())
                << label << ": relation " << relation.id << " has an open " << (outer ? "outer" : "inner")
                << " chain from node " << chain.front() << " to node " << chain.back();
        }
    }
}

}  // namespace test
