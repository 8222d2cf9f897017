// The automatic split's cuts: an over-full area is cut at the median of its
// nodes, and each side again, until every area holds few enough.
#include <algorithm>
#include <cinttypes>
#include <exception>
#include <string>

#include "common/base/HelperThread.h"
#include "splitter/Log.h"
#include "splitter/areas/AreaSplitter.h"
#include "splitter/areas/SplitCuts.h"

namespace Splitter {

bool CAreaSplitter::Split(CGeoPoint* nodes, uint64_t n, CGrowArray<TRing>& pieces, CGrowArray<TRing>& out,
                          std::string& said)
{
    if (pieces.Count() == 1)
        return SplitOne(nodes, n, std::move(pieces[0]), out, said);
    if (pieces.Empty())
        return true;
    // Order the nodes by the piece holding them; nodes outside every piece
    // (on a cut line, say) go with the first.
    CGrowArray<uint64_t> runEnds;
    {
        Geometry::CAreaLocator locator;
        CGrowArray<const TRing*> rings;
        for (const TRing& piece : pieces)
            rings.PushBack(&piece);
        locator.Build(rings.Data(), rings.Count());
        CGrowArray<std::pair<int32_t, CGeoPoint>> located;
        located.Reserve(n);
        for (uint64_t i = 0; i < n; ++i)
            located.PushBack({locator.Locate(nodes[i]), nodes[i]});
        std::stable_sort(located.begin(), located.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        uint64_t at = 0;
        for (uint64_t k = 0; k < pieces.Count(); ++k) {
            while (at < n && located[at].first <= int32_t(k))
                ++at;
            runEnds.PushBack(at);
        }
        for (uint64_t i = 0; i < n; ++i)
            nodes[i] = located[i].second;
    }
    uint64_t begin = 0;
    for (uint64_t k = 0; k < pieces.Count(); ++k) {
        if (!SplitOne(nodes + begin, runEnds[k] - begin, std::move(pieces[k]), out, said))
            return false;
        begin = runEnds[k];
    }
    return true;
}

bool CAreaSplitter::SplitOne(CGeoPoint* nodes, uint64_t n, TRing ring, CGrowArray<TRing>& out, std::string& said)
{
    if (n <= m_maxNodes) {
        out.PushBack(std::move(ring));
        return true;
    }
    CGeoRect bounds = BoundsOf(nodes, n);
    bool longitude = int64_t(bounds.north) - bounds.south <= TrueWidth(Width(bounds), MiddleLatitude(bounds));
    int32_t s;
    uint64_t lower = MedianCut(nodes, n, longitude, s);
    if (lower == 0 || lower == n) {
        // Every node on one line of the axis: the other axis may still part them.
        longitude = !longitude;
        lower = MedianCut(nodes, n, longitude, s);
    }
    if (lower == 0 || lower == n) {
        AppendFormat(said, "%" PRIu64 " nodes at %.7f,%.7f cannot be split: the area keeps them all\n", n,
                    MapUnits::ToDegrees(nodes[0].y), MapUnits::ToDegrees(MapUnits::Natural(nodes[0].x)));
        out.PushBack(std::move(ring));
        return true;
    }
    CGrowArray<TRing> lowerPieces, upperPieces;
    CutRing(ring, longitude, s, lowerPieces, upperPieces);
    if (lowerPieces.Empty() || upperPieces.Empty()) {
        // A cut along the ring's own edge leaves nothing on one side, yet the
        // nodes on that edge are the ring's: keep them all in it.
        Geometry::CAreaLocator locator;
        const TRing* const only = &ring;
        locator.Build(&only, 1);
        if (std::all_of(nodes, nodes + n, [&](CGeoPoint p) { return locator.Locate(p) == 0; })) {
            AppendFormat(said, "%" PRIu64 " nodes near %.7f,%.7f cannot be split: the area keeps them all\n", n,
                        MapUnits::ToDegrees(nodes[0].y), MapUnits::ToDegrees(MapUnits::Natural(nodes[0].x)));
            out.PushBack(std::move(ring));
            return true;
        }
        // The nodes lie on both sides of the cut, the ring on one: they are
        // not inside it, and no area would hold them.
        AppendFormat(said, "Cannot split the area of %" PRIu64 " nodes near %.7f,%.7f: its ring does not reach across "
                    "%s %.7f\n",
                    n, MapUnits::ToDegrees(nodes[0].y), MapUnits::ToDegrees(MapUnits::Natural(nodes[0].x)),
                    longitude ? "longitude" : "latitude", MapUnits::ToDegrees(longitude ? MapUnits::Natural(s) : s));
        return false;
    }
    return SplitSides(nodes, n, lower, lowerPieces, upperPieces, out, said);
}

bool CAreaSplitter::SplitSides(CGeoPoint* nodes, uint64_t n, uint64_t lower, CGrowArray<TRing>& lowerPieces,
                               CGrowArray<TRing>& upperPieces, CGrowArray<TRing>& out, std::string& said)
{
    if (n < kSidesApartNodes)
        return Split(nodes, lower, lowerPieces, out, said) &&
               Split(nodes + lower, n - lower, upperPieces, out, said);
    // The upper side into rings and words of its own that follow the lower
    // side's, as they would one after the other.
    CGrowArray<TRing> upperOut;
    std::string upperSaid;
    bool lowerSplit = false, upperSplit = false;
    const std::exception_ptr failure = CHelperThread::RunBeside(
        [&] { lowerSplit = Split(nodes, lower, lowerPieces, out, said); },
        [&] { upperSplit = Split(nodes + lower, n - lower, upperPieces, upperOut, upperSaid); });
    if (!lowerSplit)
        return false;  // alone, the upper side would not have been split
    if (failure)
        std::rethrow_exception(failure);
    said += upperSaid;
    for (TRing& ring : upperOut)
        out.PushBack(std::move(ring));
    return upperSplit;
}

}  // namespace Splitter
