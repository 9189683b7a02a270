#include "common/FieldLogText.h"

#include <gtest/gtest.h>

namespace quarry {
namespace {

// One event is one UTF-8 line, whatever its text holds.
TEST(FieldLogText, FormatsOneUtf8LinePerEvent) {
    const LogTime time = {2026, 12, 9, 8, 5, 3, 7};
    EXPECT_EQ("2026-12-09 08:05:03.007 [4711] launch: \"C:\\a b\\setup.exe\" /q\r\n",
              FormatLogLine(time, 4711, u"launch", u"\"C:\\a b\\setup.exe\" /q"));
    EXPECT_EQ("2026-12-09 08:05:03.007 [0] package: two  lines \xC3\x85\xE2\x82\xAC\r\n",
              FormatLogLine(time, 0, u"package", u"two\r\nlines \u00C5\u20AC"));
}

// One mutex for one file, whatever the case of its path.
TEST(FieldLogText, MutexNameFollowsThePathWithoutCase) {
    EXPECT_EQ(0u, FieldLogMutexName(u"C:\\Logs\\a.log").rfind(u"Local\\Quarry_Log_", 0));
    EXPECT_EQ(FieldLogMutexName(u"C:\\Logs\\a.log"), FieldLogMutexName(u"c:\\LOGS\\A.LOG"));
    EXPECT_NE(FieldLogMutexName(u"C:\\Logs\\a.log"), FieldLogMutexName(u"C:\\Logs\\b.log"));
}

TEST(FieldLogText, NamesTheMeaningOfEveryKindOfExitCode) {
    const struct {
        std::uint32_t code;
        const char16_t* text;
        const char16_t* meaning;
    } cases[] = {
        {0, u"0x00000000", u"installed: the started file succeeded, or nothing was to be started"},
        {42, u"0x0000002A", u"the started file's own exit code"},
        {0x80040002u, u"0x80040002", u"cancelled before the file was started"},
        {0x8004011Fu, u"0x8004011F",
         u"the extracted files changed during processing; nothing was started"},
        {0x80070005u, u"0x80070005", u"a Windows error"},
        {0xC0000005u, u"0xC0000005", u"a failure, or the started file's own code"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.text, CodeText(c.code));
        EXPECT_EQ(c.meaning, ExitCodeMeaning(c.code)) << std::hex << c.code;
    }
}

}  // namespace
}  // namespace quarry
