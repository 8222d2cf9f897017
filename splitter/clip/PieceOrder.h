// The pieces of a pass in the order they are written: each output's by id,
// among its inner ways, so that every file stays sorted.
#pragma once

#include <cstdint>
#include <memory>

#include "common/base/GrowArray.h"
#include "splitter/clip/AreaOutput.h"
#include "splitter/clip/ClipContext.h"

namespace Splitter::Clip {

class CPieceOrder {
public:
    // Orders the pieces of contexts[area] (area < count), outputIndex[area]
    // being the index of its output, outputs[area] the output itself. Pieces
    // take new ids, above every input id, except a piece holding a whole way,
    // which keeps the way's id and so belongs among the inner ways. The
    // arrays must outlive the order.
    CPieceOrder(const CGrowArray<std::unique_ptr<CAreaClipContext>>& contexts,
                const CGrowArray<uint32_t>& outputIndex, TAreaOutput* const* outputs, uint32_t count);

    // Writes the pieces of output that come before way id, or all that are
    // left when id is null.
    void WriteBefore(uint32_t output, const OSM::TId* id);
    // Writes every piece left, output by output, and frees the order.
    void WriteRest();

private:
    struct TPieceRef {
        OSM::TId id;
        uint32_t area;
        uint32_t index;  // into the area's piece list
    };

    const CGrowArray<std::unique_ptr<CAreaClipContext>>& m_contexts;
    TAreaOutput* const* m_outputs;
    CGrowArray<TPieceRef> m_order;  // by output, then id
    CGrowArray<uint64_t> m_next;    // per output: its next unwritten m_order entry
    CGrowArray<uint64_t> m_end;     // per output: one past its last entry
};

}  // namespace Splitter::Clip
