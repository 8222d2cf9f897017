#include "splitter/clip/PieceOrder.h"

#include <algorithm>

namespace Splitter::Clip {

CPieceOrder::CPieceOrder(const CGrowArray<std::unique_ptr<CAreaClipContext>>& contexts,
                         const CGrowArray<uint32_t>& outputIndex, TAreaOutput* const* outputs, uint32_t count)
    : m_contexts(contexts), m_outputs(outputs)
{
    const uint32_t outputCount = count == 0 ? 0 : outputIndex[count - 1] + 1;
    m_next.Resize(outputCount);
    m_end.Resize(outputCount);
    for (uint32_t area = 0; area < count; ++area) {
        const uint32_t output = outputIndex[area];
        if (area == 0 || output != outputIndex[area - 1])
            m_next[output] = m_order.Count();
        const CGrowArray<TPiece>& pieces = contexts[area]->Pieces();
        for (uint32_t i = 0; i < pieces.Count(); ++i)
            if (pieces[i].way.nodeRefs.Count() >= 2)  // shorter pieces are never written
                m_order.PushBack({pieces[i].way.id, area, i});
        m_end[output] = m_order.Count();
    }
    for (uint32_t output = 0; output < outputCount; ++output)
        std::stable_sort(m_order.begin() + m_next[output], m_order.begin() + m_end[output],
                         [](const TPieceRef& a, const TPieceRef& b) { return OSM::IdBefore(a.id, b.id); });
}

void CPieceOrder::WriteBefore(uint32_t output, const OSM::TId* id)
{
    uint64_t& next = m_next[output];
    for (; next < m_end[output] && (id == nullptr || OSM::IdBefore(m_order[next].id, *id)); ++next) {
        const TPieceRef& ref = m_order[next];
        m_outputs[ref.area]->writer->WriteWay(m_contexts[ref.area]->Pieces()[ref.index].way);
    }
}

void CPieceOrder::WriteRest()
{
    for (uint32_t output = 0; output < m_end.Count(); ++output)
        WriteBefore(output, nullptr);
    m_order.Free();
}

}  // namespace Splitter::Clip
