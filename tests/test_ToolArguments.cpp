// The tool's command-line parsing, without spawning the binary.
#include "Arguments.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using kelxml::Arguments;
using kelxml::UsageError;

namespace {

using Words = std::vector<std::string>;

Arguments Parse(const Words& args) { return Arguments(args, {"--all", "--remove"}, {"--attr", "-o"}); }

// The UsageError message a command line gives, or "" when it parses.
std::string Refusal(const Words& args) {
    try {
        Parse(args);
    } catch (const UsageError& e) {
        return e.message;
    }
    return "";
}

}  // namespace

TEST(ToolArguments, OptionsAndPositionalsInOrder) {
    const Arguments a = Parse({"f.xml", "--attr", "id", "--attr=year", "--all", "p", "--", "--remove", "-"});
    const std::vector<std::pair<std::string, std::string>> options = {
        {"--attr", "id"}, {"--attr", "year"}, {"--all", ""}};
    EXPECT_EQ(a.Options(), options);
    EXPECT_EQ(a.Positional(), (Words{"f.xml", "p", "--remove", "-"}));
    EXPECT_TRUE(a.Has("--all"));
    EXPECT_FALSE(a.Has("--remove"));  // after "--" it is a positional argument
    EXPECT_NO_THROW(a.ExpectPositional(4, "four"));
    EXPECT_THROW(a.ExpectPositional(2, "FILE PATH"), UsageError);
}

TEST(ToolArguments, WrongCommandLinesAreRefusedWithAReason) {
    const struct {
        Words args;
        const char* message;
    } cases[] = {
        {{"--bogus"}, "unknown option --bogus"},
        {{"--all=1"}, "option --all takes no value"},
        {{"f", "--attr"}, "option --attr needs a value"},
        {{"--attr="}, ""},  // an empty value parses; the command decides
    };
    for (const auto& c : cases) EXPECT_EQ(Refusal(c.args), c.message);
}

TEST(ToolArguments, PathsTakeSlashesOrBackslashesAndNoEmptyName) {
    EXPECT_EQ(kelxml::NormalisePath("a/b\\c"), "a\\b\\c");
    EXPECT_EQ(kelxml::SplitPath("a\\b\\c"), (Words{"a", "b", "c"}));
    EXPECT_EQ(kelxml::SplitPath("a"), (Words{"a"}));
    for (const char* bad : {"", "/a", "a/", "a//b", "\\"}) EXPECT_THROW(kelxml::NormalisePath(bad), UsageError) << bad;
}

TEST(ToolArguments, AssignmentsNeedAName) {
    EXPECT_EQ(kelxml::SplitAssignment("--attr", "id=7=8"), std::make_pair(std::string("id"), std::string("7=8")));
    EXPECT_EQ(kelxml::SplitAssignment("--attr", "id="), std::make_pair(std::string("id"), std::string()));
    EXPECT_THROW(kelxml::SplitAssignment("--attr", "=v"), UsageError);
    EXPECT_THROW(kelxml::SplitAssignment("--attr", "id"), UsageError);
}
