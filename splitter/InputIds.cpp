#include "splitter/InputIds.h"

#include <cinttypes>
#include <cstdio>

#include "common/OSM/PBFReader.h"
#include "common/OSM/PBInputAdapter.h"

bool CheckInputIds(CPBInputAdapter& input, const std::string& fileName)
{
    static const char* const kKinds[] = {"node", "way", "relation"};
    input.Stream().Seek(0);
    bool error;
    input.ReadBlob(error);
    OSM::CPBFReaderAdapter reader(input);
    while (reader.ReadNext()) {
        const OSM::TId id = reader.GetId();
        if (id < Clip::kMinKeyId || id > kMaxInputId) {
            std::printf("%s: %s %" PRId64 " lies outside the ids this program splits, %" PRId64 " to %" PRId64
                        ", which leave room for the ids of new objects\n",
                        fileName.c_str(), kKinds[reader.GetType()], id, Clip::kMinKeyId, kMaxInputId);
            return false;
        }
        if (reader.GetType() != OSM::kRelation)
            continue;
        for (const OSM::TMember& member : reader.Relation().members) {
            if (member.type == OSM::kWay && !Clip::FitsKey(member.ref)) {
                std::printf("%s: relation %" PRId64 " has a way member %" PRId64 " that does not fit in 48 bits\n",
                            fileName.c_str(), id, member.ref);
                return false;
            }
        }
    }
    return true;
}
