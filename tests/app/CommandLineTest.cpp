#include "app/CommandLine.h"

#include <gtest/gtest.h>

namespace quarry {
namespace {

struct Case {
    const char16_t* tail;
    bool runMode;
    bool silent;
    bool cont;
    bool debug;
    const char16_t* guid;
    const char16_t* request;
    const char16_t* extra;
};

const Case kCases[] = {
    {u"", false, false, false, false, u"", u"", u""},
    {u"-s -cont /p -x y", false, true, true, false, u"", u"", u"-x y"},
    {u"/S foo -debug", false, true, false, false, u"", u"", u"foo -debug"},
    {u"-s -s", false, true, false, false, u"", u"", u"-s"},
    {u"-x -run a b", false, false, false, false, u"", u"", u"-x -run a b"},
    {u"-RUN a b c d", true, false, false, false, u"a", u"b", u"c d"},
    {u"-s -run a b", false, true, false, false, u"", u"", u"-run a b"},
    {u"/run", true, false, false, false, u"", u"", u""},
    {u"-run {G}", true, false, false, false, u"{G}", u"", u""},
    {u"-run   {G}   req  rest  of  line", true, false, false, false, u"{G}", u"req",
     u" rest  of  line"},
    {u"-s -p", false, true, false, false, u"", u"", u""},
    {u"-cont -cont", false, false, true, false, u"", u"", u"-cont"},
    {u"-DEBUG /Cont -S", false, true, true, true, u"", u"", u""},
    // One trailing space is the consumed delimiter; the ones beyond it stay.
    {u"-s ", false, true, false, false, u"", u"", u""},
    {u"-s   ", false, true, false, false, u"", u"", u"  "},
    {u"   ", false, false, false, false, u"", u"", u"   "},
    // Spaces before an ordinary token, beyond the delimiter, stay with it.
    {u"-s   foo  bar", false, true, false, false, u"", u"", u"  foo  bar"},
    // Only U+0020 separates; a tab is trimmed off a token before comparing.
    {u"\t-s\t -cont", false, true, true, false, u"", u"", u""},
    {u"-s\t-cont", false, false, false, false, u"", u"", u"-s\t-cont"},
    // Quotes mean nothing to the parser.
    {u"\"-s\" x", false, false, false, false, u"", u"", u"\"-s\" x"},
    {u"-p  two spaces", false, false, false, false, u"", u"", u" two spaces"},
    {u"-p -s", false, false, false, false, u"", u"", u"-s"},
    {u"--s", false, false, false, false, u"", u"", u"--s"},
    {u"-", false, false, false, false, u"", u"", u"-"},
};

TEST(CommandLine, ParsesTheExampleTable) {
    for (const Case& c : kCases) {
        const std::u16string tail = c.tail;
        SCOPED_TRACE(std::string(tail.begin(), tail.end()));
        const CommandLineOptions options = ParseCommandLine(tail);
        EXPECT_EQ(c.runMode, options.runMode);
        EXPECT_EQ(c.silent, options.silent);
        EXPECT_EQ(c.cont, options.askAfterIntegrityFailure);
        EXPECT_EQ(c.debug, options.askAfterRestrictionFailure);
        EXPECT_EQ(std::u16string(c.guid), options.runEventGuid);
        EXPECT_EQ(std::u16string(c.request), options.runRequest);
        EXPECT_EQ(std::u16string(c.extra), options.extraArguments);
    }
}

// "-log FILE" wherever the other switches are: a token, or a path in double
// quotes; once only, and never without a file.
TEST(CommandLine, TakesTheLogFileAsATokenOrInQuotes) {
    const struct {
        const char16_t* tail;
        const char16_t* log;
        bool silent;
        const char16_t* extra;
    } cases[] = {
        {u"-log C:\\x.log -s", u"C:\\x.log", true, u""},
        {u"-s /LOG \"C:\\My Logs\\x.log\" /p a b", u"C:\\My Logs\\x.log", true, u"a b"},
        {u"-log \"C:\\a b.log\"", u"C:\\a b.log", false, u""},
        {u"-log", u"", false, u"-log"},
        {u"-log   ", u"", false, u"-log   "},
        {u"-log \"unclosed -s", u"", false, u"-log \"unclosed -s"},
        {u"-log \"\" -s", u"", false, u"-log \"\" -s"},
        {u"-log a -log b", u"a", false, u"-log b"},
        {u"x -log a", u"", false, u"x -log a"},
        {u"-run {G} req -log a", u"", false, u"-log a"},
    };
    for (const auto& c : cases) {
        const std::u16string tail = c.tail;
        SCOPED_TRACE(std::string(tail.begin(), tail.end()));
        const CommandLineOptions options = ParseCommandLine(tail);
        EXPECT_EQ(std::u16string(c.log), options.logPath);
        EXPECT_EQ(c.silent, options.silent);
        EXPECT_EQ(std::u16string(c.extra), options.extraArguments);
    }
}

}  // namespace
}  // namespace quarry
