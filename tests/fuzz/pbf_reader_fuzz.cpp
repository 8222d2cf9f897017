// libFuzzer target for the PBF reader: a whole file must end in a refused
// header or CBadFileException, nothing else. Built with clang and
// -DSPLITTER_FUZZ=ON; `ctest -R fuzz` seeds the corpus, then fuzzes for 20 s.
#include "common/OSM/PBFReader.h"
#include "common/OSM/PBInputAdapter.h"
#include "tests/support/PbfBuilder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    test::DescribePbf(bytes);
    // The second reading the program does: blob by blob, positions only.
    test::CMemoryReadStream stream(bytes);
    CPBInputAdapter adapter;
    OSMPBF::PrimitiveBlock block;
    CGrowArray<CGeoPoint> points;
    bool error;
    try {
        for (bool open = adapter.Open(stream); open && adapter.ReadBlob(error);) {
            if (adapter.BlobType() != "OSMData")
                continue;
            OSM::ParsePrimitiveBlock(adapter.Payload(), block);
            for (const OSMPBF::PrimitiveGroup& group : block.primitivegroup())
                OSM::AppendPositions(block, group, points);
        }
    } catch (const OSM::CDataReader::CBadFileException&) {
    }
    return 0;
}
