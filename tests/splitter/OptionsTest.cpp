#include "splitter/Options.h"

#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"

using namespace Splitter;

namespace {

// The settings args parse into, or what the parser printed (time stamps
// stripped) when it refused them.
std::string Parse(const std::vector<std::string>& args)
{
    std::vector<const char*> argv;
    for (const std::string& a : args)
        argv.push_back(a.c_str());
    CSettings s;
    bool ok = false;
    std::string out = test::CaptureStdout([&] { ok = ParseCommandLine(s, argv.data(), int(argv.size())); });
    out = std::regex_replace(out, std::regex("(^|\n)\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d: "), "$1");
    if (!ok)
        return out;
    EXPECT_EQ(out, "");
    char text[512];
    const std::string range = s.describeOnly ? "none" : std::to_string(s.firstArea) + "-" + std::to_string(s.lastArea);
    std::snprintf(text, sizeof text, "%s mn%u ma%u r%u al%u v%d pbf%d pn%d mc%d wsc%d po%d ar%s %s o=%s d=%s p=%s",
                  s.inputFile.c_str(), s.maxNodes, s.maxAreas, s.reserveNodes, s.adminLevel, s.verbose, s.pbf,
                  s.polyName, s.multiContour, s.writeSeparateContours, s.processOuter, range.c_str(),
                  s.areaRangeName.c_str(), s.outputDir.c_str(), s.description.c_str(), s.poly.c_str());
    return text;
}

TEST(Options, ArgumentsAndWhatTheyGive)
{
    test::CTempDir dir;
    test::WriteFile(dir / "my.CONF", "\xEF\xBB\xBF# comment\r\n; comment too\n\n   \n"
                                     "max-nodes = 1000\r\n  v=1\npbf =\n description =  two words  \r\no = outdir\n");
    test::WriteFile(dir / "plain.txt", "mn=77\ncfg=other\n");
    test::WriteFile(dir / "b1.cfg", "pbf\n");
    test::WriteFile(dir / "b2.cfg", "v=1\n  # not a comment\n");
    test::WriteFile(dir / "b3.cfg", "\xEF\xBB\xBF\n; c\n=1\n");
    auto config = [&](const std::string& name, const std::string& reason) {
        return "Config file \"" + name + "\": " + reason + ".\nError loading config file.\n";
    };
    const struct {
        std::vector<std::string> args;
        std::string result;
    } cases[] = {
        {{"x.pbf"}, "x.pbf mn1600000 ma256 r0 al0 v0 pbf0 pn1 mc0 wsc0 po0 ar0-4294967295  o= d= p="},
        // Names ignore case and the number of dashes; the first occurrence wins.
        {{"x.pbf", "--MaX-NoDeS=1000", "-V", "-ma=7", "--pbf", "-o=out", "--of=FileName", "--mn=5", "--mc=1", "-wsc",
          "--po=1", "--al=-1", "-p=a.poly"},
         "x.pbf mn1000 ma7 r0 al4294967295 v1 pbf1 pn0 mc1 wsc1 po1 ar0-4294967295  o=out/ d= p=a.poly"},
        // The poly option by the name the usage text gives, and the shorter one.
        {{"x.pbf", "-o=out\\", "--description=a=b", "--mn=", "-s=", "--r= +12", "--AR=3-4294967295", "--poly-file=b"},
         "x.pbf mn0 ma256 r12 al0 v0 pbf0 pn1 mc0 wsc0 po0 ar3-4294967295 AR o=out\\ d=a=b p=b"},
        {{"x.pbf", "--area-range=0-0", "--POLY=c"},
         "x.pbf mn1600000 ma256 r0 al0 v0 pbf0 pn1 mc0 wsc0 po0 ar0-0 area-range o= d= p=c"},
        {{"x.pbf", "-ar=None"}, "x.pbf mn1600000 ma256 r0 al0 v0 pbf0 pn1 mc0 wsc0 po0 arnone ar o= d= p="},
        // The command line wins over the file; an empty value there is none.
        {{dir / "my.CONF", "in.pbf", "--max-nodes=2000"},
         "in.pbf mn2000 ma256 r0 al0 v1 pbf0 pn1 mc0 wsc0 po0 ar0-4294967295  o=outdir/ d=two words p="},
        // --cfg= names a file of any extension; cfg inside it is an unknown name.
        {{"--CFG=" + (dir / "plain.txt"), "in.pbf"}, "Wrong param \"cfg\".\n"},
        {{"x.pbf", "--of=poly"}, "Bad \"out-filenames\" value.\n"},
        {{"--pbf"}, "Bad \"input file\" value.\n"},
        // Only the first bad value is reported, never the unused arguments.
        {{"x.pbf", "--mn=z", "--ma=0"}, "Bad \"ma\" value.\n"},
        {{"a.pbf", "--foo", "--verbose=2"}, "Bad \"verbose\" value.\n"},
        {{"a.pbf", "b.pbf", "--polyfile=x", "---v", "--zz", "c"},
         "Wrong param \"polyfile\".\nWrong param \"-v\".\nWrong param \"zz\".\n"
         "Wrong key \"b.pbf\".\nWrong key \"c\".\n"},
        // A comment sign after blanks is no comment; every failure names the file.
        {{dir / "b1.cfg", "in.pbf"}, config(dir / "b1.cfg", "line 1 has no \"=\"")},
        {{dir / "b2.cfg", "in.pbf"}, config(dir / "b2.cfg", "line 2 has no \"=\"")},
        {{dir / "b3.cfg", "in.pbf"}, config(dir / "b3.cfg", "line 3 has no name")},
        {{"--cfg=" + (dir / "missing.cfg"), "in.pbf"}, config(dir / "missing.cfg", "No such file or directory")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Parse(c.args), c.result) << ::testing::PrintToString(c.args);
    // Refused under the name given.
    for (std::string bad : {"ma=0", "ma=5x", "MAX-NODES=4294967296", "al= ", "v=-1", "wsc=1 ", "ar=", "ar=5",
                            "ar=2-1", "ar=-3", "ar=3-", "ar=1--2", "ar=+1-2", "ar= 1-2", "ar=1-2 ", "ar=0x1-2",
                            "ar=1-4294967296"})
        EXPECT_EQ(Parse({"x.pbf", "--" + bad}), "Bad \"" + bad.substr(0, bad.find('=')) + "\" value.\n") << bad;
}

}  // namespace
