// What both writers promise: write failures are reported once, naming the
// file, never by a destructor.
#include <memory>
#include <type_traits>

#include <gtest/gtest.h>

#include "common/OSM/PBFWriter.h"
#include "common/OSM/XMLWriter.h"
#include "tests/support/PbfBuilder.h"

namespace {

template <typename TWriter>
class DataWriter : public testing::Test {};
using TWriters = testing::Types<OSM::CXMLWriter, OSM::CPBFWriter>;
TYPED_TEST_SUITE(DataWriter, TWriters);

// Failing while a file is ended as a pass ends it (completed, waited for,
// synced), or at a block on the blob worker; the file is closed all the same.
TYPED_TEST(DataWriter, FailuresThrowOnceNamingTheFileAndNeverFromADestructor)
{
    for (size_t count : {size_t(10), std::is_same_v<TypeParam, OSM::CPBFWriter> ? size_t(20000) : 10}) {
        TypeParam writer;
        ASSERT_TRUE(writer.Open("/dev/full"));
        int failures = 0;
        try {
            for (size_t i = 0; i < count; ++i)
                writer.WriteNode(test::MakeNode(int64_t(i) + 1));
            writer.Complete();
            CFileWriteStream* stream = &writer.CompletedStream();
            CFileWriteStream::SyncAll(&stream, 1);
            writer.Close();
        } catch (const TStreamException& e) {
            EXPECT_EQ(e.code, TStreamException::kWrite);
            EXPECT_EQ(e.file, "/dev/full");
            ++failures;
        }
        EXPECT_EQ(failures, 1) << count;
        EXPECT_NO_THROW(writer.Close());
        EXPECT_FALSE(writer.CompletedStream().IsOpen());
    }
    EXPECT_FALSE(TypeParam().Open("/nonexistent/out"));
    auto dying = std::make_unique<TypeParam>();
    ASSERT_TRUE(dying->Open("/dev/full"));
    dying->WriteNode(test::MakeNode(1));
    EXPECT_NO_THROW(dying.reset());
}

}  // namespace
