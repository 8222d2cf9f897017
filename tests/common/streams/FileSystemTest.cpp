#include "common/streams/FileSystem.h"

#include <sys/stat.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"

namespace {

bool IsDirectory(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TEST(FileSystem, MakesNestedDirectories)
{
    test::CTempDir dir;
    MakeDirectoryPath(dir / "a/b\\c/d/");
    EXPECT_TRUE(IsDirectory(dir / "a/b\\c/d"));
    MakeDirectoryPath(dir / "a/b\\c/d/");  // existing directories are no failure
    // Only components followed by a separator are created.
    MakeDirectoryPath(dir / "x/y");
    EXPECT_TRUE(IsDirectory(dir / "x"));
    EXPECT_FALSE(test::FileExists(dir / "x/y"));
}

TEST(FileSystem, WalksOneDirectoryInByteOrder)
{
    test::CTempDir dir;
    for (const char* name : {"b.poly", "B.POLY", "a.poly", "_z", "\xc3\xa4.poly"})
        test::WriteFile(dir / name, "");
    MakeDirectoryPath(dir / "sub/");

    CDirectoryWalker walker;
    ASSERT_TRUE(walker.Start(dir.Path().substr(0, dir.Path().size() - 1)));
    EXPECT_EQ(walker.EntryDirectory(), dir.Path());
    std::vector<std::string> names;
    std::string name;
    bool isDirectory;
    while (walker.Next(name, isDirectory))
        names.push_back(name + (isDirectory ? "/" : ""));
    EXPECT_EQ(names, (std::vector<std::string>{"B.POLY", "_z", "a.poly", "b.poly", "sub/", "\xc3\xa4.poly"}));

    EXPECT_FALSE(walker.Start(dir / "a.poly"));
    EXPECT_FALSE(walker.Next(name, isDirectory));
    EXPECT_FALSE(walker.Start(dir / "missing"));
}

TEST(FileSystem, PathParts)
{
    EXPECT_EQ(FileNamePart("dir/sub\\areas.list"), "areas.list");
    EXPECT_EQ(FileNamePart("areas.list"), "areas.list");
    EXPECT_EQ(FileNamePart("dir/"), "");
    EXPECT_EQ(DirectoryPart("dir/sub/file"), "dir/sub/");
    EXPECT_EQ(DirectoryPart("dir/sub/"), "dir/");
    EXPECT_EQ(DirectoryPart("file"), "");
    EXPECT_EQ(ExtensionPart("my.CONF"), ".CONF");
    EXPECT_EQ(ExtensionPart("dir.d/file"), "");
    EXPECT_EQ(ExtensionPart("a.b.cfg"), ".cfg");
}

}  // namespace
