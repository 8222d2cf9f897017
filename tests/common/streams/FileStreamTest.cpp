#include "common/streams/FileStream.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"

namespace {

std::string Pattern(size_t n)
{
    std::string s(n, 0);
    for (size_t i = 0; i < n; ++i)
        s[i] = char((i * 131 + i / 7) & 0xFF);
    return s;
}

uint32_t CodeOf(const std::function<void()>& body)
{
    try {
        body();
    } catch (const TStreamException& e) {
        return e.code;
    }
    return 0xFFFFFFFF;
}

TEST(FileReadStream, GetAndReadAcrossWindowBoundaries)
{
    test::CTempDir dir;
    const std::string data = Pattern(10000);
    test::WriteFile(dir / "f", data);

    CFileReadStream in(1024);
    ASSERT_TRUE(in.Open(dir / "f"));
    EXPECT_EQ(in.Size(), data.size());
    EXPECT_EQ(in.MaxBlock(), 512u);

    // Odd-sized gets walk the window over every boundary.
    uint64_t pos = 0;
    for (uint64_t n = 1; pos + n <= data.size(); n = n % 509 + 37) {
        const uint8_t* p = in.Get(n);
        ASSERT_EQ(std::memcmp(p, data.data() + pos, n), 0) << "at " << pos;
        pos += n;
        ASSERT_EQ(in.Position(), pos);
        ASSERT_EQ(in.Remaining(), data.size() - pos);
    }
    EXPECT_EQ(CodeOf([&] { in.Get(in.Remaining() + 1); }), TStreamException::kPosition);

    // Read serves any length, larger than the window too.
    in.Seek(3);
    std::string out(5000, 0);
    in.Read(out.data(), out.size());
    EXPECT_EQ(out, data.substr(3, 5000));
    EXPECT_EQ(in.Position(), 5003u);
}

TEST(FileReadStream, SeeksInsideBeforeAndBeyondTheWindow)
{
    test::CTempDir dir;
    const std::string data = Pattern(20000);
    test::WriteFile(dir / "f", data);
    CFileReadStream in(2048);
    ASSERT_TRUE(in.Open(dir / "f"));

    std::mt19937 random(7);
    for (int i = 0; i < 2000; ++i) {
        uint64_t p = random() % data.size();
        uint64_t n = 1 + random() % std::min<uint64_t>(in.MaxBlock(), data.size() - p);
        in.Seek(p);
        const uint8_t* got = in.Get(n);
        ASSERT_EQ(std::memcmp(got, data.data() + p, n), 0) << "seek " << p << " get " << n;
        if (i % 3 == 0 && p > 700) {  // shortly before the window
            in.Seek(p - 700);
            ASSERT_EQ(*in.Get(1), uint8_t(data[p - 700]));
        }
    }
    in.Seek(data.size());  // the end itself is a valid position
    EXPECT_EQ(in.Remaining(), 0u);
    EXPECT_EQ(CodeOf([&] { in.Seek(data.size() + 1); }), TStreamException::kPosition);
    EXPECT_EQ(CodeOf([&] {
                  in.Seek(0);
                  in.Get(in.MaxBlock() + 600);
              }),
              TStreamException::kBuffer);
}

TEST(FileReadStream, WholeFileAndUnbufferedModes)
{
    test::CTempDir dir;
    const std::string data = Pattern(70000);
    test::WriteFile(dir / "f", data);

    CFileReadStream whole(CFileReadStream::kWholeFile);
    ASSERT_TRUE(whole.Open(dir / "f"));
    EXPECT_EQ(whole.MaxBlock(), data.size());
    whole.Seek(1);
    EXPECT_EQ(std::memcmp(whole.Get(69999), data.data() + 1, 69999), 0);

    CFileReadStream raw(CFileReadStream::kUnbuffered);
    ASSERT_TRUE(raw.Open(dir / "f"));
    EXPECT_EQ(raw.MaxBlock(), 0u);
    EXPECT_EQ(CodeOf([&] { raw.Get(1); }), TStreamException::kBuffer);
    EXPECT_EQ(CodeOf([&] { raw.ReadLine(); }), TStreamException::kBuffer);
    raw.Seek(65000);
    char buf[100];
    raw.Read(buf, 100);
    EXPECT_EQ(std::string(buf, 100), data.substr(65000, 100));
}

TEST(FileReadStream, OpenFailsCleanly)
{
    test::CTempDir dir;
    CFileReadStream in(65536);
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    const struct {
        std::string path;
        const char* reason;
    } cases[] = {
        {dir / "missing", "No such file or directory"},
        {dir.Path(), "Is a directory"},  // a directory is no input file
        {dir / "fifo", "not a regular file"},  // refused at once, with no writer
        {"/dev/null", "not a regular file"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(in.Open(c.path)) << c.path;
        EXPECT_STREQ(in.OpenError(), c.reason) << c.path;
    }
    test::WriteFile(dir / "empty", "");
    ASSERT_TRUE(in.Open(dir / "empty"));
    EXPECT_EQ(in.Remaining(), 0u);
    EXPECT_EQ(in.ReadLine(), nullptr);
}

std::vector<std::string> Lines(const std::string& path, uint64_t capacity)
{
    CFileReadStream in(capacity);
    EXPECT_TRUE(in.Open(path));
    std::vector<std::string> lines;
    while (char* line = in.ReadLine())
        lines.emplace_back(line);
    return lines;
}

TEST(FileReadStream, ReadLineEnds)
{
    test::CTempDir dir;
    test::WriteFile(dir / "a", "one\ntwo\r\nthree\rfour");
    EXPECT_EQ(Lines(dir / "a", 1024), (std::vector<std::string>{"one", "two", "three", "four"}));
    EXPECT_EQ(Lines(dir / "a", CFileReadStream::kWholeFile),
              (std::vector<std::string>{"one", "two", "three", "four"}));

    test::WriteFile(dir / "b", "a\r\rb\n\n");
    EXPECT_EQ(Lines(dir / "b", 1024), (std::vector<std::string>{"a", "", "b", ""}));

    // A CR LF split across the window's end is one line end.
    std::string text(1023, 'x');
    text += "\r\nnext\r\n";
    test::WriteFile(dir / "c", text);
    EXPECT_EQ(Lines(dir / "c", 1024), (std::vector<std::string>{std::string(1023, 'x'), "next"}));

    // Many lines of every length cross every window position.
    std::string many;
    std::vector<std::string> expected;
    for (int i = 0; i < 600; ++i) {
        expected.push_back(std::string(i % 97, char('a' + i % 26)));
        many += expected.back() + (i % 3 == 0 ? "\r\n" : i % 3 == 1 ? "\n" : "\r");
    }
    test::WriteFile(dir / "d", many);
    EXPECT_EQ(Lines(dir / "d", 1024), expected);

    // A line longer than the window comes in pieces; nothing is lost.
    test::WriteFile(dir / "e", std::string(5000, 'z') + "\nend");
    std::string joined;
    auto pieces = Lines(dir / "e", 1024);
    ASSERT_GE(pieces.size(), 3u);
    EXPECT_EQ(pieces.back(), "end");
    for (size_t i = 0; i + 1 < pieces.size(); ++i)
        joined += pieces[i];
    EXPECT_EQ(joined, std::string(5000, 'z'));
}

TEST(FileWriteStream, FlushesAtBufferBoundaries)
{
    test::CTempDir dir;
    const std::string data = Pattern(300000);
    CFileWriteStream out(65536);
    ASSERT_TRUE(out.Open(dir / "w"));
    // Pieces that land exactly on, just before and across the 64 KiB edges,
    // and one that is larger than the buffer.
    const uint64_t pieces[] = {65535, 1, 65536, 10, 65526 + 1, 100000};
    uint64_t pos = 0;
    for (uint64_t n : pieces) {
        out.Write(data.data() + pos, n);
        pos += n;
        EXPECT_EQ(out.Position(), pos);
    }
    out.Write(data.data() + pos, data.size() - pos);
    EXPECT_EQ(out.Size(), data.size());
    EXPECT_TRUE(out.Close());
    EXPECT_FALSE(out.Close());  // nothing open any more
    EXPECT_EQ(test::ReadFile(dir / "w"), data);

    // Seeking back inside the buffer rewrites in place; append continues.
    ASSERT_TRUE(out.Open(dir / "s"));
    out.Write("hello world", 11);
    out.Seek(6);
    out.Write("WORLD", 5);
    out.Seek(0);
    out.Write("H", 1);
    EXPECT_TRUE(out.Close());
    ASSERT_TRUE(out.Open(dir / "s", true));
    EXPECT_EQ(out.Position(), 11u);
    out.Write("!", 1);
    EXPECT_TRUE(out.Close());
    EXPECT_EQ(test::ReadFile(dir / "s"), "Hello WORLD!");

    // A stream that never received a byte closes without flushing.
    ASSERT_TRUE(out.Open(dir / "empty"));
    EXPECT_TRUE(out.Close());
    EXPECT_EQ(test::ReadFile(dir / "empty"), "");
}

TEST(FileWriteStream, CopiesBetweenStreams)
{
    test::CTempDir dir;
    const std::string data = Pattern(200000);
    test::WriteFile(dir / "src", data);
    CFileReadStream in(4096);
    ASSERT_TRUE(in.Open(dir / "src"));
    CFileWriteStream out(65536);
    ASSERT_TRUE(out.Open(dir / "dst"));
    in.Seek(5);
    out.CopyFrom(in, 100000);
    in.CopyTo(out, data.size() - 100005);
    EXPECT_TRUE(out.Close());
    EXPECT_EQ(test::ReadFile(dir / "dst"), data.substr(5));
}

TEST(FileWriteStream, FailuresThrowWhereTheyHappen)
{
    // A full disk: the buffered bytes fail at Close, larger writes at once.
    CFileWriteStream full(65536);
    ASSERT_TRUE(full.Open("/dev/full"));
    full.Write("abc", 3);
    try {
        full.Close();
        ADD_FAILURE() << "no exception";
    } catch (const TStreamException& e) {
        EXPECT_EQ(e.code, TStreamException::kWrite);
        EXPECT_EQ(e.error, ENOSPC);  // what the system said, and where
        EXPECT_EQ(e.file, "/dev/full");
    }
    EXPECT_FALSE(full.IsOpen());

    ASSERT_TRUE(full.Open("/dev/full"));
    const std::string big = Pattern(200000);
    EXPECT_EQ(CodeOf([&] { full.Write(big.data(), big.size()); }), TStreamException::kWrite);

    // A destructor on an error path must not throw.
    {
        CFileWriteStream abandoned(65536);
        ASSERT_TRUE(abandoned.Open("/dev/full"));
        abandoned.Write("x", 1);
    }

    // Files that cannot be created: a missing directory, a directory where
    // nothing may be created even by root.
    test::CTempDir dir;
    CFileWriteStream out(65536);
    EXPECT_FALSE(out.Open(dir / "no/such/dir/file"));
    EXPECT_STREQ(out.OpenError(), "No such file or directory");
    EXPECT_FALSE(out.Open("/proc/splitter-cannot-create"));
    EXPECT_FALSE(out.Open(dir.Path()));
    EXPECT_STREQ(out.OpenError(), "Is a directory");
}

}  // namespace
