// Writers of many files at once share their block, message, compression and
// stream buffers and complete their files together: each file must come out
// as if it had been written alone, and a failure must still name its file.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/OSM/PBFReader.h"
#include "common/OSM/PBFWriter.h"
#include "common/OSM/PBInputAdapter.h"
#include "common/OSM/XMLWriter.h"
#include "common/streams/FileStream.h"
#include "tests/support/PbfBuilder.h"
#include "tests/support/TestSupport.h"

namespace {

// The entities of one file, each kind in file order, with values across
// their whole ranges (metadata outside the format included) and strings
// that repeat, differ in case only, or are new.
struct TContent {
    std::vector<OSM::TNode> nodes;
    std::vector<OSM::TWay> ways;
    std::vector<OSM::TRelation> relations;
};

TContent MakeContent(uint32_t seed, int nodes, int ways, int relations)
{
    std::mt19937_64 random(seed);
    auto in = [&random](int64_t low, int64_t high) {
        return std::uniform_int_distribution<int64_t>(low, high)(random);
    };
    static const char* const kStrings[] = {"", "a", "A", "name", "Name", "highway", "residential", "outer", "inner",
                                           "Ünïcödé", "x y", "building"};
    auto text = [&]() -> std::string {
        if (in(0, 3) == 0)
            return "unique " + std::to_string(random());  // many strings: the table outgrows one-byte indices
        return kStrings[in(0, std::size(kStrings) - 1)];
    };
    auto fill = [&](OSM::TEntity& e, OSM::TId id) {
        e.id = id;
        e.info = {int32_t(in(-3, 100000)), int32_t(in(-10, INT32_MAX)), text(), in(-5, int64_t(1) << 33),
                  in(0, INT32_MAX) * 1000 + in(0, 1) * 999, 1};
        for (int64_t t = in(0, 4); t > 0; --t)
            e.AddTag(text(), text());
    };
    auto ids = [&](int count) {
        // IdBefore order: negative ids by absolute value, then positive ones,
        // with gaps from one to 2^44.
        std::vector<OSM::TId> list;
        OSM::TId id = 0;
        for (int i = 0; i < count / 10; ++i)
            list.push_back(id -= in(1, in(0, 1) ? 3 : int64_t(1) << 44));
        for (id = 0; int(list.size()) < count;)
            list.push_back(id += in(1, in(0, 1) ? 3 : int64_t(1) << 44));
        return list;
    };
    TContent c;
    for (OSM::TId id : ids(nodes)) {
        OSM::TNode& node = c.nodes.emplace_back();
        fill(node, id);
        node.position = {int32_t(in(-1509949439, 1509949439)), int32_t(in(-754974720, 754974720))};
    }
    for (OSM::TId id : ids(ways)) {
        OSM::TWay& way = c.ways.emplace_back();
        fill(way, id);
        for (int64_t r = in(0, 100); r > 0; --r)
            way.nodeRefs.PushBack(in(-(int64_t(1) << 61), int64_t(1) << 61));
    }
    for (OSM::TId id : ids(relations)) {
        OSM::TRelation& relation = c.relations.emplace_back();
        fill(relation, id);
        for (int64_t m = in(0, 50); m > 0; --m)
            relation.members.PushBack({OSM::EEntityType(in(0, 2)), in(-(int64_t(1) << 61), int64_t(1) << 61), text()});
    }
    return c;
}

size_t Count(const TContent& c) { return c.nodes.size() + c.ways.size() + c.relations.size(); }

// Hands the i-th entity of c, in file order, to writer.
void WriteEntity(OSM::CDataWriter& writer, const TContent& c, size_t i)
{
    if (i < c.nodes.size())
        return writer.WriteNode(c.nodes[i]);
    i -= c.nodes.size();
    if (i < c.ways.size())
        return writer.WriteWay(c.ways[i]);
    writer.WriteRelation(c.relations[i - c.ways.size()]);
}

// What reading c back must give: metadata outside the format as absent,
// times in whole seconds.
std::string Expected(TContent c)
{
    std::string out;
    auto put = [&out](OSM::EEntityType type, OSM::TEntity& e) {
        e.info = {OSM::WritableVersion(e.info.version), OSM::WritableUid(e.info.uid), e.info.user,
                  OSM::WritableChangeset(e.info.changeset), e.info.timestamp / 1000 * 1000, 0};
        out += test::Describe(type, e);
    };
    for (OSM::TNode& n : c.nodes)
        put(OSM::kNode, n);
    for (OSM::TWay& w : c.ways)
        put(OSM::kWay, w);
    for (OSM::TRelation& r : c.relations)
        put(OSM::kRelation, r);
    return out;
}

// Completes the files as a pass does: all completed, then all waited for,
// one sync, then each closed.
template <class TWriter>
void CompleteAll(std::vector<std::unique_ptr<TWriter>>& writers)
{
    for (auto& w : writers)
        w->Complete();
    std::vector<CFileWriteStream*> streams;
    for (auto& w : writers)
        streams.push_back(&w->CompletedStream());
    CFileWriteStream::SyncAll(streams.data(), streams.size());
    for (auto& w : writers)
        w->Close();
}

template <class TWriter>
void CheckInterleavedAgainstAlone(const std::vector<TContent>& contents, const char* extension, bool readBack)
{
    test::CTempDir dir;
    auto path = [&](const char* kind, size_t i) { return dir / (kind + std::to_string(i) + extension); };
    for (size_t i = 0; i < contents.size(); ++i) {
        TWriter alone;
        ASSERT_TRUE(alone.Open(path("alone", i)));
        for (size_t e = 0; e < Count(contents[i]); ++e)
            WriteEntity(alone, contents[i], e);
        alone.Close();
    }
    std::vector<std::unique_ptr<TWriter>> writers;
    for (size_t i = 0; i < contents.size(); ++i) {
        writers.push_back(std::make_unique<TWriter>());
        ASSERT_TRUE(writers.back()->Open(path("shared", i)));
    }
    // One entity to each file in turn.
    for (size_t e = 0; e < 30000; ++e)
        for (size_t i = 0; i < contents.size(); ++i)
            if (e < Count(contents[i]))
                WriteEntity(*writers[i], contents[i], e);
    CompleteAll(writers);
    for (size_t i = 0; i < contents.size(); ++i) {
        SCOPED_TRACE(i);
        const std::string shared = test::ReadFile(path("shared", i));
        EXPECT_TRUE(shared == test::ReadFile(path("alone", i)));
        if (readBack) {
            EXPECT_EQ(test::DescribePbf(shared), Expected(contents[i]));
        }
    }
}

// Files of different sizes: blocks of the one writer end while the others
// are half full.
TEST(SharedBuffersTest, InterleavedWritersWriteWhatEachWritesAlone)
{
    const int sizes[][3] = {{0, 0, 0},       {1, 0, 0},       {5000, 2000, 1500}, {7999, 1, 0},
                            {12000, 300, 40}, {100, 9000, 10}, {0, 0, 8001},       {20000, 0, 0}};
    std::vector<TContent> contents;
    for (uint32_t i = 0; i < std::size(sizes); ++i)
        contents.push_back(MakeContent(i + 1, sizes[i][0], sizes[i][1], sizes[i][2]));
    CheckInterleavedAgainstAlone<OSM::CPBFWriter>(contents, ".osm.pbf", true);
    CheckInterleavedAgainstAlone<OSM::CXMLWriter>(contents, ".osm", false);
}

TEST(SharedBuffersTest, TheStringTableKeepsItsOrder)
{
    test::CTempDir dir;
    auto name = [](int i) { return "s" + std::string(i < 10 ? "00" : i < 100 ? "0" : "") + std::to_string(i); };
    struct TCase {
        std::vector<std::pair<std::string, int>> uses;  // each string, with how often the way uses it
        std::vector<std::string> table;
    };
    // Few strings: byte order, letter case apart. The user name "" counts.
    TCase few{{{"b", 1}, {"B", 3}, {"a", 2}, {"ab", 1}}, {"", "", "B", "a", "ab", "b"}};
    // Many: the 126 most used in byte order, then the rest in byte order.
    TCase many{{}, {"", "a"}};
    for (int i = 199; i >= 0; --i)  // written in descending order
        many.uses.push_back({name(i), i + 1});
    many.uses.push_back({"a", 100000});
    for (int i = 75; i < 200; ++i)
        many.table.push_back(name(i));
    many.table.push_back("");  // the user name, used once
    for (int i = 0; i < 75; ++i)
        many.table.push_back(name(i));

    for (TCase* c : {&few, &many}) {
        OSM::TWay way;
        way.id = 1;
        // Tags in turn, so that no string's uses come in one run.
        for (bool more = true; more;) {
            more = false;
            for (auto& [s, uses] : c->uses)
                if (uses > 0)
                    way.AddTag(s, s), uses -= 2, more = true;
        }
        OSM::CPBFWriter writer;
        ASSERT_TRUE(writer.Open(dir / "t.osm.pbf"));
        writer.WriteWay(way);
        writer.Close();
        // The string table of the file's only block.
        const std::string file = test::ReadFile(dir / "t.osm.pbf");
        const std::vector<test::TBlobSpan> spans = test::SplitBlobs(file);
        ASSERT_EQ(spans.size(), 2u);
        OSMPBF::PrimitiveBlock block;
        ASSERT_TRUE(block.ParseFromString(test::BlobPayload(std::string_view(file).substr(spans[1].offset))));
        EXPECT_EQ(std::vector<std::string>(block.stringtable().s().begin(), block.stringtable().s().end()), c->table);
    }
}

// A write failure of any step of completing files together is reported once,
// naming its file, and the file is closed.
TEST(SharedBuffersTest, FailuresNameTheFile)
{
    auto check = [](auto writer) {
        ASSERT_TRUE(writer->Open("/dev/full"));
        for (OSM::TId id = 1; id <= 10; ++id)
            writer->WriteNode(test::MakeNode(id));
        std::vector<decltype(writer)> writers;
        writers.push_back(std::move(writer));
        int failures = 0;
        try {
            CompleteAll(writers);
        } catch (const TStreamException& e) {
            EXPECT_EQ(e.code, TStreamException::kWrite);
            EXPECT_EQ(e.file, "/dev/full");
            ++failures;
        }
        EXPECT_EQ(failures, 1);
        EXPECT_NO_THROW(writers[0]->Close());
        EXPECT_FALSE(writers[0]->CompletedStream().IsOpen());
    };
    check(std::make_unique<OSM::CPBFWriter>());
    check(std::make_unique<OSM::CXMLWriter>());
}

// Buffers grow while a file takes more; what was written, sought and
// overwritten reaches the file as a plain string receives it, whether the
// files are synced together (empty, one write or many) or closed alone.
TEST(SharedBuffersTest, GrowingBuffersKeepEveryByte)
{
    test::CTempDir dir;
    const uint64_t capacities[] = {0, 1, 16, 700, 5000, 65536};
    const size_t n = std::size(capacities);
    std::vector<std::unique_ptr<CFileWriteStream>> files;
    std::vector<CFileWriteStream*> synced;
    std::vector<std::string> models(3 * n);
    for (size_t f = 0; f < models.size(); ++f) {
        std::mt19937 random{uint32_t(f)};
        CFileWriteStream& stream = *files.emplace_back(std::make_unique<CFileWriteStream>(capacities[f % n]));
        ASSERT_TRUE(stream.Open(dir / std::to_string(f)));
        std::string& model = models[f];
        uint64_t position = 0;
        for (int step = 0; step < (f < n ? 0 : f < 2 * n ? 1 : 400); ++step) {
            if (random() % 8 == 0 && !model.empty()) {
                position = model.size() - random() % std::min<size_t>(model.size(), 3000);
                stream.Seek(position);
                continue;
            }
            std::string bytes(1 + random() % 2500, '\0');
            for (char& c : bytes)
                c = char('a' + random() % 26);
            stream.Write(bytes.data(), bytes.size());
            model.replace(position, bytes.size(), bytes);
            position += bytes.size();
            ASSERT_EQ(stream.Position(), position);
        }
        if (f % 2 == 0 || f < 2 * n)
            synced.push_back(&stream);
        else
            EXPECT_TRUE(stream.Close());
    }
    CFileWriteStream::SyncAll(synced.data(), synced.size());
    for (CFileWriteStream* stream : synced)
        EXPECT_TRUE(stream->Close());
    for (size_t f = 0; f < models.size(); ++f)
        EXPECT_TRUE(test::ReadFile(dir / std::to_string(f)) == models[f]) << f;
}

}  // namespace
