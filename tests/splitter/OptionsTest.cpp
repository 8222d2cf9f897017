#include "splitter/Options.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"

namespace {

struct TParse {
    bool ok;
    std::string output;
};

// Parses args into settings and returns the result with what was printed,
// time stamps stripped so the text can be compared.
TParse Parse(CSettings& settings, std::vector<std::string> args)
{
    std::vector<const char*> argv;
    for (const std::string& a : args)
        argv.push_back(a.c_str());
    bool ok = false;
    std::string out = test::CaptureStdout([&] { ok = ParseCommandLine(settings, argv.data(), int(argv.size())); });
    std::string plain;
    size_t start = 0;
    while (start < out.size()) {
        size_t end = out.find('\n', start);
        std::string line = out.substr(start, end - start);
        // "hh:mm:ss.mmm: " is 14 characters
        if (line.size() >= 14 && line[2] == ':' && line[5] == ':' && line[8] == '.' && line[12] == ':')
            line = line.substr(14);
        plain += line + "\n";
        start = end == std::string::npos ? out.size() : end + 1;
    }
    return {ok, plain};
}

TParse Parse(std::vector<std::string> args)
{
    CSettings settings;
    return Parse(settings, std::move(args));
}

TEST(Options, UsageTextColumns)
{
    // Rebuilt from the option table with padded columns: every byte must match.
    const char* const rows[][3] = {
        {"--admin-level|-al", "Write boundary relations", "[0]"},
        {"--description|-d", "Description", "[]"},
        {"--max-areas|-ma", "Max areas per pass", "[256]"},
        {"--max-nodes|-mn", "Max nodes per area", "[1600000]"},
        {"--multi-contour|-mc", "Enable multi contour", "[OFF]"},
        {"--output-dir|-o", "Output dir", "[Current]"},
        {"--out-filenames|-of", "filename or polyname", "[polyname]"},
        {"--pbf", "Write PBF", "[XML]"},
        {"--poly-file|-p", "Poly-file/dir", "[]"},
        {"--process-outer|-po", "Process outer nodes (with -p)", "[OFF]"},
        {"--reserve-nodes|-r", "Reserve memory for nodes", "[0]"},
        {"--split-file|-s", "areas.list", "[]"},
        {"--verbose|-v", "Verbose", "[OFF]"},
        {"--write-kml|-k", "Write areas KML file", "[]"},
        {"--write-separate-contours|-wsc", "Write area contours in separate files", "[OFF]"},
    };
    std::string expected = "Usage: splitter [options] file.pbf\n\nAvailable options [defaults]:\n";
    for (const auto& row : rows) {
        char line[128];
        std::snprintf(line, sizeof line, "%-30s\t%-37s\t%s\n", row[0], row[1], row[2]);
        expected += line;
    }
    EXPECT_EQ(std::string(kUsageText), expected);
}

TEST(Options, NamesIgnoreCaseAndDashes)
{
    CSettings s;
    TParse r = Parse(s, {"x.pbf", "--MaX-NoDeS=1000", "-V", "-ma=7", "--pbf", "-o=out", "--of=FileName"});
    EXPECT_TRUE(r.ok) << r.output;
    EXPECT_EQ(r.output, "");
    EXPECT_EQ(s.inputFile, "x.pbf");
    EXPECT_EQ(s.maxNodes, 1000u);
    EXPECT_EQ(s.maxAreas, 7u);
    EXPECT_TRUE(s.verbose);
    EXPECT_TRUE(s.pbf);
    EXPECT_FALSE(s.polyName);
    EXPECT_EQ(s.outputDir, "out/");

    CSettings t;
    EXPECT_TRUE(Parse(t, {"x.pbf", "-o=out\\", "--description=a=b", "--mn=", "-s=", "--r= +12"}).ok);
    EXPECT_EQ(t.outputDir, "out\\");
    EXPECT_EQ(t.description, "a=b");
    EXPECT_EQ(t.maxNodes, 0u);
    EXPECT_EQ(t.reserveNodes, 12u);
    EXPECT_EQ(t.maxAreas, 256u);
    EXPECT_TRUE(t.polyName);

    CSettings u;
    EXPECT_TRUE(Parse(u, {"x.pbf", "--admin-level=-1", "--max-nodes=5", "--max-nodes=6"}).ok);
    EXPECT_EQ(u.adminLevel, 4294967295u);  // a minus negates modulo 2^32
    EXPECT_EQ(u.maxNodes, 5u);             // the first occurrence wins
}

TEST(Options, BadValuesStopAtTheFirst)
{
    EXPECT_EQ(Parse({"x.pbf", "--ma=0"}).output, "Bad \"ma\" value.\n");
    EXPECT_EQ(Parse({"x.pbf", "--ma=5x"}).output, "Bad \"ma\" value.\n");
    EXPECT_EQ(Parse({"x.pbf", "--MAX-NODES=4294967296"}).output, "Bad \"MAX-NODES\" value.\n");
    EXPECT_EQ(Parse({"x.pbf", "--r=abc"}).output, "Bad \"r\" value.\n");
    EXPECT_EQ(Parse({"x.pbf", "--al= "}).output, "Bad \"al\" value.\n");
    EXPECT_EQ(Parse({"x.pbf", "--of=poly"}).output, "Bad \"out-filenames\" value.\n");
    EXPECT_EQ(Parse({"x.pbf", "-v=-1"}).output, "Bad \"v\" value.\n");
    EXPECT_EQ(Parse({"x.pbf", "--pbf=2"}).output, "Bad \"pbf\" value.\n");
    EXPECT_EQ(Parse({"x.pbf", "--wsc=1 "}).output, "Bad \"wsc\" value.\n");
    EXPECT_EQ(Parse({"--pbf"}).output, "Bad \"input file\" value.\n");
    // max-areas is read before max-nodes: only the first bad value is reported.
    EXPECT_EQ(Parse({"x.pbf", "--mn=z", "--ma=0"}).output, "Bad \"ma\" value.\n");
    // A bad value comes before the unused-argument report, which never runs.
    TParse r = Parse({"a.pbf", "--foo", "--verbose=2"});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.output, "Bad \"verbose\" value.\n");
}

TEST(Options, AreaRange)
{
    CSettings s;
    EXPECT_TRUE(Parse(s, {"x.pbf", "--AR=3-4294967295"}).ok);
    EXPECT_EQ(s.firstArea, 3u);
    EXPECT_EQ(s.lastArea, 4294967295u);
    EXPECT_EQ(s.areaRangeName, "AR");
    CSettings t;
    EXPECT_TRUE(Parse(t, {"x.pbf", "--area-range=0-0"}).ok);
    EXPECT_EQ(t.lastArea, 0u);
    for (const char* bad : {"", "5", "2-1", "-3", "3-", "1--2", "+1-2", " 1-2", "1-2 ", "0x1-2", "1-4294967296"})
        EXPECT_EQ(Parse({"x.pbf", std::string("--ar=") + bad}).output, "Bad \"ar\" value.\n") << bad;
}

TEST(Options, UnusedArgumentsAreReported)
{
    TParse r = Parse({"a.pbf", "b.pbf", "--poly-file=x", "---v", "--zz", "c"});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.output, "Wrong param \"poly-file\".\nWrong param \"-v\".\nWrong param \"zz\".\n"
                        "Wrong key \"b.pbf\".\nWrong key \"c\".\n");
}

TEST(Options, ConfigFile)
{
    test::CTempDir dir;
    test::WriteFile(dir / "my.CONF",
                    "\xEF\xBB\xBF# comment\r\n; comment too\n\n   \n"
                    "max-nodes = 1000\r\n  v=1\npbf =\n description =  two words  \r\n"
                    "o = outdir\n");
    CSettings s;
    TParse r = Parse(s, {dir / "my.CONF", "in.pbf", "--max-nodes=2000"});
    EXPECT_TRUE(r.ok) << r.output;
    EXPECT_EQ(s.maxNodes, 2000u);  // the command line wins
    EXPECT_TRUE(s.verbose);
    EXPECT_FALSE(s.pbf);  // an empty value in the file is no value
    EXPECT_EQ(s.description, "two words");
    EXPECT_EQ(s.outputDir, "outdir/");

    // --cfg= names a file of any extension; config and cfg inside a file are
    // unknown names.
    test::WriteFile(dir / "plain.txt", "mn=77\ncfg=other\n");
    CSettings t;
    r = Parse(t, {"--CFG=" + (dir / "plain.txt"), "in.pbf"});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(t.maxNodes, 77u);
    EXPECT_EQ(r.output, "Wrong param \"cfg\".\n");

    // A comment sign after blanks is not a comment; a word without "=" and a
    // line starting with "=" make the whole file bad. Every failure says which
    // file and why, an empty --cfg= too.
    const std::string bad = dir / "bad.cfg";
    const struct {
        const char* text;
        const char* reason;
    } cases[] = {
        {"pbf\n", "line 1 has no \"=\""},
        {"v=1\n  # not a comment\n", "line 2 has no \"=\""},
        {"\xEF\xBB\xBF\n; c\n=1\n", "line 3 has no name"},
        {"max-nodes 5\n", "line 1 has no \"=\""},
    };
    for (const auto& c : cases) {
        test::WriteFile(bad, c.text);
        r = Parse({bad, "in.pbf"});
        EXPECT_FALSE(r.ok) << c.text;
        EXPECT_EQ(r.output, "Config file \"" + bad + "\": " + c.reason + ".\nError loading config file.\n");
    }
    for (const std::string& path : {dir / "missing.cfg", std::string()}) {
        r = Parse({"--cfg=" + path, "in.pbf"});
        EXPECT_FALSE(r.ok) << path;
        EXPECT_EQ(r.output,
                  "Config file \"" + path + "\": No such file or directory.\nError loading config file.\n");
    }
    std::filesystem::create_directory(dir / "dir.cfg");
    r = Parse({dir / "dir.cfg", "in.pbf"});
    EXPECT_EQ(r.output, "Config file \"" + dir / "dir.cfg" + "\": Is a directory.\nError loading config file.\n");
}

}  // namespace
