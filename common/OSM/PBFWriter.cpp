#include "common/OSM/PBFWriter.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <utility>

#include "common/OSM/Banner.h"
#include "common/OSM/BlobFrame.h"
#include "common/OSM/BlobWorker.h"
#include "common/OSM/PBFBlock.h"
#include "common/OSM/Varint.h"

namespace OSM {

namespace {

// Upper bounds of encoded sizes. Every field number here takes one byte, and
// a length prefix at most five.
constexpr uint64_t kFieldHead = 6;
// The string table's head and empty string, and the heads of the groups and
// of the dense nodes' arrays.
constexpr uint64_t kBlockHead = 128;
// A way's or relation's head, id, key and value arrays and info.
constexpr uint64_t kEntityHead =
    kFieldHead + 1 + kMaxVarintBytes + 2 * kFieldHead + kFieldHead + 4 * (1 + kMaxVarintBytes) + 6;
// A dense node: id, lat, lon, the five info values and its tag list's end.
constexpr uint64_t kDenseNode = 8 * kMaxVarintBytes + 1;
constexpr uint64_t kTag = 10;  // key and value index

// A string table entry for each use: strings met again are counted again.
uint64_t StringBytes(std::string_view s) { return kFieldHead + s.size(); }

uint64_t TagBytes(const TEntity& entity)
{
    uint64_t bytes = StringBytes(entity.info.user);
    for (const TTag& tag : entity.tags)
        bytes += kTag + StringBytes(tag.key) + StringBytes(tag.value);
    return bytes;
}

}  // namespace

CPBFWriter::CPBFWriter() : m_stream(0) {}

CPBFWriter::~CPBFWriter()
{
    try {
        Close();
    } catch (...) {
        // A file abandoned on an error path; that error is the one reported.
    }
    WaitAll();  // no job may outlive its buffers
}

bool CPBFWriter::Open(const std::string& path)
{
    try {
        Close();
        if (!m_stream.Open(path))
            return false;
        m_path = path;
        m_headerDue = true;
        m_dropping = false;
        return true;
    } catch (const TStreamException&) {
        return false;
    }
}

void CPBFWriter::Complete()
{
    if (!m_stream.IsOpen())
        return;
    try {
        Flush(true);
        if (m_headerDue) {  // no block took it along, so none is busy
            m_headerDue = false;
            m_stream.Write(HeaderBlob().data(), HeaderBlob().size());
        }
    } catch (...) {
        DropPending();
        WaitAll();  // the caller may close the stream now
        throw;
    }
}

CFileWriteStream& CPBFWriter::CompletedStream()
{
    WaitAll();
    ThrowBlobError();
    return m_stream;
}

void CPBFWriter::Close()
{
    m_stream.FinishAndClose([this] {
        Complete();
        CompletedStream();
    });
}

CPBFWriter::TString CPBFWriter::Intern(std::string_view s)
{
    const auto hash = uint32_t(std::hash<std::string_view>()(s));
    if (2 * (m_pending.strings.Count() + 1) > m_slots.Count())
        GrowSlots();
    const uint64_t mask = m_slots.Count() - 1;
    for (uint64_t slot = hash & mask;; slot = (slot + 1) & mask) {
        const TString at = m_slots[slot];
        if (at == kFreeSlot) {
            CGrowArray<TStringInfo>& strings = m_pending.strings;
            if (strings.Count() >= UINT32_MAX || m_pending.pool.size() + s.size() > UINT32_MAX)
                ThrowBadAlloc();  // kBlockBytes keeps a block far below this
            const auto id = TString(strings.Count());
            strings.PushBack({uint32_t(m_pending.pool.size()), uint32_t(s.size()), 1, hash});
            m_pending.pool.append(s);
            m_slots[slot] = id;
            return id;
        }
        if (m_pending.strings[at].hash == hash && m_pending.View(at) == s) {
            ++m_pending.strings[at].uses;
            return at;
        }
    }
}

void CPBFWriter::GrowSlots()
{
    // A power of two: slots are found by masking the hash.
    const uint64_t slots = std::max<uint64_t>(64, 2 * m_slots.Count());
    m_slots.Clear();
    m_slots.Resize(slots);
    std::fill(m_slots.begin(), m_slots.end(), kFreeSlot);
    const uint64_t mask = m_slots.Count() - 1;
    for (TString s = 0; s < m_pending.strings.Count(); ++s) {
        uint64_t slot = m_pending.strings[s].hash & mask;
        while (m_slots[slot] != kFreeSlot)
            slot = (slot + 1) & mask;
        m_slots[slot] = s;
    }
}

void CPBFWriter::MakeRoom(uint64_t bytes)
{
    if (kBlockHead + m_pendingBytes + bytes > kBlockBytes)
        Flush(true);
    m_pendingBytes += bytes;
}

uint8_t* CPBFWriter::PutHead(EEntityType type, const TEntity& entity, uint64_t room)
{
    // Interned before the record grows: a string's number is known first.
    const TString user = Intern(entity.info.user);
    CGrowArray<uint8_t>& records = m_pending.records;
    const uint64_t at = records.Count();
    records.Resize(at + 1 + 7 * kMaxVarintBytes + 2 * kMaxVarintBytes * entity.tags.Count() + room);
    uint8_t* p = records.Data() + at;
    *p++ = type;
    p = PutVarint(p, ZigZag(int64_t(uint64_t(entity.id) - uint64_t(m_lastId))));
    m_lastId = entity.id;
    p = PutVarint(p, ZigZag(WritableVersion(entity.info.version)));
    p = PutVarint(p, ZigZag(WritableUid(entity.info.uid)));
    p = PutVarint(p, user);
    const int64_t changeset = WritableChangeset(entity.info.changeset);
    p = PutVarint(p, ZigZag(int64_t(uint64_t(changeset) - uint64_t(m_lastChangeset))));
    m_lastChangeset = changeset;
    p = PutVarint(p, ZigZag(int64_t(uint64_t(entity.info.timestamp) - uint64_t(m_lastTimestamp))));
    m_lastTimestamp = entity.info.timestamp;
    p = PutVarint(p, entity.tags.Count());
    for (const TTag& tag : entity.tags) {
        // Interning leaves the records alone: p stays valid.
        const TString key = Intern(tag.key);
        p = PutVarint(p, key);
        p = PutVarint(p, Intern(tag.value));
    }
    ++m_pendingEntities;
    return p;
}

void CPBFWriter::EndRecord(const uint8_t* end)
{
    m_pending.records.Resize(uint64_t(end - m_pending.records.Data()));
}

void CPBFWriter::WriteNode(const TNode& node)
{
    MakeRoom(kDenseNode + TagBytes(node));
    uint8_t* p = PutHead(kNode, node, 2 * kMaxVarintBytes);
    p = PutVarint(p, ZigZag(int64_t(node.position.x) - m_lastX));
    p = PutVarint(p, ZigZag(int64_t(node.position.y) - m_lastY));
    m_lastX = node.position.x;
    m_lastY = node.position.y;
    EndRecord(p);
    Flush(false);
}

void CPBFWriter::WriteWay(const TWay& way)
{
    uint64_t bytes = kEntityHead + TagBytes(way) + kFieldHead;
    TId last = 0;
    for (TId ref : way.nodeRefs) {
        bytes += VarintBytes(ZigZag(int64_t(uint64_t(ref) - uint64_t(last))));
        last = ref;
    }
    MakeRoom(bytes);
    uint8_t* p = PutHead(kWay, way, kMaxVarintBytes * (1 + way.nodeRefs.Count()));
    p = PutVarint(p, way.nodeRefs.Count());
    last = 0;
    for (TId ref : way.nodeRefs) {
        p = PutVarint(p, ZigZag(int64_t(uint64_t(ref) - uint64_t(last))));
        last = ref;
    }
    EndRecord(p);
    Flush(false);
}

void CPBFWriter::WriteRelation(const TRelation& relation)
{
    // Roles are string indices, types enum values of one or two bytes.
    uint64_t bytes = kEntityHead + TagBytes(relation) + 3 * kFieldHead;
    TId last = 0;
    for (const TMember& member : relation.members) {
        bytes += 5 + StringBytes(member.role) + VarintBytes(ZigZag(int64_t(uint64_t(member.ref) - uint64_t(last)))) + 2;
        last = member.ref;
    }
    MakeRoom(bytes);
    uint8_t* p = PutHead(kRelation, relation, kMaxVarintBytes * (1 + 3 * relation.members.Count()));
    p = PutVarint(p, relation.members.Count());
    last = 0;
    for (const TMember& member : relation.members) {
        *p++ = member.type;
        p = PutVarint(p, ZigZag(int64_t(uint64_t(member.ref) - uint64_t(last))));
        last = member.ref;
        p = PutVarint(p, Intern(member.role));
    }
    EndRecord(p);
    Flush(false);
}

void CPBFWriter::Flush(bool force)
{
    if (m_pendingEntities == 0 ||
        (!force && m_pendingEntities < kBlockEntities && kBlockHead + m_pendingBytes <= kBlockBytes))
        return;
    auto blob = std::make_unique<TBlob>();
    blob->pending = std::move(m_pending);
    const bool mayBeTooLarge = kBlockHead + m_pendingBytes > kMaxBlockBytes;
    DropPending();
    if (!force) {
        // A full block: the next is likely as large, so it grows once, not
        // step by step. The last block of a file reserves nothing.
        m_pending.records.Reserve(blob->pending.records.Count());
        m_pending.strings.Reserve(blob->pending.strings.Count());
        m_pending.pool.reserve(blob->pending.pool.size());
    }
    if (mayBeTooLarge)
        blob->message = BuildChecked(blob->pending);
    Submit(std::move(blob));
}

void CPBFWriter::Submit(std::unique_ptr<TBlob> blob)
{
    CBlobWorker& worker = CBlobWorker::Instance();
    CBlobWorker::TTicket& ticket = m_tickets[m_blobsSubmitted % kBlobsInFlight];
    worker.Wait(ticket);
    ThrowBlobError();
    blob->header = std::exchange(m_headerDue, false);
    const uint64_t bytes = blob->pending.Bytes() + blob->message.size();
    TBlob& submitted = *blob;
    {
        std::lock_guard<std::mutex> lock(m_order);
        m_inFlight.push_back(std::move(blob));
    }
    try {
        worker.Submit(ticket, [this, &submitted] { Finish(submitted); }, bytes);
    } catch (...) {
        std::lock_guard<std::mutex> lock(m_order);
        m_inFlight.pop_back();
        throw;
    }
    ++m_blobsSubmitted;
}

std::exception_ptr CPBFWriter::Frame(TBlob& blob, std::string& framed)
{
    try {
        framed.clear();
        if (blob.header)
            framed = HeaderBlob();
        if (!blob.message.empty()) {
            AppendBlob(framed, blob.message, "OSMData");
            return nullptr;
        }
        TScratch& scratch = Scratch();
        scratch.Build(blob.pending);
        blob.pending = TPending();
        thread_local std::string message;
        scratch.block.SerializeToString(&message);
        AppendBlob(framed, message, "OSMData");
        return nullptr;
    } catch (...) {
        return std::current_exception();
    }
}

void CPBFWriter::Finish(TBlob& blob)
{
    // Compressed into the thread's buffer: a block written in turn, as most
    // are, is never copied.
    thread_local std::string framed;
    std::exception_ptr error = Frame(blob, framed);
    std::unique_lock<std::mutex> lock(m_order);
    Fail(error);
    const bool inTurn = !m_writing && m_inFlight.front().get() == &blob;
    if (!inTurn && !m_dropping) {
        try {
            blob.framed = framed;  // kept until the blocks before it are written
        } catch (...) {
            Fail(std::current_exception());
        }
    }
    blob.ready = true;
    if (m_writing)
        return;  // that thread writes this one too, in turn
    m_writing = true;
    while (!m_inFlight.empty() && m_inFlight.front()->ready) {
        std::unique_ptr<TBlob> front = std::move(m_inFlight.front());
        m_inFlight.erase(m_inFlight.begin());
        if (m_dropping)
            continue;
        const std::string& bytes = inTurn && front.get() == &blob ? framed : front->framed;
        lock.unlock();
        error = nullptr;
        try {
            // One write per blob: the stream keeps no buffer of its own per file.
            m_stream.Write(bytes.data(), bytes.size());
        } catch (...) {
            error = std::current_exception();
        }
        front.reset();
        lock.lock();
        Fail(error);
    }
    m_writing = false;
}

void CPBFWriter::Fail(std::exception_ptr error)
{
    if (error != nullptr && !m_dropping) {
        m_dropping = true;
        m_blobError = error;
    }
}

void CPBFWriter::WaitAll()
{
    for (CBlobWorker::TTicket& ticket : m_tickets)
        CBlobWorker::Instance().Wait(ticket);
}

void CPBFWriter::ThrowBlobError()
{
    std::lock_guard<std::mutex> lock(m_order);
    if (std::exception_ptr error = std::exchange(m_blobError, nullptr))
        std::rethrow_exception(error);
}

void CPBFWriter::DropPending()
{
    m_pendingBytes = 0;
    m_pendingEntities = 0;
    m_lastId = m_lastChangeset = m_lastTimestamp = 0;
    m_lastX = m_lastY = 0;
    m_pending.records.Clear();
    m_pending.strings.Clear();
    m_pending.pool.clear();
    m_slots.Clear();
}

// The same for every file: made once.
const std::string& CPBFWriter::HeaderBlob()
{
    static const std::string framed = [] {
        OSMPBF::HeaderBlock header;
        header.add_required_features("OsmSchema-V0.6");
        header.add_required_features("DenseNodes");
        header.add_optional_features("Sort.Type_then_ID");
        header.set_writingprogram(kBanner);
        std::string message, out;
        header.SerializeToString(&message);
        AppendBlob(out, message, "OSMHeader");
        return out;
    }();
    return framed;
}

}  // namespace OSM
