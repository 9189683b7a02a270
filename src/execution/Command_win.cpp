#include "execution/Command_win.h"

#include <windows.h>
#include <shlwapi.h>

#include <vector>

#include "common/SystemLibrary.h"
#include "common/Text.h"
#include "common/Unique.h"
#include "common/WinFile.h"
#include "common/WinResult.h"
#include "settings/UpdateMode.h"

namespace quarry {

namespace {

// The default value of an open key when it is text (REG_SZ or
// REG_EXPAND_SZ, the latter not expanded); empty otherwise.
std::u16string ReadDefaultText(HKEY key) {
    DWORD type = 0;
    DWORD size = 0;
    if (::RegQueryValueExW(key, nullptr, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ) || size == 0) {
        return {};
    }
    // The stored text need not end in a null character: keep room for one.
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
    DWORD bufferSize = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (::RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                           &bufferSize) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return {};
    }
    buffer.back() = L'\0';
    return FromWide(buffer.data());
}

std::u16string ReadClassesRootDefault(const std::u16string& subKey, REGSAM access) {
    UniqueKey key;
    if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, Wide(subKey), 0, access, key.Put()) != ERROR_SUCCESS) {
        return {};
    }
    return ReadDefaultText(key.Get());
}

// ExpandEnvironmentStringsW into 260 characters; a text that does not fit
// stays as it was.
std::u16string ExpandEnvironment(const std::u16string& text) {
    wchar_t expanded[MAX_PATH] = {};
    const DWORD needed = ::ExpandEnvironmentStringsW(Wide(text), expanded, MAX_PATH);
    if (needed == 0 || needed > MAX_PATH) return text;
    return FromWide(expanded);
}

std::u16string ExtensionOf(const std::u16string& filePath) {
    return FromWide(::PathFindExtensionW(Wide(filePath)));
}

}  // namespace

std::u16string FindAssociatedCommand(bool view64, const std::u16string& extension) {
    // An empty name would open HKEY_CLASSES_ROOT itself.
    if (extension.empty()) return {};
    const REGSAM access = KEY_READ | (view64 ? KEY_WOW64_64KEY : 0);
    const std::u16string className = ReadClassesRootDefault(extension, access);
    if (className.empty()) return {};
    const std::u16string command =
        ReadClassesRootDefault(className + u"\\shell\\open\\command", access);
    std::size_t start = 0;
    while (start < command.size() && IsWhiteSpace(command[start])) ++start;
    return command.substr(start);
}

ProgramCommand ExpandAssociatedCommand(const std::u16string& filePath,
                                       const std::u16string& arguments) {
    const std::u16string extension = ExtensionOf(filePath);
    // On a 32-bit system the view flag is ignored and the first lookup reads
    // the only registry there is.
    std::u16string command = FindAssociatedCommand(true, extension);
    const bool from64BitView = !command.empty();
    if (!from64BitView) command = FindAssociatedCommand(false, extension);
    return ExpandOpenCommand(command, from64BitView, filePath, arguments, ExpandEnvironment,
                             SystemFolder());
}

ProgramCommand BuildProgramCommand(const std::u16string& filePath, const std::u16string& arguments,
                                   bool silent) {
    switch (ClassifyProgramFile(ExtensionOf(filePath))) {
        case ProgramKind::Batch:
            return BatchProgramCommand(filePath, arguments, silent, SystemFolder());
        case ProgramKind::Executable: {
            ProgramCommand command;
            command.program = filePath;
            command.arguments = arguments;
            return command;
        }
        case ProgramKind::Associated:
            break;
    }
    return ExpandAssociatedCommand(filePath, arguments);
}

HResult PrepareArgumentString(const PackageSettings& settings, const ExecutionSettings& execution,
                              bool silent, const std::u16string& extraArguments,
                              const std::u16string& runFolder, const std::u16string& workFolder,
                              std::u16string& argumentString) {
    // The update tool's registry key is read only for packages made for it.
    UpdateModeFlags updateMode;
    if (settings.TervoUpdateMode) {
        updateMode.silentExecution = ReadSilentExecutionFlag();
        updateMode.launchInstaller = ReadLaunchInstallerFlag();
    }
    argumentString = AssembleArgumentString(execution, settings.TervoUpdateMode, silent,
                                            updateMode, extraArguments);
    if (ReplaceToolPlaceholders(argumentString, runFolder, workFolder) &&
        Failed(CreateFolderIfMissing(ToolTempFolder(workFolder)))) {
        return kResultFolderNotCreated;
    }
    return kResultOk;
}

}  // namespace quarry
