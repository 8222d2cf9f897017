// What both writers promise about their files: every way of ending one
// completes it, and write failures are reported once, never by a destructor.
#include <memory>
#include <string>

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

TYPED_TEST(DataWriter, EveryWayOfEndingAFileCompletesIt)
{
    test::CTempDir dir;
    {
        TypeParam destroyed;
        ASSERT_TRUE(destroyed.Open(dir / "destroyed"));
        destroyed.WriteNode(test::MakeNode(1));
    }
    TypeParam writer;
    ASSERT_TRUE(writer.Open(dir / "closed"));
    writer.WriteNode(test::MakeNode(1));
    writer.Close();
    writer.Close();  // already closed: nothing happens
    ASSERT_TRUE(writer.Open(dir / "reopened"));
    writer.WriteNode(test::MakeNode(1));
    ASSERT_TRUE(writer.Open(dir / "empty"));
    EXPECT_FALSE(writer.Open(dir / "missing/out"));
    const std::string complete = test::ReadFile(dir / "closed");
    EXPECT_EQ(test::ReadFile(dir / "destroyed"), complete);
    EXPECT_EQ(test::ReadFile(dir / "reopened"), complete);
    EXPECT_LT(test::ReadFile(dir / "empty").size(), complete.size());
    EXPECT_NE(test::ReadFile(dir / "empty").size(), 0u);
}

TYPED_TEST(DataWriter, FailuresThrowOnceAndNeverFromADestructor)
{
    TypeParam writer;
    ASSERT_TRUE(writer.Open("/dev/full"));
    writer.WriteNode(test::MakeNode(1));
    try {
        writer.Close();
        ADD_FAILURE() << "Close succeeded on /dev/full";
    } catch (const TStreamException& e) {
        EXPECT_EQ(e.code, TStreamException::kWrite);
    }
    EXPECT_NO_THROW(writer.Close());
    auto dying = std::make_unique<TypeParam>();
    ASSERT_TRUE(dying->Open("/dev/full"));
    dying->WriteNode(test::MakeNode(1));
    EXPECT_NO_THROW(dying.reset());
}

}  // namespace
