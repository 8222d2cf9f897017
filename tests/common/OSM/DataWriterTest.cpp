// What both writers promise: files written side by side come out as if
// written alone, however they are ended, and failures are reported once,
// naming the file, never by a destructor.
#include <memory>
#include <type_traits>

#include <gtest/gtest.h>

#include "common/OSM/PBFWriter.h"
#include "common/OSM/XMLWriter.h"
#include "tests/support/PbfBuilder.h"
#include "tests/support/TestSupport.h"

namespace {

template <typename TWriter>
class DataWriter : public testing::Test {};
using TWriters = testing::Types<OSM::CXMLWriter, OSM::CPBFWriter>;
TYPED_TEST_SUITE(DataWriter, TWriters);

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

// The writers share their block, message, compression and stream buffers
// and the blob worker; a block of one ends while the others are half full.
TYPED_TEST(DataWriter, InterleavedWritersWriteWhatEachWritesAlone)
{
    const int sizes[][3] = {{0, 0, 0},        {1, 0, 0},       {5000, 2000, 1500}, {7999, 1, 0},
                            {12000, 300, 40}, {100, 9000, 10}, {0, 0, 8001},       {20000, 0, 0}};
    test::CTempDir dir;
    std::vector<test::TEntitySet> sets;
    std::vector<std::unique_ptr<TypeParam>> writers, together;
    for (size_t i = 0; i < std::size(sizes); ++i) {
        sets.push_back(test::RandomEntities(uint32_t(i), sizes[i][0], sizes[i][1], sizes[i][2]));
        {
            TypeParam alone;  // completed by its destructor
            ASSERT_TRUE(alone.Open(dir / ("alone" + std::to_string(i))));
            for (size_t e = 0; e < sets[i].Count(); ++e)
                sets[i].Write(alone, e);
        }
        ASSERT_TRUE(writers.emplace_back(std::make_unique<TypeParam>())->Open(dir / std::to_string(i)));
    }
    for (size_t e = 0; e < 30000; ++e)
        for (size_t i = 0; i < sets.size(); ++i)
            if (e < sets[i].Count())
                sets[i].Write(*writers[i], e);
    // Some closed one by one, the others completed together.
    for (size_t i = 0; i < writers.size(); ++i)
        if (i % 3 == 0)
            writers[i]->Close();
        else
            together.push_back(std::move(writers[i]));
    CompleteAll(together);
    for (size_t i = 0; i < sets.size(); ++i)
        EXPECT_TRUE(test::ReadFile(dir / std::to_string(i)) == test::ReadFile(dir / ("alone" + std::to_string(i)))) << i;
}

// At any step of completing files together, or at a PBF block written on
// the blob worker on the way; the file is closed all the same.
TYPED_TEST(DataWriter, FailuresThrowOnceNamingTheFileAndNeverFromADestructor)
{
    const test::TEntitySet set = test::RandomEntities(1, 20000, 0, 0);
    for (size_t count : {size_t(10), std::is_same_v<TypeParam, OSM::CPBFWriter> ? set.Count() : 10}) {
        std::vector<std::unique_ptr<TypeParam>> writers;
        ASSERT_TRUE(writers.emplace_back(std::make_unique<TypeParam>())->Open("/dev/full"));
        int failures = 0;
        try {
            for (size_t i = 0; i < count; ++i)
                set.Write(*writers[0], i);
            CompleteAll(writers);
        } catch (const TStreamException& e) {
            EXPECT_EQ(e.code, TStreamException::kWrite);
            EXPECT_EQ(e.file, "/dev/full");
            ++failures;
        }
        EXPECT_EQ(failures, 1) << count;
        EXPECT_NO_THROW(writers[0]->Close());
        EXPECT_FALSE(writers[0]->CompletedStream().IsOpen());
    }
    EXPECT_FALSE(TypeParam().Open("/nonexistent/out"));
    auto dying = std::make_unique<TypeParam>();
    ASSERT_TRUE(dying->Open("/dev/full"));
    dying->WriteNode(test::MakeNode(1));
    EXPECT_NO_THROW(dying.reset());
}

}  // namespace
