// Copies an OSM PBF file through one of the writers, or only decodes it, so
// that the writers can be timed against other tools on the same input.
// usage: write_bench xml|pbf|read INPUT.pbf [OUTPUT]
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "common/OSM/PBFReader.h"
#include "common/OSM/PBFWriter.h"
#include "common/OSM/PBInputAdapter.h"
#include "common/OSM/XMLWriter.h"
#include "common/streams/FileStream.h"

namespace {

// Decodes every entity and hands it to writer, when there is one.
void Copy(OSM::CDataReader& reader, OSM::CDataWriter* writer)
{
    while (reader.ReadNext()) {
        OSM::TEntity* entity = reader.GetEntity();
        if (writer == nullptr)
            continue;
        switch (reader.GetType()) {
        case OSM::kNode: writer->WriteNode(*static_cast<OSM::TNode*>(entity)); break;
        case OSM::kWay: writer->WriteWay(*static_cast<OSM::TWay*>(entity)); break;
        case OSM::kRelation: writer->WriteRelation(*static_cast<OSM::TRelation*>(entity)); break;
        }
    }
}

template <typename TWriter>
bool Write(OSM::CDataReader& reader, const char* output)
{
    TWriter writer;
    if (!writer.Open(output)) {
        std::fprintf(stderr, "cannot create %s\n", output);
        return false;
    }
    Copy(reader, &writer);
    writer.Close();
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    const bool read = argc == 3 && std::strcmp(argv[1], "read") == 0;
    if (!read && !(argc == 4 && (std::strcmp(argv[1], "xml") == 0 || std::strcmp(argv[1], "pbf") == 0))) {
        std::fputs("usage: write_bench xml|pbf|read INPUT.pbf [OUTPUT]\n", stderr);
        return 1;
    }
    CFileReadStream stream(65536);
    CPBInputAdapter source;
    if (!stream.Open(argv[2]) || !source.Open(stream)) {
        std::fprintf(stderr, "cannot read %s\n", argv[2]);
        return 2;
    }
    try {
        OSM::CPBFReaderAdapter reader(source);
        if (read) {
            Copy(reader, nullptr);
            return 0;
        }
        bool ok = argv[1][0] == 'x' ? Write<OSM::CXMLWriter>(reader, argv[3]) : Write<OSM::CPBFWriter>(reader, argv[3]);
        return ok ? 0 : 3;
    } catch (const TStreamException& e) {
        std::fprintf(stderr, "stream failure %u\n", e.code);
    } catch (const OSM::CDataReader::CBadFileException&) {
        std::fputs("bad input file\n", stderr);
    }
    return 4;
}
