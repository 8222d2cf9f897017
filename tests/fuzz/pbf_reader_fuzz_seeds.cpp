// The seeds of pbf_reader_fuzz: the first blobs of real files, and raw, so
// that mutations reach the block decoder instead of failing zlib's checksum.
#include <filesystem>
#include <iostream>

#include "tests/support/PbfBuilder.h"
#include "tests/support/TestSupport.h"

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::cerr << "usage: pbf_reader_fuzz_seeds <corpus dir> <file.osm.pbf>...\n";
        return 1;
    }
    const std::filesystem::path corpus = argv[1];
    std::filesystem::create_directories(corpus);
    int written = 0;
    for (int i = 2; i < argc; ++i) {
        const std::string file = test::ReadFile(argv[i]);
        const std::vector<test::TBlob> blobs = test::SplitBlobs(file);
        const std::string header = file.substr(0, blobs.at(0).size), first = file.substr(blobs.at(1).offset, blobs[1].size);
        const std::string raw = test::FrameBlob("OSMData", test::MakeBlob(blobs[1].payload, test::ECompression::kRaw));
        for (const std::string& blob : {first, raw})
            test::WriteFile((corpus / ("seed-" + std::to_string(written++))).string(), header + blob);
    }
    return 0;
}
