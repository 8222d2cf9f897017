// The tools every pass stage uses: sorted tables searched by lower bound,
// the reading of one kind of entity with progress lines, and the reading
// again of only the blocks that hold what a later stage wants.
#pragma once

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <functional>

#include "common/OSM/PBFReader.h"
#include "common/base/GrowArray.h"
#include "splitter/Log.h"

namespace Splitter::Clip::detail {

template <typename T, typename Key>
const T* LowerBound(const CGrowArray<T>& table, Key key)
{
    return std::lower_bound(table.begin(), table.end(), key);
}

template <typename T>
bool Contains(const CGrowArray<T>& sorted, T value)
{
    const T* at = LowerBound(sorted, value);
    return at != sorted.end() && *at == value;
}

// Tables filled in input order are mostly sorted already.
template <typename T, typename Less = std::less<T>>
void Sort(CGrowArray<T>& table, Less less = Less())
{
    if (!std::is_sorted(table.begin(), table.end(), less))
        std::sort(table.begin(), table.end(), less);
}

template <typename T>
void SortAndShrink(CGrowArray<T>& table)
{
    Sort(table);
    table.ShrinkToFit();
}

// Adds the sorted values to the sorted table, which stays sorted and
// without repeats.
template <typename T>
void MergeSorted(CGrowArray<T>& table, const CGrowArray<T>& values)
{
    const uint64_t old = table.Count();
    table.Append(values.Data(), values.Count());
    std::inplace_merge(table.begin(), table.begin() + old, table.end());
    table.EraseRepeats();
}

// Reads the entities of one kind from where the reader stands, with progress
// lines; body returns the stage's own count. Ends on the first entity of a
// later kind. An entity of an earlier kind means the input is not in the
// usual order, and reading on would silently lose data.
// The tiles are written in the input's order and declared sorted by type and
// id, so an input that is not sorted ends the run rather than give tiles
// that break that promise.
template <typename Body>
void ReadStage(OSM::CPBFReaderAdapter& reader, OSM::EEntityType kind, const CMemoryHolder& owner, CLog& log,
               const char* entityWord, const char* countWord, Body&& body)
{
    CProgressCounter progress(owner, log, reader, entityWord, countWord);
    bool first = true;
    OSM::TId last = 0;
    while (reader.ReadNext()) {
        OSM::EEntityType type = reader.GetType();
        if (type != kind) {
            if (type < kind) {
                std::printf("Input is not sorted: %s %" PRId64 " after the %ss\n",
                            type == OSM::kNode ? "node" : "way", reader.GetId(), entityWord);
                throw OSM::CDataReader::CBadFileException();
            }
            break;
        }
        if (!first && OSM::IdBefore(reader.GetId(), last)) {
            std::printf("Input is not sorted: %s %" PRId64 " after %s %" PRId64 "\n", entityWord, reader.GetId(),
                        entityWord, last);
            throw OSM::CDataReader::CBadFileException();
        }
        first = false;
        last = reader.GetId();
        progress.Step(body());
    }
}

// Ids are packed into 48 bits next to an area; one that does not fit would
// silently collide with another object. Throws
// OSM::CDataReader::CBadFileException, after saying why, for such an id.
void CheckKeyId(OSM::TId id);

// The entities of one kind in one block of the input, so that a later
// stage reads only the blocks that hold what it wants.
struct TBlockSpan {
    uint64_t offset;  // of the block, for a seek
    OSM::TId minId;
    OSM::TId maxId;
    uint64_t count;  // entities of the kind in the block
};

// Notes the reader's current entity, of id, in spans.
void NoteBlock(CGrowArray<TBlockSpan>& spans, const OSM::CPBFReaderAdapter& reader, OSM::TId id);

// Positions the reader at the first entity of the first block holding kind,
// when the reader saw one; else where it would stand: on the first entity of
// a later kind, or at the end.
void SeekFirstBlock(OSM::CPBFReaderAdapter& reader, OSM::EEntityType kind);

// Hands body the entities of kind in the blocks of spans that wants picks,
// seeking over the others. The spans cover every entity of kind, so reading
// on from one wanted block into the next needs no seek; the input was
// checked for order when the spans were noted.
template <typename Wants, typename Body>
void ReadWanted(OSM::CPBFReaderAdapter& reader, OSM::EEntityType kind, const CGrowArray<TBlockSpan>& spans,
                Wants&& wants, Body&& body)
{
    uint64_t next = ~uint64_t(0);  // the span the reader stands right before
    for (uint64_t s = 0; s < spans.Count(); ++s) {
        if (!wants(spans[s]))
            continue;
        if (s != next)
            reader.Seek(spans[s].offset);
        for (uint64_t left = spans[s].count; left > 0 && reader.ReadNext();) {
            if (reader.GetType() == kind) {
                --left;
                body();
            }
        }
        next = s + 1;
    }
}

}  // namespace Splitter::Clip::detail
