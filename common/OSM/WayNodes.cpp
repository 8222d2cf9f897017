#include "common/OSM/WayNodes.h"

#include <algorithm>
#include <cerrno>

#include "common/OSM/PBFReader.h"
#include "common/OSM/PBFWriter.h"

namespace OSM {

namespace {

// A node that a way carries the location of.
struct TWayNode {
    TId id;
    CGeoPoint position;
};

bool OnGlobe(CGeoPoint p)
{
    return p.y >= -MapUnits::k90 && p.y <= MapUnits::k90 && p.x >= MapUnits::kMinLon && p.x <= MapUnits::kMaxLon;
}

// The nodes that the ways of the reader's input carry and its nodes lack,
// in the input's id order, each once.
CGrowArray<TWayNode> MissingNodes(CPBFReaderAdapter& reader)
{
    CGrowArray<TId> nodes;
    CGrowArray<TWayNode> missing;
    bool sorted = false;
    while (reader.ReadNext() && reader.GetType() != kRelation) {
        if (reader.GetType() == kNode) {
            nodes.PushBack(reader.GetId());
            continue;
        }
        if (!std::exchange(sorted, true))
            std::sort(nodes.begin(), nodes.end());
        const CGrowArray<TId>& refs = reader.WayRefs();
        const CGrowArray<CGeoPoint>& locations = reader.WayLocations();
        for (uint64_t k = 0; k < locations.Count(); ++k)
            if (OnGlobe(locations[k]) && !std::binary_search(nodes.begin(), nodes.end(), refs[k]))
                missing.PushBack({refs[k], locations[k]});
    }
    std::stable_sort(missing.begin(), missing.end(),
                     [](const TWayNode& a, const TWayNode& b) { return IdBefore(a.id, b.id); });
    missing.EraseRepeats([](const TWayNode& a, const TWayNode& b) { return a.id == b.id; });
    return missing;
}

}  // namespace

uint64_t WriteWithWayNodes(CPBInputAdapter& input, const std::string& path, const TInfo& info)
{
    SeekFirstData(input);
    CPBFReaderAdapter reader(input);
    const CGrowArray<TWayNode> missing = MissingNodes(reader);
    if (missing.Empty())
        return 0;

    CPBFWriter writer;
    errno = 0;
    if (!writer.Open(path))
        throw TStreamException{TStreamException::kWrite, 0, errno, path};
    TNode node;
    node.info = info;
    const TWayNode* next = missing.begin();
    // Writes the missing nodes that come before id, or all that are left.
    auto writeMissing = [&](const TId* id) {
        for (; next != missing.end() && (id == nullptr || IdBefore(next->id, *id)); ++next) {
            node.id = next->id;
            node.position = next->position;
            writer.WriteNode(node);
        }
    };
    reader.Seek(0);
    while (reader.ReadNext()) {
        const TId id = reader.GetId();
        writeMissing(reader.GetType() == kNode ? &id : nullptr);
        switch (reader.GetType()) {
        case kNode: writer.WriteNode(reader.Node()); break;
        case kWay: writer.WriteWay(reader.Way()); break;
        default: writer.WriteRelation(reader.Relation()); break;
        }
    }
    writeMissing(nullptr);
    writer.Close();
    return missing.Count();
}

}  // namespace OSM
