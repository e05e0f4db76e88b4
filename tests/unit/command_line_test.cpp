// Command lines split by the rules of the Windows C runtime.
#include "platforms/platform.h"

#include <gtest/gtest.h>

using Args = std::vector<std::string>;
using platform::splitArguments;
using platform::splitCommandLine;

TEST(CommandLine, BlanksAndTabsSeparate) {
    EXPECT_EQ(splitArguments("a b c"), (Args{"a", "b", "c"}));
    EXPECT_EQ(splitArguments(" \t a \t\t b  "), (Args{"a", "b"}));
    EXPECT_EQ(splitArguments(""), Args{});
    EXPECT_EQ(splitArguments(" \t "), Args{});
    EXPECT_EQ(splitArguments("a\nb"), Args{"a\nb"}); // only blanks and tabs separate
}

TEST(CommandLine, QuotesGroupAndAreRemoved) {
    EXPECT_EQ(splitArguments("\"a b\" c"), (Args{"a b", "c"}));
    EXPECT_EQ(splitArguments("\"abc\" d e"), (Args{"abc", "d", "e"}));
    EXPECT_EQ(splitArguments("a\\\\b d\"e f\"g h"), (Args{"a\\\\b", "de fg", "h"}));
    EXPECT_EQ(splitArguments("\"a\tb\""), Args{"a\tb"});
    EXPECT_EQ(splitArguments("\"a b"), Args{"a b"}); // unclosed: runs to the end
}

TEST(CommandLine, EmptyQuotedArgumentsAreKept) {
    EXPECT_EQ(splitArguments("\"\""), Args{""});
    EXPECT_EQ(splitArguments("a \"\" b"), (Args{"a", "", "b"}));
    EXPECT_EQ(splitArguments("a \"\""), (Args{"a", ""}));
    EXPECT_EQ(splitArguments("\""), Args{""});
}

TEST(CommandLine, DoubledQuoteInsideQuotesIsALiteralQuote) {
    EXPECT_EQ(splitArguments("a\"b\"\" c d"), Args{"ab\" c d"});
    EXPECT_EQ(splitArguments("\"a\"\"b\" c"), (Args{"a\"b", "c"}));
    EXPECT_EQ(splitArguments("\"\"\""), Args{"\""});
    EXPECT_EQ(splitArguments("\"\"\"\" x"), (Args{"\"", "x"}));
    // Outside quotes the first quote opens a group and the second one is inside it.
    EXPECT_EQ(splitArguments("a\"\"b c"), (Args{"ab", "c"}));
}

TEST(CommandLine, BackslashesBeforeAQuote) {
    EXPECT_EQ(splitArguments("a\\\"b"), Args{"a\"b"});                       // 1: literal quote
    EXPECT_EQ(splitArguments("a\\\\\\\"b c d"), (Args{"a\\\"b", "c", "d"})); // 3
    EXPECT_EQ(splitArguments("a\\\\\\\\\"b c\" d e"), (Args{"a\\\\b c", "d", "e"})); // 4
    EXPECT_EQ(splitArguments("a\\\\\"b c\""), Args{"a\\b c"}); // 2: one, and a group
    EXPECT_EQ(splitArguments("\\\"a b\\\""), (Args{"\"a", "b\""}));
}

TEST(CommandLine, OtherBackslashesArePlain) {
    EXPECT_EQ(splitArguments("a\\b"), Args{"a\\b"});
    EXPECT_EQ(splitArguments("a\\\\b"), Args{"a\\\\b"});
    EXPECT_EQ(splitArguments("a\\ b\\"), (Args{"a\\", "b\\"}));
    EXPECT_EQ(splitArguments("c:\\dir\\ x\\\\"), (Args{"c:\\dir\\", "x\\\\"}));
}

TEST(CommandLine, TrailingBackslashesInQuotes) {
    EXPECT_EQ(splitArguments("\"a\\\\\" b"), (Args{"a\\", "b"}));
    EXPECT_EQ(splitArguments("\"a\\\\\\\\\" b"), (Args{"a\\\\", "b"}));
    EXPECT_EQ(splitArguments("\"a\\\" b"), Args{"a\" b"}); // odd: the quote stays open
    EXPECT_EQ(splitArguments("\"a\\"), Args{"a\\"});
}

TEST(CommandLine, ProgramNameTakesBackslashesLiterally) {
    EXPECT_EQ(splitCommandLine("prog a\\\"b"), (Args{"prog", "a\"b"}));
    EXPECT_EQ(splitCommandLine("\"c:\\my dir\\\" x"), (Args{"c:\\my dir\\", "x"}));
    EXPECT_EQ(splitCommandLine("a\\\"b c\" d"), (Args{"a\\b c", "d"}));
    EXPECT_EQ(splitCommandLine("  sh -c \"exit 3\""), (Args{"sh", "-c", "exit 3"}));
    EXPECT_EQ(splitCommandLine("\"\" x"), (Args{"", "x"}));
    EXPECT_EQ(splitCommandLine(" \t"), Args{});
}

TEST(CommandLine, NonAsciiTextPassesIntact) {
    EXPECT_EQ(splitArguments("\"\xC3\xA4 \xE2\x82\xAC\" \xF0\x9F\x98\x80"),
              (Args{"\xC3\xA4 \xE2\x82\xAC", "\xF0\x9F\x98\x80"}));
}
