// The pure rules behind the launch request: the argument string of the
// configured file, its two placeholders, the program kind by extension and
// the expansion of a shell open command. No windows.h: the registry lookup,
// the environment expansion and the system folder come in as arguments, so
// these build and are tested natively too.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "settings/PackageSettings.h"

namespace quarry {

// What the run-mode copy is to start for one configured file.
struct ProgramCommand {
    std::u16string program;    // full path handed to the shell
    std::u16string arguments;  // not encoded
    bool systemProgram = false;  // lies in the system folder: no file-system redirection
    bool hideWindow = false;     // a console command started without a window
};

// Replaced in the argument string only (never in FileName), case-sensitively.
// Neither is an environment variable.
inline constexpr std::u16string_view kToolRootPlaceholder = u"%QUARRYTOOLROOT%";
inline constexpr std::u16string_view kToolTempPlaceholder = u"%QUARRYTOOLTEMP%";

// The update tool's registry values; the caller reads them only when the
// package sets TervoUpdateMode, and leaves them false otherwise.
struct UpdateModeFlags {
    bool silentExecution = false;  // "SilentExecution" is 1
    bool launchInstaller = false;  // "LaunchInstaller" is 1
};

// The argument string before its placeholders are replaced: Options, the
// mode options, then `extraArguments`, each piece that is not empty
// followed by one space. The mode options are, without TervoUpdateMode,
// AdditionalOptionsForSilentMode when `silent` and AdditionalOptionsForGuiMode
// otherwise; with it, AdditionalOptionsForSilentMode when SilentExecution is
// 1, then AdditionalOptionsForGuiMode unless LaunchInstaller is 1 (`silent`
// plays no part then). The trailing space stays: the launcher trims the
// whole parameter string (TrimTrailingSpaces).
std::u16string AssembleArgumentString(const ExecutionSettings& execution, bool tervoUpdateMode,
                                       bool silent, const UpdateModeFlags& updateMode,
                                       const std::u16string& extraArguments);

// `text` without the spaces at its end.
std::u16string TrimTrailingSpaces(std::u16string_view text);

// Replaces every occurrence of `from` in `text` by `to`, left to right,
// never inside a replacement. Returns whether there was one.
bool ReplaceAll(std::u16string& text, std::u16string_view from, std::u16string_view to);

// The folder "%QUARRYTOOLTEMP%" names: `workFolder` (which ends in "\") +
// "Temp", without a trailing backslash.
std::u16string ToolTempFolder(const std::u16string& workFolder);

// Replaces "%QUARRYTOOLROOT%" by `runFolder` without its trailing
// backslashes, then "%QUARRYTOOLTEMP%" by ToolTempFolder(`workFolder`).
// Returns whether the second was used, so that the caller creates that
// folder.
bool ReplaceToolPlaceholders(std::u16string& arguments, const std::u16string& runFolder,
                             const std::u16string& workFolder);

// How a configured file is started, by its extension (as PathFindExtensionW
// gives it, compared case-insensitively).
enum class ProgramKind {
    Batch,       // ".bat", ".cmd": through the system folder's cmd.exe
    Executable,  // ".exe": the file itself
    Associated,  // anything else: through the shell's open command
};
ProgramKind ClassifyProgramFile(std::u16string_view extension);

// A batch file through `systemFolder` + "\cmd.exe" with "/D /S /C" (no
// AutoRun commands) and the command in one more pair of quotes: the file
// path in double quotes and then, when not empty, a space and `arguments`
// without the spaces at its end, as in
// /D /S /C ""C:\Setup (2)\a.cmd" "one arg"". A system program, hidden when
// `silent`. Without a system folder the file itself is handed over with
// `arguments`, as the shell runs batch files by their own association.
ProgramCommand BatchProgramCommand(const std::u16string& filePath, const std::u16string& arguments,
                                   bool silent, const std::u16string& systemFolder);

// Expands an environment-variable text (ExpandEnvironmentStringsW under
// Windows).
using ExpandEnvironmentFn = std::function<std::u16string(const std::u16string&)>;

// The program and arguments from a shell open command:
// - `command` is the open command found (empty: no association);
//   `from64BitView` tells whether the 64-bit registry view gave it;
// - the program is the command's first token (quoted or up to the first
//   space); "%1", "%l" or "%L" in it (the first of these in that order that
//   occurs) becomes the file path, then its environment variables are
//   expanded with `expandEnvironment`;
// - in the rest, the first of "\"%1\"", "%1", "\"%l\"", "%l", "\"%L\"",
//   "%L" that occurs becomes the file path, quoted when it holds a space and
//   the program did not take it already;
// - the tail (the file path if still unused, then the arguments) replaces
//   "%*" or else "%~", or is appended after a space;
// - the program is a system program only when the command came from the
//   64-bit view and the program lies below `systemFolder` + "\".
// Without a command the file itself is the program with `arguments`.
ProgramCommand ExpandOpenCommand(const std::u16string& command, bool from64BitView,
                                 const std::u16string& filePath, const std::u16string& arguments,
                                 const ExpandEnvironmentFn& expandEnvironment,
                                 const std::u16string& systemFolder);

}  // namespace quarry
