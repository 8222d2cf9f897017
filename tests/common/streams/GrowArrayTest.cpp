#include "common/streams/GrowArray.h"
#include "common/streams/PoolAllocator.h"
#include "common/streams/SharedPtr.h"

#include <string>

#include <gtest/gtest.h>

namespace {

TEST(GrowArray, GrowsByHalfOfItsCapacity)
{
    CGrowArray<int64_t> a;
    EXPECT_EQ(a.Capacity(), 0u);
    EXPECT_EQ(a.Data(), nullptr);
    a.Reserve(1);
    EXPECT_EQ(a.Capacity(), 1u);
    const uint64_t expected[] = {2, 3, 4, 6, 9, 13, 19, 28};
    for (uint64_t want : expected) {
        a.Reserve(a.Capacity() + 1);
        EXPECT_EQ(a.Capacity(), want);
    }
    a.Reserve(1000);
    EXPECT_EQ(a.Capacity(), 1000u);
    a.Reserve(10);  // never shrinks
    EXPECT_EQ(a.Capacity(), 1000u);
}

TEST(GrowArray, AppendsItsOwnElementWhileGrowing)
{
    CGrowArray<int64_t> a;
    a.PushBack(41);
    for (int i = 0; i < 100; ++i)
        a.PushBack(a[0] + 0);  // a reference into the array itself
    for (int i = 0; i < 10; ++i) {
        while (a.Count() != a.Capacity())
            a.PushBack(a.Back());
        a.PushBack(a.Back());  // must grow while reading from the old storage
    }
    for (int64_t v : a)
        EXPECT_EQ(v, 41);

    CGrowArray<std::string> s;
    s.PushBack(std::string(100, 'x'));
    while (s.Count() != s.Capacity())
        s.PushBack("y");
    s.PushBack(s[0]);
    EXPECT_EQ(s.Back(), std::string(100, 'x'));
}

TEST(GrowArray, RelocatesStringsByMoving)
{
    // Short strings live inside the object and point to themselves: a bitwise
    // move would leave them pointing into freed memory.
    CGrowArray<std::string> a;
    for (int i = 0; i < 1000; ++i)
        a.PushBack(i % 2 ? std::to_string(i) : std::string(40, char('a' + i % 26)) + std::to_string(i));
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(a[i], i % 2 ? std::to_string(i) : std::string(40, char('a' + i % 26)) + std::to_string(i));

    a.Erase(1, 999);
    ASSERT_EQ(a.Count(), 2u);
    EXPECT_EQ(a[1], "999");
    a.ShrinkToFit();
    EXPECT_EQ(a.Capacity(), 2u);
    EXPECT_EQ(a[0], std::string(40, 'a') + "0");

    CGrowArray<std::string> copy = a;
    CGrowArray<std::string> moved = std::move(a);
    EXPECT_EQ(a.Count(), 0u);
    EXPECT_EQ(copy[1], moved[1]);

    CGrowArray<CGrowArray<std::string>> nested;
    for (int i = 0; i < 50; ++i)
        nested.PushBack(copy);
    EXPECT_EQ(nested[49][1], "999");
}

TEST(GrowArray, ResizeEraseAndClear)
{
    CGrowArray<uint32_t> a;
    a.Resize(5);
    for (uint32_t v : a)
        EXPECT_EQ(v, 0u);
    const uint32_t values[] = {1, 2, 3, 4, 5, 6};
    a.Clear();
    a.Append(values, 6);
    a.Erase(1, 3);
    EXPECT_EQ(a.Count(), 4u);
    EXPECT_EQ(a[0], 1u);
    EXPECT_EQ(a[1], 4u);
    EXPECT_EQ(a[3], 6u);
    a.Resize(2);
    EXPECT_EQ(a.Count(), 2u);
    uint64_t capacity = a.Capacity();
    a.Clear();
    EXPECT_EQ(a.Capacity(), capacity);
    a.Free();
    EXPECT_EQ(a.Capacity(), 0u);
    EXPECT_EQ(a.Data(), nullptr);
}

TEST(GrowArray, OversizedReserveThrowsAndKeepsTheArray)
{
    CGrowArray<uint64_t> a;
    a.PushBack(7);
    EXPECT_THROW(a.Reserve(~uint64_t(0) / 4), std::bad_alloc);
    try {
        a.Reserve(~uint64_t(0) / 4);
    } catch (const std::bad_alloc& e) {
        EXPECT_STREQ(e.what(), "bad allocation");
    }
    ASSERT_EQ(a.Count(), 1u);
    EXPECT_EQ(a[0], 7u);
}

TEST(PoolAllocator, ServesChunksAndReusesFreedBlocks)
{
    CPoolAllocator<32> pool(100);
    void* blocks[101];
    for (int i = 0; i < 100; ++i)
        blocks[i] = pool.Allocate();
    EXPECT_EQ(pool.ChunkCount(), 1u);
    for (int i = 1; i < 100; ++i)  // handed out in address order
        EXPECT_EQ(static_cast<char*>(blocks[i]) - static_cast<char*>(blocks[i - 1]), 32);
    blocks[100] = pool.Allocate();
    EXPECT_EQ(pool.ChunkCount(), 2u);
    pool.Free(blocks[42]);
    EXPECT_EQ(pool.Allocate(), blocks[42]);
    EXPECT_EQ(pool.BytesHeld(), 2u * 100 * 32);
    pool.Destroy();
    EXPECT_EQ(pool.ChunkCount(), 0u);
}

struct CCountedPool {
    explicit CCountedPool(int* destroyed) : destroyed(destroyed) {}
    ~CCountedPool() { ++*destroyed; }
    int* destroyed;
};

TEST(SharedPtr, DestroysOnceWhenTheLastCopyGoes)
{
    int destroyed = 0;
    {
        auto a = CSharedPtr<CCountedPool>::MakeStatic(&destroyed);
        {
            CSharedPtr<CCountedPool> b = a;
            EXPECT_EQ(a.UseCount(), 2u);
        }
        EXPECT_EQ(destroyed, 0);
        auto c = CSharedPtr<CCountedPool>::MakeDynamic(std::make_unique<CCountedPool>(&destroyed));
        c.Release();
        EXPECT_EQ(destroyed, 1);
        c.Release();  // releasing a null holder does nothing
    }
    EXPECT_EQ(destroyed, 2);

    auto pool = CSharedPtr<CPoolAllocator<64>>::MakeStatic(1000);
    void* block = pool->Allocate();
    EXPECT_NE(block, nullptr);
}

}  // namespace
