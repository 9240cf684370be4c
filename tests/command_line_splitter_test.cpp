// The command-line rule the program and the components share.
#include "CommandLineSplitter.h"

#include <gtest/gtest.h>

using namespace salvo;

namespace {

using Args = std::vector<std::string>;

TEST(CommandLineSplitter, QuotesGroupBlanksSeparate)
{
    EXPECT_EQ(splitCommandLine("-x \"a b\" c"), (Args{"-x", "a b", "c"}));
    EXPECT_EQ(splitCommandLine("  a \"b c\"  d\"e f\"g "), (Args{"a", "b c", "de fg"}));
    EXPECT_EQ(splitCommandLine("\"\""), (Args{""}));
    EXPECT_EQ(splitCommandLine("x \"\" y"), (Args{"x", "", "y"}));
    EXPECT_EQ(splitCommandLine(""), Args{});
    EXPECT_EQ(splitCommandLine("   "), Args{});
    // An unclosed quote runs to the end of the line.
    EXPECT_EQ(splitCommandLine("a \"b c"), (Args{"a", "b c"}));
    // A hostile name stays one argument.
    EXPECT_EQ(splitCommandLine("-i \"a.rk; rm -rf ~\""), (Args{"-i", "a.rk; rm -rf ~"}));

    // Tabs separate only where the caller says so.
    EXPECT_EQ(splitCommandLine("a\tb c"), (Args{"a\tb", "c"}));
    EXPECT_EQ(splitCommandLine("a\tb c", " \t"), (Args{"a", "b", "c"}));
    EXPECT_EQ(splitCommandLine("\"a\tb\"\tc", " \t"), (Args{"a\tb", "c"}));

    // UTF-16 text splits by the same rule.
    EXPECT_EQ(splitCommandLine(u"-d\"/出力 先\" 日本.yz2"), (std::vector<std::u16string>{u"-d/出力 先", u"日本.yz2"}));
}

} // namespace
