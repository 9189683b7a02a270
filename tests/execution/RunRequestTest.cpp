#include "execution/RunRequest.h"

#include <gtest/gtest.h>

#include "app/CommandLine.h"
#include "common/Text.h"

namespace quarry {
namespace {

// Lossless: a character outside ASCII must not compare equal to its low byte.
std::string Narrow(std::u16string_view text) { return Utf16ToUtf8(text); }

RunRequest Request(std::uint32_t wait, bool system, bool hide, const std::u16string& program) {
    return RunRequest{wait, system, hide, program, u""};
}

void ExpectSame(const RunRequest& expected, const std::optional<RunRequest>& actual) {
    ASSERT_TRUE(actual.has_value());
    EXPECT_EQ(expected.waitSeconds, actual->waitSeconds);
    EXPECT_EQ(expected.systemProgram, actual->systemProgram);
    EXPECT_EQ(expected.hideWindow, actual->hideWindow);
    EXPECT_EQ(Narrow(expected.program), Narrow(actual->program));
}

TEST(RunRequest, EncodesPercentThenSpaceAndRoundTrips) {
    const RunRequest request = Request(1500, false, true, u"C:\\100% Tools\\setup.exe");
    const std::u16string encoded = EncodeRunRequest(request);
    EXPECT_EQ("1500|No|Yes|C:\\100%25%20Tools\\setup.exe", Narrow(encoded));
    ExpectSame(request, DecodeRunRequest(encoded));

    // Text that already looks encoded stays literal: "%20" in a name travels
    // as "%2520" and comes back as "%20", not as a space.
    const RunRequest literal = Request(0, true, false, u"C:\\a%20b\\%25%2520 %\\x.exe");
    EXPECT_EQ("0|Yes|No|C:\\a%2520b\\%2525%252520%20%25\\x.exe",
              Narrow(EncodeRunRequest(literal)));
    ExpectSame(literal, DecodeRunRequest(EncodeRunRequest(literal)));
    EXPECT_EQ("C:\\%20.exe", Narrow(DecodeRunRequest(u"1|No|No|C:\\%2520.exe")->program));
}

TEST(RunRequest, TrimsSpacesAroundTheRecordBeforeEncoding) {
    EXPECT_EQ("0|No|No|C:\\x.exe", Narrow(EncodeRunRequest(Request(0, false, false, u"C:\\x.exe  "))));
    // Inner spaces stay.
    EXPECT_EQ("0|No|No|C:\\a%20%20b.exe",
              Narrow(EncodeRunRequest(Request(0, false, false, u"C:\\a  b.exe "))));
}

TEST(RunRequest, PrintsTheWaitSignedAndReadsItBack) {
    EXPECT_EQ("-1|No|No|x", Narrow(EncodeRunRequest(Request(0xFFFFFFFFu, false, false, u"x"))));
    ExpectSame(Request(0xFFFFFFFFu, false, false, u"x"), DecodeRunRequest(u"-1|No|No|x"));
    ExpectSame(Request(0x80000000u, false, false, u"x"),
               DecodeRunRequest(EncodeRunRequest(Request(0x80000000u, false, false, u"x"))));
}

TEST(RunRequest, ReadsTheWaitInBaseZero) {
    const struct {
        const char16_t* text;
        std::uint32_t value;
    } cases[] = {
        {u"15", 15},          {u"0x10", 16},        {u"0X1f", 31},      {u"010", 8},
        {u"0", 0},            {u"08", 0},           {u"0x", 0},         {u"abc", 0},
        {u"12abc", 12},       {u" \t7", 7},         {u"+9", 9},         {u"-2", 0xFFFFFFFEu},
        {u"4294967295", 0xFFFFFFFFu},               {u"4294967296", 0xFFFFFFFFu},
        {u"0x100000000", 0xFFFFFFFFu},              {u"-4294967296", 0xFFFFFFFFu},
        {u"037777777777", 0xFFFFFFFFu},             {u"1500", 1500},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.text));
        EXPECT_EQ(c.value,
                  DecodeRunRequest(std::u16string(c.text) + u"|No|No|x")->waitSeconds);
    }
    // A space before the number arrives encoded and is skipped.
    EXPECT_EQ(15u, DecodeRunRequest(u"%2015|No|No|x")->waitSeconds);
}

TEST(RunRequest, NeedsFourPiecesAndSkipsEmptyOnes) {
    for (const char16_t* text : {u"", u"|||", u"0|No|No", u"0|No|No|", u"0||No|No",
                                 u"%20", u"0%7CNo|No|x"}) {
        SCOPED_TRACE(Narrow(text));
        EXPECT_FALSE(DecodeRunRequest(text).has_value());
    }
    ExpectSame(Request(3, true, false, u"C:\\x.exe"),
               DecodeRunRequest(u"||3||Yes|||No|C:\\x.exe||"));
    // A fifth piece is not part of the program: it is the field log's file.
    ExpectSame(Request(3, false, false, u"C:\\x.exe"), DecodeRunRequest(u"3|No|No|C:\\x.exe|y"));
    EXPECT_EQ(u"y", DecodeRunRequest(u"3|No|No|C:\\x.exe|y")->logPath);
    EXPECT_EQ(u"", DecodeRunRequest(u"3|No|No|C:\\x.exe||")->logPath);

    RunRequest logged = Request(0, false, false, u"C:\\x.exe");
    logged.logPath = u"C:\\My Logs\\run.log";
    EXPECT_EQ("0|No|No|C:\\x.exe|C:\\My%20Logs\\run.log", Narrow(EncodeRunRequest(logged)));
    EXPECT_EQ(logged.logPath, DecodeRunRequest(EncodeRunRequest(logged))->logPath);
    // A piece of spaces is not empty.
    ExpectSame(Request(0, false, false, u" "), DecodeRunRequest(u"0|No|No|%20"));
}

TEST(RunRequest, ComparesYesWithoutCase) {
    const struct {
        const char16_t* text;
        bool yes;
    } cases[] = {
        {u"Yes", true}, {u"yes", true}, {u"YES", true}, {u"yEs", true},
        {u"No", false}, {u"Y", false},  {u"Yes%20", false}, {u"true", false}, {u"1", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.text));
        const auto request =
            DecodeRunRequest(u"0|" + std::u16string(c.text) + u"|" + c.text + u"|x");
        ASSERT_TRUE(request.has_value());
        EXPECT_EQ(c.yes, request->systemProgram);
        EXPECT_EQ(c.yes, request->hideWindow);
    }
}

TEST(RunModeParameters, PassesArgumentsAfterTheRecordUnencoded) {
    const RunRequest request = Request(1500, true, true, u"C:\\100% Tools\\setup.exe");
    const std::u16string guid = u"{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}";
    EXPECT_EQ("-run {0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0} "
              "1500|Yes|Yes|C:\\100%25%20Tools\\setup.exe /q a|b \"100% done\"",
              Narrow(RunModeParameters(guid, request, u"/q a|b \"100% done\"")));
    EXPECT_EQ("-run {G} 0|No|No|x", Narrow(RunModeParameters(u"{G}", Request(0, false, false, u"x"), u"")));
    // Trailing spaces of the whole string go, including an argument string of
    // spaces only; inner ones stay.
    EXPECT_EQ("-run {G} 0|No|No|x a  b",
              Narrow(RunModeParameters(u"{G}", Request(0, false, false, u"x"), u"a  b   ")));
    EXPECT_EQ("-run {G} 0|No|No|x",
              Narrow(RunModeParameters(u"{G}", Request(0, false, false, u"x"), u"   ")));
}

TEST(RunModeParameters, SurviveTheRunModeCommandLineParser) {
    const RunRequest request = Request(25, false, true, u"C:\\100% Tools\\my setup.exe");
    const std::u16string arguments = u"-s  \"C:\\a b\\%1\" x|y %QUARRYTOOLROOT%";
    const CommandLineOptions options =
        ParseCommandLine(RunModeParameters(u"{G}", request, arguments));
    ASSERT_TRUE(options.runMode);
    EXPECT_EQ("{G}", Narrow(options.runEventGuid));
    EXPECT_EQ(Narrow(arguments), Narrow(options.extraArguments));
    ExpectSame(request, DecodeRunRequest(options.runRequest));
}

}  // namespace
}  // namespace quarry
