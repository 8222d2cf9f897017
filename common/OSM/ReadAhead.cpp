#include "common/OSM/ReadAhead.h"

#include <algorithm>
#include <string>
#include <utility>

#include "common/OSM/PBFReader.h"
#include "common/OSM/StopThreads.h"

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

CReadAhead::CReadAhead(CPBInputAdapter& source, uint64_t start, uint32_t depth, uint32_t threads)
    : m_source(source), m_framer(source.Stream()), m_position(start)
{
    // The caller's slot and the ones read ahead, the next block's among
    // them; without threads, the caller's and the next block's.
    for (uint32_t i = 0; i <= std::max(depth, 1u); ++i) {
        m_slots.push_back(std::make_unique<TSlot>());
        m_free.push_back(m_slots.back().get());
    }
    m_source.Stream().Seek(start);
    threads = std::min({std::max(threads, 1u), depth, std::max(std::thread::hardware_concurrency(), 1u)});
    for (uint32_t i = 0; i < threads; ++i)
        m_threads.emplace_back([this] { Run(); });
}

CReadAhead::~CReadAhead() { StopThreads(m_mutex, m_changed, m_quit, m_threads); }

void CReadAhead::Frame(TSlot& slot)
{
    CReadStream& stream = m_framer.Stream();
    slot.error = nullptr;
    slot.last = true;
    slot.data.start = stream.Position();
    slot.data.end = slot.data.start;
    try {
        bool found = false;
        bool error = false;
        while (!found && m_framer.ReadRawBlob(error)) {
            found = m_framer.BlobType() == "OSMData";
            // A malformed blob of another type stops the reading here too.
            CGrowArray<uint8_t> skipped;
            std::string fault;
            if (!found && !CPBInputAdapter::DecodeBlob(m_framer.RawBlob(), skipped, fault))
                throw CDataReader::CBadFileException{fault};
        }
        if (error)
            throw CDataReader::CBadFileException{m_framer.Fault()};
        slot.data.blobOffset = m_framer.BlobOffset();
        slot.data.end = stream.Position();
        if (found) {
            slot.blob.Swap(&m_framer.RawBlob());
            slot.last = false;
        }
    } catch (...) {
        slot.data.blobOffset = m_framer.BlobOffset();
        slot.error = std::current_exception();
    }
}

void CReadAhead::Decode(TSlot& slot, CGrowArray<uint8_t>& payload)
{
    if (slot.last)
        return;
    try {
        std::string fault;
        if (!CPBInputAdapter::DecodeBlob(slot.blob, payload, fault))
            throw CDataReader::CBadFileException{fault};
        // A block reused for blocks of another kind would keep the storage
        // of both; the next block is most likely of the kind of the last one
        // parsed.
        if (slot.kinds != m_lastKinds) {
            slot.data.block = OSMPBF::PrimitiveBlock();
            slot.kinds = 0;
        }
        ParsePrimitiveBlock(payload, slot.data.block);
        m_lastKinds = Kinds(slot.data.block);
        slot.kinds |= m_lastKinds;
        slot.entities = DropRepeatedEntities(slot.data.block);
    } catch (...) {
        slot.error = std::current_exception();
        slot.last = true;
    }
}

const TDataBlock* CReadAhead::Next()
{
    if (m_seekFailure)
        std::rethrow_exception(m_seekFailure);
    const TSlot* next = nullptr;
    if (m_current == nullptr || !m_current->last) {
        if (m_threads.empty()) {
            if (std::exchange(m_peeked, false)) {
                std::swap(m_slots[0], m_slots[1]);
            } else {
                Frame(*m_slots[0]);
                Decode(*m_slots[0], m_payload);
            }
            m_current = m_slots[0].get();
            if (NeedsNext(*m_current)) {
                Frame(*m_slots[1]);
                Decode(*m_slots[1], m_payload);
                m_peeked = true;
                next = m_slots[1].get();
            }
        } else {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (m_current != nullptr)
                m_free.push_back(m_current);
            m_changed.notify_all();
            auto ready = [this](uint64_t sequence) {
                return std::find_if(m_ready.begin(), m_ready.end(),
                                    [sequence](const TSlot* slot) { return slot->sequence == sequence; });
            };
            auto due = m_ready.end();
            m_changed.wait(lock, [&] {
                due = ready(m_delivered);
                if (due == m_ready.end())
                    return false;
                if (!NeedsNext(**due))
                    return true;
                auto after = ready(m_delivered + 1);
                next = after == m_ready.end() ? nullptr : *after;
                return next != nullptr;
            });
            m_current = *due;
            m_ready.erase(due);
            ++m_delivered;
        }
    }
    return Deliver(next);
}

const TDataBlock* CReadAhead::Deliver(const TSlot* next)
{
    TSlot& slot = *m_current;
    m_source.SetBlobOffset(slot.data.blobOffset);
    m_position = slot.data.end;
    if (slot.error)
        std::rethrow_exception(slot.error);
    if (slot.last)
        return nullptr;
    // The last entity goes when the next block starts with it, as it did
    // when this block was delivered before.
    const uint64_t offset = slot.data.blobOffset;
    auto known = std::lower_bound(m_repeatedLast.begin(), m_repeatedLast.end(), offset);
    bool repeated = known != m_repeatedLast.end() && *known == offset;
    if (!Settled(offset)) {
        repeated = slot.entities.last && next != nullptr && !next->last && next->entities.first == slot.entities.last;
        if (repeated)
            m_repeatedLast.insert(known, offset);
        if (m_settledTo != slot.data.start)
            m_settledFrom = slot.data.start;
        m_settledTo = slot.data.end;
    }
    if (repeated)
        DropLastEntity(slot.data.block);
    if (const uint32_t dropped = slot.entities.dropped + (repeated ? 1 : 0); dropped != 0)
        m_source.NoteOlderVersions(offset, dropped);
    return &slot.data;
}

void CReadAhead::Seek(uint64_t offset)
{
    std::unique_lock<std::mutex> lock(m_mutex, std::defer_lock);
    if (!m_threads.empty()) {
        lock.lock();
        m_paused = true;
        m_changed.wait(lock, [this] { return m_busy == 0; });
        m_free.insert(m_free.end(), m_ready.begin(), m_ready.end());
        m_ready.clear();
        if (m_current != nullptr)
            m_free.push_back(m_current);
        m_framed = 0;
        m_delivered = 0;
    }
    m_current = nullptr;
    m_peeked = false;
    m_position = offset;
    m_seekFailure = nullptr;
    try {
        m_source.Stream().Seek(offset);
    } catch (...) {
        m_seekFailure = std::current_exception();
        throw;
    }
    if (!m_threads.empty()) {
        m_ended = false;
        m_paused = false;
        lock.unlock();
        m_changed.notify_all();
    }
}

void CReadAhead::Run()
{
    CGrowArray<uint8_t> payload;
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_quit || (!m_paused && !m_ended && !m_framing && !m_free.empty()); });
        if (m_quit)
            return;
        TSlot* slot = m_free.back();
        m_free.pop_back();
        m_framing = true;
        ++m_busy;
        lock.unlock();
        Frame(*slot);
        lock.lock();
        m_framing = false;
        m_ended = slot->last;
        slot->sequence = m_framed++;
        m_changed.notify_all();  // the next blob may be framed
        lock.unlock();
        Decode(*slot, payload);
        lock.lock();
        --m_busy;
        m_ready.push_back(slot);
        m_changed.notify_all();
    }
}

}  // namespace OSM
