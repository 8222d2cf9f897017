#include "splitter/OutputFiles.h"

#include <string>

#include <gtest/gtest.h>

namespace {

// Names from polygon titles are hostile input: no way out of the directory,
// no control characters, never empty.
TEST(OutputFiles, SafeFileNamesStayInTheirDirectory)
{
    for (const auto& [name, safe] : {std::pair{"..", "__"}, {".hidden", "_hidden"}, {"a/b\\c", "a_b_c"},
                                     {"tab\there\x7f", "tab_here_"}, {"", "_"}, {"K\xc3\xb6ln.x", "K\xc3\xb6ln.x"}})
        EXPECT_EQ(SafeFileName(name), safe) << name;
}

}  // namespace
