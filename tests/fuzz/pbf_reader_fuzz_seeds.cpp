// Writes the seed corpus of pbf_reader_fuzz: the header and first blobs of
// real files as they are, and shortened blocks stored raw, so that mutations
// reach the block decoder instead of failing zlib's checksum.
//
// pbf_reader_fuzz_seeds <corpus dir> <file.osm.pbf>...
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

#include "tests/support/PbfBuilder.h"

namespace {

std::string ReadWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::cerr << "usage: pbf_reader_fuzz_seeds <corpus dir> <file.osm.pbf>...\n";
        return 1;
    }
    const std::filesystem::path corpus = argv[1];
    std::filesystem::create_directories(corpus);
    int written = 0;
    auto write = [&](const std::string& bytes) {
        test::WritePbf((corpus / ("seed-" + std::to_string(written++))).string(), {bytes});
    };
    for (int i = 2; i < argc; ++i) {
        const std::string file = ReadWhole(argv[i]);
        const std::vector<test::TBlobSpan> spans = test::SplitBlobs(file);
        const std::string header = file.substr(spans[0].offset, spans[0].size);
        std::string first = header, raw = header;
        char lastKind = 0;
        for (size_t k = 1; k < spans.size(); ++k) {
            const std::string framed = file.substr(spans[k].offset, spans[k].size);
            OSMPBF::PrimitiveBlock block;
            if (spans[k].type != "OSMData" || !block.ParseFromString(test::BlobPayload(framed)))
                continue;
            const OSMPBF::PrimitiveGroup& group = block.primitivegroup(0);
            char kind = group.ways_size() ? 'w' : group.relations_size() ? 'r' : 'n';
            if (kind == lastKind)
                continue;
            // The first block of each kind, whole and compressed, and shortened
            // and raw.
            lastKind = kind;
            if (first.size() == header.size())
                first += framed;
            else
                write(header + framed);
            test::ShortenBlock(block, 40);
            raw += test::DataBlob(block, test::ECompression::kRaw);
        }
        write(first);
        write(raw);
    }
    std::cout << written << " seeds in " << corpus.string() << "\n";
    return 0;
}
