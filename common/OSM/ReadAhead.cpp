#include "common/OSM/ReadAhead.h"

#include <utility>

#include "common/OSM/PBFReader.h"

namespace OSM {

namespace {

// Which kinds of entity a block holds, one bit each.
uint32_t Kinds(const OSMPBF::PrimitiveBlock& block)
{
    uint32_t kinds = 0;
    for (const OSMPBF::PrimitiveGroup& group : block.primitivegroup())
        kinds |= (group.has_dense() || group.nodes_size() != 0 ? 1u : 0u) | (group.ways_size() != 0 ? 2u : 0u) |
                 (group.relations_size() != 0 ? 4u : 0u);
    return kinds;
}

}  // namespace

CReadAhead::CReadAhead(CPBInputAdapter& source, uint64_t start, uint32_t depth)
    : m_source(source), m_framer(source.Stream()), m_depth(depth), m_position(start)
{
    // The caller's slot, and the ones read ahead.
    for (uint32_t i = 0; i <= depth; ++i) {
        m_slots.push_back(std::make_unique<TSlot>());
        m_free.push_back(m_slots.back().get());
    }
    m_source.Stream().Seek(start);
    if (depth != 0)
        m_thread = std::thread([this] { Run(); });
}

CReadAhead::~CReadAhead()
{
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

// Reads the next data block into slot, or the end of the input, or the
// failure that stops the reading. Throws nothing.
void CReadAhead::Fill(TSlot& slot)
{
    CReadStream& stream = m_framer.Stream();
    slot.error = nullptr;
    slot.last = true;
    slot.data.start = stream.Position();
    try {
        bool found = false;
        bool error = false;
        while (!found && m_framer.ReadBlob(error))
            found = m_framer.BlobType() == "OSMData";
        if (error)
            throw CDataReader::CBadFileException{m_framer.Fault()};
        slot.data.blobOffset = m_framer.BlobOffset();
        slot.data.end = stream.Position();
        if (found) {
            // A block reused for blocks of another kind would keep the
            // storage of both; the next block is most likely of the kind
            // of the last one read.
            if (slot.kinds != m_lastKinds) {
                slot.data.block = OSMPBF::PrimitiveBlock();
                slot.kinds = 0;
            }
            ParsePrimitiveBlock(m_framer.Payload(), slot.data.block);
            m_lastKinds = Kinds(slot.data.block);
            slot.kinds |= m_lastKinds;
            slot.last = false;
        }
    } catch (...) {
        slot.data.blobOffset = m_framer.BlobOffset();
        slot.error = std::current_exception();
    }
}

const TDataBlock* CReadAhead::Next()
{
    if (m_seekFailure)
        std::rethrow_exception(m_seekFailure);
    if (m_current == nullptr || !m_current->last) {
        if (m_depth == 0) {
            m_current = m_slots[0].get();
            Fill(*m_current);
        } else {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (m_current != nullptr)
                m_free.push_back(m_current);
            m_changed.notify_all();
            m_changed.wait(lock, [this] { return !m_ready.empty(); });
            m_current = m_ready.front();
            m_ready.pop_front();
        }
    }
    return Deliver();
}

const TDataBlock* CReadAhead::Deliver()
{
    const TSlot& slot = *m_current;
    m_source.SetBlobOffset(slot.data.blobOffset);
    m_position = slot.data.end;
    if (slot.error)
        std::rethrow_exception(slot.error);
    return slot.last ? nullptr : &slot.data;
}

void CReadAhead::Seek(uint64_t offset)
{
    std::unique_lock<std::mutex> lock(m_mutex, std::defer_lock);
    if (m_depth != 0) {
        lock.lock();
        m_paused = true;
        m_changed.wait(lock, [this] { return !m_busy; });
        m_free.insert(m_free.end(), m_ready.begin(), m_ready.end());
        m_ready.clear();
        if (m_current != nullptr)
            m_free.push_back(m_current);
    }
    m_current = nullptr;
    m_position = offset;
    m_seekFailure = nullptr;
    try {
        m_source.Stream().Seek(offset);
    } catch (...) {
        m_seekFailure = std::current_exception();
        throw;
    }
    if (m_depth != 0) {
        m_ended = false;
        m_paused = false;
        lock.unlock();
        m_changed.notify_all();
    }
}

void CReadAhead::Run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_quit || (!m_paused && !m_ended && !m_free.empty()); });
        if (m_quit)
            return;
        TSlot* slot = m_free.back();
        m_free.pop_back();
        m_busy = true;
        lock.unlock();
        Fill(*slot);
        lock.lock();
        m_busy = false;
        m_ended = slot->last;
        m_ready.push_back(slot);
        m_changed.notify_all();
    }
}

}  // namespace OSM
