// The field log ("-log FILE") of packed programs run as a deployment tool
// runs them: both processes append to it, and it never changes the run.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "app/ProgramDriver.h"
#include "common/FieldLogText.h"
#include "common/Text.h"
#include "common/Unique.h"
#include "common/WinTestSupport.h"

namespace quarry {
namespace {

using testing::ProgramDriver;
using testing::ScratchFolder;

std::u16string UiData(const std::string& name) {
    return testing::WindowsPathOf(std::string(QUARRY_TEST_DATA) + "/ui/" + name);
}

struct LogLine {
    std::string process;  // the number in brackets
    std::string event;    // "phase: text"
};

// The log's lines, each checked to be "YYYY-MM-DD hh:mm:ss.mmm [pid] ...".
std::vector<LogLine> ReadLog(const std::u16string& path) {
    const std::vector<std::uint8_t> bytes = testing::ReadBytes(path);
    const std::string text(bytes.begin(), bytes.end());
    std::vector<LogLine> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        const std::string line = text.substr(start, end - start);
        const std::size_t close = line.find("] ");
        EXPECT_TRUE(line.size() > 26 && line[4] == '-' && line[10] == ' ' && line[19] == '.' &&
                    line[23] == ' ' && line[24] == '[' && close != std::string::npos)
            << line;
        if (close == std::string::npos || line.size() < 25) continue;
        lines.push_back({line.substr(25, close - 25), line.substr(close + 2)});
    }
    EXPECT_EQ(text.size(), start) << "every line ends in CR LF";
    return lines;
}

// The first line whose event starts with `prefix`, or null.
const LogLine* Find(const std::vector<LogLine>& lines, const std::string& prefix) {
    for (const LogLine& line : lines) {
        if (line.event.compare(0, prefix.size(), prefix) == 0) return &line;
    }
    return nullptr;
}

// A good run, a failing one and one cancelled while the file ran: each
// phase that ran is there, the run-mode copy's lines from its own process,
// and the last line gives the exit code with its meaning.
TEST(FieldLogExe, TellsThePhasesOfEachRunAndItsExitCode) {
    ScratchFolder folder;
    const struct {
        const char* package;
        const char16_t* switches;
        DWORD exitCode;
        std::vector<std::string> events;
    } cases[] = {
        {"run-exit.exe", u"-s", 42,
         {"start: program ", "settings: product ", "folders: work folder ",
          "extraction: files written to ", "lock: ", "integrity: checked with 0x00000000",
          "launch: \"", "run mode: starts \"", "run mode: the program ended with 0x0000002A",
          "launch: ended with 0x00000000; the file's exit code is 0x0000002A", "cleanup: done",
          "end: exit code 0x0000002A: the started file's own exit code"}},
        {"os-above.exe", u"-s", 0x8004000A,
         {"start: switches: silent", "restrictions: checked with 0x8004000A",
          "end: exit code 0x8004000A: Windows is too old for the package"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.package);
        const std::u16string log = folder / (Ascii(c.package) + u".log");
        ProgramDriver program(UiData(c.package),
                              std::u16string(c.switches) + u" -log \"" + log + u"\"");
        EXPECT_EQ(c.exitCode, program.WaitForExit());
        const std::vector<LogLine> lines = ReadLog(log);
        for (const std::string& event : c.events) {
            EXPECT_TRUE(Find(lines, event)) << event;
        }
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(c.events.back(), lines.back().event.substr(0, c.events.back().size()));
        if (const LogLine* runMode = Find(lines, "run mode: ")) {
            EXPECT_NE(lines.front().process, runMode->process) << "the run-mode copy's own";
        }
    }
}

// A session end while the file runs: the run-mode copy logs that it stopped
// waiting, and the run ends as cancelled.
TEST(FieldLogExe, CancelledRunLogsTheRunModeCopyGivingUp) {
    ScratchFolder folder;
    const std::u16string log = folder / u"cancelled.log";
    // A copy under a name of its own: other tests count the processes of
    // run-sleep.exe, and may run beside this one.
    const std::u16string copy = folder / u"log-sleep.exe";
    ASSERT_TRUE(::CopyFileW(Wide(UiData("run-sleep.exe")), Wide(copy), FALSE));
    ProgramDriver program(copy, u"/log \"" + log + u"\"");
    const HWND dialog = program.WaitForDialogShowing(u"Executing file...");
    ASSERT_TRUE(dialog);
    // The test program this run started, found by its parent, the run-mode
    // copy: it keeps running after the cancel and is ended below.
    std::vector<DWORD> copies;
    const std::vector<DWORD> started =
        ProgramDriver::StartedBy(L"log-sleep.exe", L"testprog.exe", copies);
    ASSERT_EQ(1u, started.size());
    ASSERT_TRUE(program.EndSessionAndClose(dialog));
    EXPECT_EQ(0x80004004u, program.WaitForExit());
    const std::vector<LogLine> lines = ReadLog(log);
    EXPECT_TRUE(Find(lines, "run mode: the wait was cancelled; the program runs on"));
    EXPECT_TRUE(Find(lines, "end: exit code 0x80004004: cancelled while the started file ran"));
    ProgramDriver::EndProcesses(started);
}

// A log that cannot be written changes nothing: the run ends as it would
// without one, and a file the log would reach through another name (a hard
// link planted where the log goes) is not written to. Nor does a log whose
// mutex another process keeps hold the run up: it goes off after one wait.
TEST(FieldLogExe, LogThatCannotBeWrittenChangesNothing) {
    ScratchFolder folder;
    const std::u16string victim = folder / u"victim.txt";
    ASSERT_TRUE(testing::WriteBytes(victim, {'k', 'e', 'e', 'p'}));
    const std::u16string linked = folder / u"linked.log";
    ASSERT_TRUE(::CreateHardLinkW(Wide(linked), Wide(victim), nullptr));
    const std::u16string blocked = folder / u"blocked.log";
    const UniqueHandle mutex(::CreateMutexW(nullptr, TRUE, Wide(FieldLogMutexName(blocked))));
    ASSERT_TRUE(mutex);
    for (const std::u16string& log : {folder / u"missing\\folder\\run.log", linked, blocked}) {
        SCOPED_TRACE(Utf16ToUtf8(log));
        ProgramDriver program(UiData("run-exit.exe"), u"-s -log \"" + log + u"\"");
        EXPECT_EQ(42u, program.WaitForExit());
    }
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(Wide(folder / u"missing")));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(Wide(blocked)));
    EXPECT_EQ((std::vector<std::uint8_t>{'k', 'e', 'e', 'p'}), testing::ReadBytes(victim));
}

}  // namespace
}  // namespace quarry
