#include "splitter/clip/StageTools.h"

#include <optional>

#include "splitter/clip/IdAreaKey.h"

namespace Splitter::Clip::detail {

void CheckKeyId(OSM::TId id)
{
    if (!FitsKey(id)) {
        std::printf("Id %" PRId64 " does not fit in 48 bits\n", id);
        throw OSM::CDataReader::CBadFileException();
    }
}

void NoteBlock(CGrowArray<TBlockSpan>& spans, const OSM::CPBFReaderAdapter& reader, OSM::TId id)
{
    if (spans.Empty() || spans.Back().offset != reader.BlockOffset()) {
        spans.PushBack({reader.BlockOffset(), id, id, 1});
        return;
    }
    TBlockSpan& span = spans.Back();
    span.minId = std::min(span.minId, id);
    span.maxId = std::max(span.maxId, id);
    ++span.count;
}

// A file without entities of kind must not leave the reader wherever the
// stage before stopped.
void SeekFirstBlock(OSM::CPBFReaderAdapter& reader, OSM::EEntityType kind)
{
    std::optional<uint64_t> offset;
    for (int k = kind; k <= OSM::kRelation && !offset; ++k)
        offset = reader.FirstBlockOffset(OSM::EEntityType(k));
    if (!reader.Seek(offset ? *offset : reader.Size()))
        return;
    while (reader.ReadNext() && reader.GetType() < kind) {
    }
    reader.StepBack();
}

}  // namespace Splitter::Clip::detail
