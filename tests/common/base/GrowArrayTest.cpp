// The one container behind every table.
#include "common/base/GrowArray.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(GrowArray, GrowsByHalfAndKeepsItsElements)
{
    CGrowArray<int64_t> a;
    std::vector<uint64_t> capacities;
    for (a.Reserve(1); a.Capacity() < 28; a.Reserve(a.Capacity() + 1))
        capacities.push_back(a.Capacity());
    EXPECT_EQ(capacities, (std::vector<uint64_t>{1, 2, 3, 4, 6, 9, 13, 19}));
    a.Reserve(10);  // never shrinks
    EXPECT_EQ(a.Capacity(), 28u);
    EXPECT_THROW(a.Reserve(~uint64_t(0) / 4), std::bad_alloc);
    const int64_t values[] = {1, 2, 3, 4, 5, 6};
    a.Resize(3);
    a.Append(values, 6);
    a.Erase(1, 5);
    EXPECT_EQ(std::vector<int64_t>(a.begin(), a.end()), (std::vector<int64_t>{0, 3, 4, 5, 6}));

    // Short strings point into themselves: a bitwise move would leave them
    // pointing into freed memory. Appending an element of the array itself
    // must grow while reading from the old storage.
    auto text = [](int i) { return i % 2 ? std::to_string(i) : std::string(40, 'x') + std::to_string(i); };
    CGrowArray<std::string> s;
    for (int i = 0; i < 1000; ++i)
        s.PushBack(text(i));
    while (s.Count() != s.Capacity())
        s.PushBack(text(0));
    s.PushBack(s[1]);
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(s[i], text(i));
    EXPECT_EQ(s.Back(), text(1));
    s.Erase(1, s.Count() - 1);
    s.ShrinkToFit();
    EXPECT_EQ(s.Capacity(), 2u);
    CGrowArray<CGrowArray<std::string>> nested;
    for (int i = 0; i < 50; ++i)
        nested.PushBack(s);
    CGrowArray<CGrowArray<std::string>> moved = std::move(nested);
    EXPECT_EQ(nested.Count(), 0u);
    EXPECT_EQ(moved[49][1], text(1));
    moved.Free();
    EXPECT_EQ(moved.Data(), nullptr);
}

}  // namespace
