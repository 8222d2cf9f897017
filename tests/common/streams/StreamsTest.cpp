// Growable arrays, pools, file streams against plain strings, and the
// file-system helpers.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/streams/FileStream.h"
#include "common/streams/FileSystem.h"
#include "common/streams/GrowArray.h"
#include "common/streams/PoolAllocator.h"
#include "common/streams/SharedPtr.h"
#include "tests/support/TestSupport.h"

namespace {

TEST(GrowArray, GrowsByHalfAndKeepsItsElements)
{
    CGrowArray<int64_t> a;
    EXPECT_EQ(a.Data(), nullptr);
    std::vector<uint64_t> capacities;
    for (a.Reserve(1); a.Capacity() < 28; a.Reserve(a.Capacity() + 1))
        capacities.push_back(a.Capacity());
    EXPECT_EQ(capacities, (std::vector<uint64_t>{1, 2, 3, 4, 6, 9, 13, 19}));
    a.Reserve(10);  // never shrinks
    EXPECT_EQ(a.Capacity(), 28u);

    // Appending an element of the array itself while it grows.
    a.PushBack(41);
    for (int i = 0; i < 200; ++i)
        a.PushBack(a.Back());
    for (int64_t v : a)
        EXPECT_EQ(v, 41);
    const uint64_t values[] = {1, 2, 3, 4, 5, 6};
    CGrowArray<uint64_t> b;
    b.Resize(3);
    EXPECT_EQ(b[2], 0u);
    b.Append(values, 6);
    b.Erase(1, 5);
    EXPECT_EQ(std::vector<uint64_t>(b.begin(), b.end()), (std::vector<uint64_t>{0, 3, 4, 5, 6}));
    EXPECT_THROW(b.Reserve(~uint64_t(0) / 4), std::bad_alloc);
    EXPECT_EQ(b.Count(), 5u);
    b.Clear();
    EXPECT_NE(b.Capacity(), 0u);
    b.Free();
    EXPECT_EQ(b.Data(), nullptr);
}

TEST(GrowArray, RelocatesStringsByMoving)
{
    // Short strings point into themselves: a bitwise move would leave them
    // pointing into freed memory.
    auto text = [](int i) { return i % 2 ? std::to_string(i) : std::string(40, char('a' + i % 26)) + std::to_string(i); };
    CGrowArray<std::string> a;
    for (int i = 0; i < 1000; ++i)
        a.PushBack(text(i));
    while (a.Count() != a.Capacity())
        a.PushBack(text(0));
    a.PushBack(a[0]);  // must grow while reading from the old storage
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(a[i], text(i));
    EXPECT_EQ(a.Back(), text(0));
    a.Erase(1, a.Count() - 1);
    a.ShrinkToFit();
    EXPECT_EQ(a.Capacity(), 2u);
    CGrowArray<CGrowArray<std::string>> nested;
    for (int i = 0; i < 50; ++i)
        nested.PushBack(a);
    CGrowArray<CGrowArray<std::string>> moved = std::move(nested);
    EXPECT_EQ(nested.Count(), 0u);
    EXPECT_EQ(moved[49][1], text(0));
}

TEST(PoolAllocator, ServesChunksReusesBlocksAndIsSharedSafely)
{
    auto pool = CSharedPtr<CPoolAllocator<32>>::MakeStatic(100);
    void* blocks[101];
    for (void*& block : blocks)
        block = pool->Allocate();
    for (int i = 1; i < 100; ++i)  // handed out in address order
        EXPECT_EQ(static_cast<char*>(blocks[i]) - static_cast<char*>(blocks[i - 1]), 32);
    EXPECT_EQ(pool->ChunkCount(), 2u);
    pool->Free(blocks[42]);
    EXPECT_EQ(pool->Allocate(), blocks[42]);
    EXPECT_EQ(pool->BytesHeld(), 2u * 100 * 32);
    {
        CSharedPtr<CPoolAllocator<32>> copy = pool;
        EXPECT_EQ(pool.UseCount(), 2u);
    }
    EXPECT_EQ(pool.UseCount(), 1u);
    pool->Destroy();
    EXPECT_EQ(pool->ChunkCount(), 0u);

    struct CCounted {
        int* destroyed;
        ~CCounted() { ++*destroyed; }
    };
    int destroyed = 0;
    auto owned = CSharedPtr<CCounted>::MakeDynamic(std::unique_ptr<CCounted>(new CCounted{&destroyed}));
    owned.Release();
    owned.Release();  // releasing a null holder does nothing
    EXPECT_EQ(destroyed, 1);
}

uint32_t CodeOf(const std::function<void()>& body)
{
    try {
        body();
    } catch (const TStreamException& e) {
        return e.code;
    }
    return 0;
}

std::string Pattern(size_t n)
{
    std::string s(n, 0);
    for (size_t i = 0; i < n; ++i)
        s[i] = char((i * 131 + i / 7) & 0xFF);
    return s;
}

// Random gets, reads and seeks, before, inside and beyond the window, against
// the bytes of the file.
TEST(FileReadStream, ServesTheFileThroughAnyWindow)
{
    test::CTempDir dir;
    const std::string data = Pattern(20000);
    test::WriteFile(dir / "f", data);
    for (uint64_t capacity : {uint64_t(1024), uint64_t(2048), CFileReadStream::kWholeFile}) {
        CFileReadStream in(capacity);
        ASSERT_TRUE(in.Open(dir / "f"));
        EXPECT_EQ(in.MaxBlock() == data.size(), capacity == CFileReadStream::kWholeFile);
        std::mt19937 random(7);
        for (int i = 0; i < 3000; ++i) {
            const uint64_t p = i % 4 == 0 ? in.Position() : random() % data.size();
            const uint64_t n = 1 + random() % std::min<uint64_t>(i % 5 ? in.MaxBlock() : 5000, data.size() - p);
            in.Seek(p);
            std::string got(n, 0);
            if (i % 5)
                std::memcpy(got.data(), in.Get(n), n);
            else
                in.Read(got.data(), n);
            ASSERT_EQ(got, data.substr(p, n)) << "at " << p << " of " << n;
            ASSERT_EQ(in.Remaining(), data.size() - p - n);
            if (in.Remaining() == 0)
                in.Seek(0);
        }
        in.Seek(data.size());  // the end itself is a position
        EXPECT_EQ(CodeOf([&] { in.Get(1); }), TStreamException::kPosition);
        EXPECT_EQ(CodeOf([&] { in.Seek(data.size() + 1); }), TStreamException::kPosition);
        in.Seek(0);
        EXPECT_EQ(CodeOf([&] { in.Get(in.MaxBlock() + 600); }), capacity == CFileReadStream::kWholeFile
                                                                     ? TStreamException::kPosition
                                                                     : TStreamException::kBuffer);
    }
    CFileReadStream raw(CFileReadStream::kUnbuffered);
    ASSERT_TRUE(raw.Open(dir / "f"));
    EXPECT_EQ(CodeOf([&] { raw.Get(1); }), TStreamException::kBuffer);
    EXPECT_EQ(CodeOf([&] { raw.ReadLine(); }), TStreamException::kBuffer);
    raw.Seek(15000);
    char buf[100];
    raw.Read(buf, 100);
    EXPECT_EQ(std::string(buf, 100), data.substr(15000, 100));
}

TEST(FileReadStream, ReadLineEndsAtCrLfOrEither)
{
    std::string many;
    std::vector<std::string> lines;
    for (int i = 0; i < 600; ++i) {  // lines of every length across every window position
        lines.push_back(std::string(i % 97, char('a' + i % 26)));
        many += lines.back() + (i % 3 == 0 ? "\r\n" : i % 3 == 1 ? "\n" : "\r");
    }
    const struct {
        std::string text;
        std::vector<std::string> lines;
    } cases[] = {
        {"one\ntwo\r\nthree\rfour", {"one", "two", "three", "four"}},
        {"a\r\rb\n\n", {"a", "", "b", ""}},
        {std::string(1023, 'x') + "\r\nnext\r\n", {std::string(1023, 'x'), "next"}},  // CR LF across the window's end
        {std::string(1000, 'z') + "\nend", {std::string(1000, 'z'), "end"}},
        {many, lines},
        {"", {}},
    };
    test::CTempDir dir;
    for (const auto& c : cases) {
        test::WriteFile(dir / "f", c.text);
        for (uint64_t capacity : {uint64_t(2048), CFileReadStream::kWholeFile}) {
            CFileReadStream in(capacity);
            ASSERT_TRUE(in.Open(dir / "f"));
            std::vector<std::string> got;
            while (char* line = in.ReadLine())
                got.emplace_back(line);
            EXPECT_EQ(got, c.lines);
        }
    }
    // A line longer than the window comes in pieces; nothing is lost.
    test::WriteFile(dir / "f", std::string(5000, 'z') + "\nend");
    CFileReadStream in(1024);
    ASSERT_TRUE(in.Open(dir / "f"));
    std::string joined;
    while (char* line = in.ReadLine())
        joined += line;
    EXPECT_EQ(joined, std::string(5000, 'z') + "end");
}

TEST(FileStreams, OpenFailuresSayWhy)
{
    test::CTempDir dir;
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    CFileReadStream in(65536);
    for (auto [path, reason] : {std::pair{dir / "missing", "No such file or directory"}, {dir.Path(), "Is a directory"},
                                {dir / "fifo", "not a regular file"},  // refused at once, with no writer
                                {std::string("/dev/null"), "not a regular file"}}) {
        EXPECT_FALSE(in.Open(path)) << path;
        EXPECT_STREQ(in.OpenError(), reason) << path;
    }
    CFileWriteStream out(65536);
    for (auto [path, reason] : {std::pair{dir / "no/such/dir/file", "No such file or directory"},
                                {dir.Path(), "Is a directory"}, {std::string("/proc/cannot-create"), nullptr}}) {
        EXPECT_FALSE(out.Open(path)) << path;
        if (reason != nullptr) {
            EXPECT_STREQ(out.OpenError(), reason) << path;
        }
    }
}

TEST(FileWriteStream, WritesSeeksAppendsAndCopies)
{
    test::CTempDir dir;
    const std::string data = Pattern(300000);
    CFileWriteStream out(65536);
    ASSERT_TRUE(out.Open(dir / "w"));
    // Pieces that land on, just before and across the buffer's edges, and
    // one larger than the buffer.
    uint64_t pos = 0;
    for (uint64_t n : {65535, 1, 65536, 10, 65527, 100000}) {
        out.Write(data.data() + pos, n);
        EXPECT_EQ(out.Position(), pos += n);
    }
    out.Write(data.data() + pos, data.size() - pos);
    EXPECT_EQ(out.Size(), data.size());
    EXPECT_TRUE(out.Close());
    EXPECT_FALSE(out.Close());  // nothing open any more
    EXPECT_EQ(test::ReadFile(dir / "w"), data);

    // Seeking back rewrites in place; append continues; a copy in two ways.
    ASSERT_TRUE(out.Open(dir / "s"));
    out.Write("hello world", 11);
    out.Seek(6);
    out.Write("WORLD", 5);
    out.Seek(0);
    out.Write("H", 1);
    EXPECT_TRUE(out.Close());
    ASSERT_TRUE(out.Open(dir / "s", true));
    EXPECT_EQ(out.Position(), 11u);
    CFileReadStream in(4096);
    ASSERT_TRUE(in.Open(dir / "w"));
    in.Seek(5);
    out.CopyFrom(in, 100000);
    in.CopyTo(out, data.size() - 100005);
    EXPECT_TRUE(out.Close());
    EXPECT_TRUE(test::ReadFile(dir / "s") == "Hello WORLD" + data.substr(5));
    ASSERT_TRUE(out.Open(dir / "empty"));
    EXPECT_TRUE(out.Close());
    EXPECT_EQ(test::ReadFile(dir / "empty"), "");
}

TEST(FileWriteStream, FailuresThrowWhereTheyHappen)
{
    // A full disk: buffered bytes fail at Close, larger writes at once; the
    // exception says what the system said, and where.
    CFileWriteStream full(65536);
    ASSERT_TRUE(full.Open("/dev/full"));
    full.Write("abc", 3);
    try {
        full.Close();
        ADD_FAILURE() << "no exception";
    } catch (const TStreamException& e) {
        EXPECT_EQ(e.code, TStreamException::kWrite);
        EXPECT_EQ(e.error, ENOSPC);
        EXPECT_EQ(e.file, "/dev/full");
    }
    EXPECT_FALSE(full.IsOpen());
    ASSERT_TRUE(full.Open("/dev/full"));
    const std::string big = Pattern(200000);
    EXPECT_EQ(CodeOf([&] { full.Write(big.data(), big.size()); }), TStreamException::kWrite);
    CFileWriteStream abandoned(65536);  // its destructor must not throw
    ASSERT_TRUE(abandoned.Open("/dev/full"));
    abandoned.Write("x", 1);
}

TEST(FileSystem, DirectoriesListingsAndPathParts)
{
    test::CTempDir dir;
    MakeDirectoryPath(dir / "a/b\\c/d/");
    MakeDirectoryPath(dir / "a/b\\c/d/");  // existing directories are no failure
    MakeDirectoryPath(dir / "x/y");        // only components followed by a separator
    for (const char* name : {"b.poly", "B.POLY", "a.poly", "_z", "\xc3\xa4.poly"})
        test::WriteFile(dir / name, "");
    CDirectoryWalker walker;
    ASSERT_TRUE(walker.Start(dir.Path().substr(0, dir.Path().size() - 1)));
    EXPECT_EQ(walker.EntryDirectory(), dir.Path());
    std::string names, name;
    bool isDirectory;
    while (walker.Next(name, isDirectory))
        names += name + (isDirectory ? "/ " : " ");
    EXPECT_EQ(names, "B.POLY _z a/ a.poly b.poly x/ \xc3\xa4.poly ");
    EXPECT_TRUE(test::FileExists(dir / "a/b\\c/d"));
    EXPECT_FALSE(walker.Start(dir / "a.poly"));
    EXPECT_FALSE(walker.Next(name, isDirectory));
    EXPECT_FALSE(walker.Start(dir / "missing"));

    const std::pair<std::string_view, std::string_view> parts[] = {
        {FileNamePart("dir/sub\\areas.list"), "areas.list"}, {FileNamePart("areas.list"), "areas.list"},
        {FileNamePart("dir/"), ""},                          {DirectoryPart("dir/sub/file"), "dir/sub/"},
        {DirectoryPart("dir/sub/"), "dir/"},                 {DirectoryPart("file"), ""},
        {ExtensionPart("my.CONF"), ".CONF"},                 {ExtensionPart("dir.d/file"), ""},
        {ExtensionPart("a.b.cfg"), ".cfg"}};
    for (const auto& [got, want] : parts)
        EXPECT_EQ(got, want);
}

}  // namespace
