// Turning the package's execution settings into the program to start and
// its argument string.
#pragma once

#include <string>

#include "common/Result.h"
#include "execution/Command.h"
#include "settings/PackageSettings.h"

namespace quarry {

// ProgramCommand, the request's program part, is declared with the pure
// rules in Command.h.

// The program by file type: ".bat" and ".cmd" through the system folder's
// cmd.exe ("/D /S /C" and, in one more pair of quotes, the quoted file path
// and the arguments; hidden when `silent`), ".exe" itself, anything else
// through its file association.
ProgramCommand BuildProgramCommand(const std::u16string& filePath, const std::u16string& arguments,
                                   bool silent);

// The shell's open command for `extension` (".txt") from HKEY_CLASSES_ROOT,
// in the 64-bit registry view when `view64`; empty when there is none.
std::u16string FindAssociatedCommand(bool view64, const std::u16string& extension);

// The program and arguments from the file's association (64-bit view first,
// then the default one); without an association the file itself with the
// arguments.
ProgramCommand ExpandAssociatedCommand(const std::u16string& filePath,
                                       const std::u16string& arguments);

// The argument string for the configured file (AssembleArgumentString, the
// update-mode registry values read only under TervoUpdateMode) with its
// placeholders replaced. When "%QUARRYTOOLTEMP%" is used, `workFolder` +
// "Temp" is created unless it exists; 0x8004000F when it cannot be, and
// nothing is to be run. Otherwise 0.
HResult PrepareArgumentString(const PackageSettings& settings, const ExecutionSettings& execution,
                              bool silent, const std::u16string& extraArguments,
                              const std::u16string& runFolder, const std::u16string& workFolder,
                              std::u16string& argumentString);

}  // namespace quarry
