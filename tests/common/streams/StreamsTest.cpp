// File streams against plain strings.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <random>

#include <gtest/gtest.h>

#include "common/streams/FileStream.h"
#include "tests/support/TestSupport.h"

namespace {

// The stream exception body throws, or one with code ~0 when none.
TStreamException Caught(const std::function<void()>& body)
{
    try {
        body();
    } catch (const TStreamException& e) {
        return e;
    }
    return {~0u, 0};
}

std::string Pattern(size_t n, uint32_t seed = 7)
{
    std::mt19937 random(seed);
    std::string s(n, 0);
    std::generate(s.begin(), s.end(), [&random] { return char(random()); });
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
        EXPECT_EQ(Caught([&] { in.Get(1); }).code, TStreamException::kPosition);
        EXPECT_EQ(Caught([&] { in.Seek(data.size() + 1); }).code, TStreamException::kPosition);
        in.Seek(0);
        EXPECT_EQ(Caught([&] { in.Get(in.MaxBlock() + 600); }).code, capacity == CFileReadStream::kWholeFile
                                                                     ? TStreamException::kPosition
                                                                     : TStreamException::kBuffer);
    }
    CFileReadStream raw(CFileReadStream::kUnbuffered);
    ASSERT_TRUE(raw.Open(dir / "f"));
    EXPECT_EQ(Caught([&] { raw.Get(1); }).code, TStreamException::kBuffer);
    EXPECT_EQ(Caught([&] { raw.ReadLine(); }).code, TStreamException::kBuffer);
    raw.Seek(15000);
    std::string got(100, 0);
    raw.Read(got.data(), 100);
    EXPECT_EQ(got, data.substr(15000, 100));
}

// Lines end at CR LF, CR or LF, also where a CR LF straddles the edge of a full window.
TEST(FileReadStream, ReadLineEndsAtCrLfOrEither)
{
    test::CTempDir dir;
    const std::vector<std::string> expected = {std::string(1023, 'a'), std::string(500, 'b'), "",
                                               std::string(500, 'c'), "", "last"};
    test::WriteFile(dir / "f", expected[0] + "\r\n" + expected[1] + "\r\r" + expected[3] + "\n\nlast");
    CFileReadStream in(1024);
    ASSERT_TRUE(in.Open(dir / "f"));
    std::vector<std::string> lines;
    while (char* line = in.ReadLine())
        lines.emplace_back(line);
    EXPECT_EQ(lines, expected);
}

// Opening fails with the system's reason. On a full disk buffered bytes
// fail at Close, larger writes at once; the exception says what the system
// said, and where.
TEST(FileStreams, FailuresSayWhyAndWhere)
{
    test::CTempDir dir;
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    CFileReadStream in(65536);
    CFileWriteStream out(65536);
    const std::tuple<bool, std::string, const char*> opens[] = {
        {false, dir / "missing", "No such file or directory"},
        {false, dir.Path(), "Is a directory"},
        {false, dir / "fifo", "not a regular file"},  // refused at once, with no writer
        {true, dir / "no/such/dir/file", "No such file or directory"}};
    for (const auto& [write, path, reason] : opens) {
        EXPECT_FALSE(write ? out.Open(path) : in.Open(path)) << path;
        EXPECT_STREQ(write ? out.OpenError() : in.OpenError(), reason) << path;
    }
    ASSERT_TRUE(out.Open("/dev/full"));
    out.Write("abc", 3);
    const TStreamException full = Caught([&] { out.Close(); });
    EXPECT_TRUE(full.code == TStreamException::kWrite && full.error == ENOSPC && full.file == "/dev/full");
    EXPECT_FALSE(out.IsOpen());
    ASSERT_TRUE(out.Open("/dev/full"));
    const std::string big = Pattern(200000);
    EXPECT_EQ(Caught([&] { out.Write(big.data(), big.size()); }).code, TStreamException::kWrite);
    CFileWriteStream abandoned(65536);  // its destructor must not throw
    ASSERT_TRUE(abandoned.Open("/dev/full"));
    abandoned.Write("x", 1);
}

// Buffers of any size grow while a file takes more; what was written,
// sought and overwritten reaches the file as a plain string receives it,
// whether the files are synced together (empty, one write or many) or
// closed alone. Appending continues a file; copies come in two ways.
TEST(FileWriteStream, WritesWhatAStringReceives)
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
            const std::string bytes = Pattern(1 + random() % (step % 50 == 49 ? 70000 : 2500), uint32_t(step));
            stream.Write(bytes.data(), bytes.size());
            model.replace(position, bytes.size(), bytes);
            position += bytes.size();
            ASSERT_EQ(stream.Position(), position);
        }
        EXPECT_EQ(stream.Size(), model.size());
        if (f % 2 == 0 || f < 2 * n)
            synced.push_back(&stream);
        else
            EXPECT_TRUE(stream.Close());
    }
    CFileWriteStream::SyncAll(synced.data(), synced.size());
    for (CFileWriteStream* stream : synced)
        EXPECT_TRUE(stream->Close());
    EXPECT_FALSE(files[0]->Close());  // nothing open any more
    for (size_t f = 0; f < models.size(); ++f)
        EXPECT_TRUE(test::ReadFile(dir / std::to_string(f)) == models[f]) << f;

    CFileWriteStream out(1024);
    ASSERT_TRUE(out.Open(dir / "1", true));
    EXPECT_EQ(out.Position(), models[1].size());
    out.Write("+", 1);
    CFileReadStream in(4096);
    const std::string& source = models.back();
    ASSERT_TRUE(in.Open(dir / std::to_string(models.size() - 1)));
    in.Seek(5);
    out.CopyFrom(in, 100000);
    in.CopyTo(out, source.size() - 100005);
    EXPECT_TRUE(out.Close());
    EXPECT_TRUE(test::ReadFile(dir / "1") == models[1] + "+" + source.substr(5));
}

}  // namespace
