#include "execution/Command.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/Text.h"

namespace quarry {
namespace {

std::string Narrow(std::u16string_view text) { return Utf16ToUtf8(text); }

ExecutionSettings Options(std::u16string options, std::u16string gui, std::u16string silent) {
    ExecutionSettings execution;
    execution.Options = std::move(options);
    execution.AdditionalOptionsForGuiMode = std::move(gui);
    execution.AdditionalOptionsForSilentMode = std::move(silent);
    return execution;
}

TEST(Command, ArgumentStringTakesTheModeOptionsBySilentOrByTheUpdateTool) {
    struct Case {
        const char* name;
        ExecutionSettings execution;
        bool tervo;
        bool silent;
        UpdateModeFlags updateMode;
        std::u16string extra;
        std::u16string expected;
    };
    const ExecutionSettings all = Options(u"/opt", u"/gui", u"/quiet");
    const Case cases[] = {
        {"gui run", Options(u"/a", u"/b", u"/s"), false, false, {}, u"", u"/a /b "},
        {"silent run", all, false, true, {}, u"", u"/opt /quiet "},
        {"extra arguments last", all, false, false, {}, u"x y", u"/opt /gui x y "},
        {"empty pieces add nothing", Options(u"", u"", u"/quiet"), false, false, {}, u"", u""},
        {"only extra", Options(u"", u"", u""), false, true, {}, u"-z", u"-z "},
        // Under the update tool the job's silent flag plays no part.
        {"update tool, no values", all, true, true, {false, false}, u"", u"/opt /gui "},
        {"update tool silent", all, true, false, {true, false}, u"", u"/opt /quiet /gui "},
        {"update tool launches installer", all, true, false, {false, true}, u"", u"/opt "},
        {"update tool both", all, true, true, {true, true}, u"e", u"/opt /quiet e "},
        // The registry values count only under the update tool.
        {"values without update mode", all, false, false, {true, true}, u"", u"/opt /gui "},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Narrow(c.expected),
                  Narrow(AssembleArgumentString(c.execution, c.tervo, c.silent, c.updateMode,
                                                c.extra)))
            << c.name;
    }
}

TEST(Command, LauncherTrimsOnlyTrailingSpaces) {
    const ExecutionSettings execution = Options(u"/a", u"/b", u"");
    EXPECT_EQ(u"/a /b", TrimTrailingSpaces(AssembleArgumentString(execution, false, false, {}, u"")));
    EXPECT_EQ(u"  a  b", TrimTrailingSpaces(u"  a  b   "));
    EXPECT_EQ(u"a\t", TrimTrailingSpaces(u"a\t "));
    EXPECT_EQ(u"", TrimTrailingSpaces(u"   "));
}

TEST(Command, ToolPlaceholdersAreReplacedEverywhereAndCaseSensitively) {
    const std::u16string work = u"C:\\T\\QuarryTool\\{G}\\";
    const std::u16string package = work + u"Package\\";
    struct Case {
        std::u16string runFolder;
        std::u16string arguments;
        std::u16string expected;
        bool tempUsed;
    };
    const Case cases[] = {
        {package, u"/r=%QUARRYTOOLROOT% /s=%QUARRYTOOLROOT%\\x ",
         u"/r=C:\\T\\QuarryTool\\{G}\\Package /s=C:\\T\\QuarryTool\\{G}\\Package\\x ", false},
        {u"D:\\Out\\\\\\", u"%QUARRYTOOLROOT%", u"D:\\Out", false},
        {package, u"/t=%QUARRYTOOLTEMP% %QUARRYTOOLTEMP%",
         u"/t=C:\\T\\QuarryTool\\{G}\\Temp C:\\T\\QuarryTool\\{G}\\Temp", true},
        {package, u"%quarrytoolroot% %QuarryToolTemp% %QUARRYTOOLROOT",
         u"%quarrytoolroot% %QuarryToolTemp% %QUARRYTOOLROOT", false},
        {package, u"%QUARRYTOOLROOT%%QUARRYTOOLTEMP%",
         u"C:\\T\\QuarryTool\\{G}\\PackageC:\\T\\QuarryTool\\{G}\\Temp", true},
        {package, u"", u"", false},
    };
    for (const Case& c : cases) {
        std::u16string arguments = c.arguments;
        EXPECT_EQ(c.tempUsed, ReplaceToolPlaceholders(arguments, c.runFolder, work))
            << Narrow(c.arguments);
        EXPECT_EQ(Narrow(c.expected), Narrow(arguments));
    }
    EXPECT_EQ(u"C:\\W\\Temp", ToolTempFolder(u"C:\\W\\"));
}

TEST(Command, ReplaceAllDoesNotRescanItsReplacement) {
    std::u16string text = u"%1 and %1";
    EXPECT_TRUE(ReplaceAll(text, u"%1", u"%1%1"));
    EXPECT_EQ(u"%1%1 and %1%1", text);
    EXPECT_FALSE(ReplaceAll(text, u"%2", u"x"));
    EXPECT_FALSE(ReplaceAll(text, u"", u"x"));
    EXPECT_EQ(u"%1%1 and %1%1", text);
}

TEST(Command, ProgramKindFollowsTheExtensionWithoutRegardToCase) {
    EXPECT_EQ(ProgramKind::Batch, ClassifyProgramFile(u".bat"));
    EXPECT_EQ(ProgramKind::Batch, ClassifyProgramFile(u".CMD"));
    EXPECT_EQ(ProgramKind::Batch, ClassifyProgramFile(u".Cmd"));
    EXPECT_EQ(ProgramKind::Executable, ClassifyProgramFile(u".EXE"));
    EXPECT_EQ(ProgramKind::Associated, ClassifyProgramFile(u".msi"));
    EXPECT_EQ(ProgramKind::Associated, ClassifyProgramFile(u""));
    EXPECT_EQ(ProgramKind::Associated, ClassifyProgramFile(u".exe2"));
    EXPECT_EQ(ProgramKind::Associated, ClassifyProgramFile(u"exe"));
}

TEST(Command, BatchFileRunsThroughTheCommandInterpreterInOneMorePairOfQuotes) {
    const std::u16string system = u"C:\\Windows\\system32";
    struct Case {
        const char16_t* file;
        const char16_t* arguments;
        const char16_t* commandLine;
    };
    const Case cases[] = {
        {u"C:\\Run Dir\\setup.cmd", u"/q %x%", u"/D /S /C \"\"C:\\Run Dir\\setup.cmd\" /q %x%\""},
        {u"C:\\R\\a.bat", u"", u"/D /S /C \"\"C:\\R\\a.bat\"\""},
        {u"C:\\Setup (2)\\a.cmd", u"", u"/D /S /C \"\"C:\\Setup (2)\\a.cmd\"\""},
        {u"C:\\R\\a.cmd", u"\"one arg\"", u"/D /S /C \"\"C:\\R\\a.cmd\" \"one arg\"\""},
        {u"C:\\R\\a.cmd", u"/quiet \"C:\\Program Files\\x y\" /norestart",
         u"/D /S /C \"\"C:\\R\\a.cmd\" /quiet \"C:\\Program Files\\x y\" /norestart\""},
        {u"C:\\R\\a.cmd", u"\"\"", u"/D /S /C \"\"C:\\R\\a.cmd\" \"\"\""},
        // The argument string ends in a blank, which would stand inside the
        // quotes, where the launcher's trimming cannot reach it.
        {u"C:\\R\\a.cmd", u"/q \"x \"  ", u"/D /S /C \"\"C:\\R\\a.cmd\" /q \"x \"\""},
        {u"C:\\R\\a.cmd", u"   ", u"/D /S /C \"\"C:\\R\\a.cmd\"\""},
    };
    for (const Case& c : cases) {
        for (bool silent : {false, true}) {
            const ProgramCommand command = BatchProgramCommand(c.file, c.arguments, silent, system);
            EXPECT_EQ(u"C:\\Windows\\system32\\cmd.exe", command.program);
            EXPECT_EQ(c.commandLine, command.arguments) << Narrow(c.file) << Narrow(c.arguments);
            EXPECT_TRUE(command.systemProgram);
            EXPECT_EQ(silent, command.hideWindow);
        }
    }

    // Without a system folder the file goes to the shell as it is.
    const ProgramCommand command = BatchProgramCommand(u"C:\\R\\a.bat", u"/q", true, u"");
    EXPECT_EQ(u"C:\\R\\a.bat", command.program);
    EXPECT_EQ(u"/q", command.arguments);
    EXPECT_FALSE(command.systemProgram);
}

// Environment expansion stand-in: "%SystemRoot%" and "%ProgramFiles%" only.
std::u16string FakeExpand(const std::u16string& text) {
    std::u16string result = text;
    ReplaceAll(result, u"%SystemRoot%", u"C:\\Windows");
    ReplaceAll(result, u"%ProgramFiles%", u"C:\\Program Files");
    return result;
}

TEST(Command, OpenCommandPlaceholdersTakeTheFilePathAndTheArguments) {
    const std::u16string system = u"C:\\Windows\\system32";
    const std::u16string spaced = u"C:\\Run Dir\\read me.txt";
    const std::u16string plain = u"C:\\Run\\readme.txt";
    struct Case {
        const char* name;
        std::u16string command;
        std::u16string file;
        std::u16string arguments;
        std::u16string program;
        std::u16string expected;
    };
    const Case cases[] = {
        // A quoted placeholder keeps one pair of quotes round a spaced path.
        {"quoted program, quoted %1", u"\"C:\\Program Files\\Viewer\\view.exe\" \"%1\"", spaced,
         u"", u"C:\\Program Files\\Viewer\\view.exe", u" \"C:\\Run Dir\\read me.txt\" "},
        {"quoted %1 with a plain path", u"\"C:\\V\\view.exe\" \"%1\"", plain, u"",
         u"C:\\V\\view.exe", u" C:\\Run\\readme.txt "},
        {"bare %1 quotes a spaced path", u"C:\\V\\view.exe %1 /x", spaced, u"-a",
         u"C:\\V\\view.exe", u" \"C:\\Run Dir\\read me.txt\" /x -a"},
        {"%l", u"view.exe /open \"%l\"", spaced, u"", u"view.exe",
         u" /open \"C:\\Run Dir\\read me.txt\" "},
        {"%L", u"view.exe %L", plain, u"", u"view.exe", u" C:\\Run\\readme.txt "},
        {"%1 wins over %L, every %1 replaced", u"view.exe %L %1 %1", plain, u"", u"view.exe",
         u" %L C:\\Run\\readme.txt C:\\Run\\readme.txt "},
        {"%* takes the arguments", u"\"C:\\V\\view.exe\" \"%1\" %*", plain, u"/p q", u"C:\\V\\view.exe",
         u" C:\\Run\\readme.txt /p q"},
        {"%* takes the file when unused", u"view.exe /go %* /end", spaced, u"/p", u"view.exe",
         u" /go \"C:\\Run Dir\\read me.txt\" /p /end"},
        {"%~ when there is no %*", u"view.exe %~ %~", plain, u"-v", u"view.exe",
         u" C:\\Run\\readme.txt -v C:\\Run\\readme.txt -v"},
        {"%* before %~", u"view.exe %* %~", plain, u"", u"view.exe", u" C:\\Run\\readme.txt %~"},
        // No placeholder at all: the file (quoted when spaced), then the
        // arguments, each after a space.
        {"no placeholder", u"\"C:\\V\\view.exe\"", spaced, u"/p", u"C:\\V\\view.exe",
         u"\"C:\\Run Dir\\read me.txt\" /p"},
        {"no placeholder, options kept", u"view.exe /new", plain, u"/p", u"view.exe",
         u" /new C:\\Run\\readme.txt /p"},
        {"no placeholder, no arguments", u"view.exe", plain, u"", u"view.exe",
         u"C:\\Run\\readme.txt"},
        // The program takes the file: it is neither quoted nor repeated.
        {"%1 in the program", u"\"%1\" /run", spaced, u"x", u"C:\\Run Dir\\read me.txt",
         u" /run x"},
        {"%1 in program and rest", u"%1 %1", spaced, u"", u"C:\\Run Dir\\read me.txt",
         u" C:\\Run Dir\\read me.txt "},
        {"environment in the program", u"%ProgramFiles%\\V\\v.exe %1", plain, u"",
         u"C:\\Program Files\\V\\v.exe", u" C:\\Run\\readme.txt "},
        {"unclosed quote", u"\"C:\\V\\view.exe /x", plain, u"a", u"C:\\V\\view.exe /x",
         u"C:\\Run\\readme.txt a"},
    };
    for (const Case& c : cases) {
        const ProgramCommand command =
            ExpandOpenCommand(c.command, false, c.file, c.arguments, FakeExpand, system);
        EXPECT_EQ(Narrow(c.program), Narrow(command.program)) << c.name;
        EXPECT_EQ(Narrow(c.expected), Narrow(command.arguments)) << c.name;
        EXPECT_FALSE(command.systemProgram) << c.name;
        EXPECT_FALSE(command.hideWindow) << c.name;
    }
}

TEST(Command, WithoutAnOpenCommandTheFileItselfIsStarted) {
    for (const std::u16string command : {u"", u"\"\"", u"\"\" %1", u" %1"}) {
        const ProgramCommand result = ExpandOpenCommand(command, true, u"C:\\R\\a b.xyz", u"/p",
                                                        FakeExpand, u"C:\\Windows\\system32");
        EXPECT_EQ(u"C:\\R\\a b.xyz", result.program) << Narrow(command);
        EXPECT_EQ(u"/p", result.arguments) << Narrow(command);
        EXPECT_FALSE(result.systemProgram);
    }
}

TEST(Command, SystemProgramOnlyFromTheSixtyFourBitViewUnderTheSystemFolder) {
    const std::u16string system = u"C:\\Windows\\system32";
    struct Case {
        std::u16string command;
        bool from64;
        std::u16string folder;
        bool expected;
    };
    const Case cases[] = {
        {u"%SystemRoot%\\system32\\notepad.exe %1", true, system, true},
        {u"%SystemRoot%\\system32\\notepad.exe %1", false, system, false},
        {u"\"C:\\WINDOWS\\SYSTEM32\\rundll32.exe\" x.dll,Open %1", true, system, true},
        {u"C:\\Windows\\system32x\\tool.exe %1", true, system, false},
        {u"C:\\Windows\\system32 %1", true, system, false},
        {u"%SystemRoot%\\notepad.exe %1", true, system, false},
        {u"\\notepad.exe %1", true, u"", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, ExpandOpenCommand(c.command, c.from64, u"C:\\a.txt", u"", FakeExpand,
                                                c.folder)
                                  .systemProgram)
            << Narrow(c.command) << " 64-bit " << c.from64;
    }
}

}  // namespace
}  // namespace quarry
