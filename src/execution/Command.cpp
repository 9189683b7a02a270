#include "execution/Command.h"

#include "common/Text.h"

namespace quarry {

namespace {

void AppendPiece(std::u16string& text, const std::u16string& piece) {
    if (piece.empty()) return;
    text += piece;
    text += u' ';
}

bool Contains(const std::u16string& text, std::u16string_view part) {
    return text.find(part) != std::u16string::npos;
}

bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

// Replaces every occurrence of the first of `placeholders` that occurs in
// `text` by `value`. Returns whether one did.
template <std::size_t N>
bool ReplaceFirstFound(std::u16string& text, const std::u16string_view (&placeholders)[N],
                       const std::u16string& value) {
    for (std::u16string_view placeholder : placeholders) {
        if (ReplaceAll(text, placeholder, value)) return true;
    }
    return false;
}

}  // namespace

std::u16string AssembleArgumentString(const ExecutionSettings& execution, bool tervoUpdateMode,
                                       bool silent, const UpdateModeFlags& updateMode,
                                       const std::u16string& extraArguments) {
    std::u16string text;
    AppendPiece(text, execution.Options);
    if (!tervoUpdateMode) {
        AppendPiece(text, silent ? execution.AdditionalOptionsForSilentMode
                                 : execution.AdditionalOptionsForGuiMode);
    } else {
        if (updateMode.silentExecution) AppendPiece(text, execution.AdditionalOptionsForSilentMode);
        if (!updateMode.launchInstaller) AppendPiece(text, execution.AdditionalOptionsForGuiMode);
    }
    AppendPiece(text, extraArguments);
    return text;
}

std::u16string TrimTrailingSpaces(std::u16string_view text) {
    std::size_t end = text.size();
    while (end > 0 && text[end - 1] == u' ') --end;
    return std::u16string(text.substr(0, end));
}

bool ReplaceAll(std::u16string& text, std::u16string_view from, std::u16string_view to) {
    if (from.empty()) return false;
    bool replaced = false;
    std::size_t at = 0;
    while ((at = text.find(from, at)) != std::u16string::npos) {
        text.replace(at, from.size(), to);
        at += to.size();
        replaced = true;
    }
    return replaced;
}

std::u16string ToolTempFolder(const std::u16string& workFolder) { return workFolder + u"Temp"; }

bool ReplaceToolPlaceholders(std::u16string& arguments, const std::u16string& runFolder,
                             const std::u16string& workFolder) {
    if (Contains(arguments, kToolRootPlaceholder)) {
        std::size_t end = runFolder.size();
        while (end > 0 && runFolder[end - 1] == u'\\') --end;
        ReplaceAll(arguments, kToolRootPlaceholder, std::u16string_view(runFolder).substr(0, end));
    }
    return ReplaceAll(arguments, kToolTempPlaceholder, ToolTempFolder(workFolder));
}

ProgramKind ClassifyProgramFile(std::u16string_view extension) {
    if (EqualsNoCase(extension, u".bat") || EqualsNoCase(extension, u".cmd")) {
        return ProgramKind::Batch;
    }
    if (EqualsNoCase(extension, u".exe")) return ProgramKind::Executable;
    return ProgramKind::Associated;
}

ProgramCommand BatchProgramCommand(const std::u16string& filePath, const std::u16string& arguments,
                                   bool silent, const std::u16string& systemFolder) {
    ProgramCommand command;
    command.hideWindow = silent;
    if (systemFolder.empty()) {
        command.program = filePath;
        command.arguments = arguments;
        return command;
    }
    command.program = systemFolder + u"\\cmd.exe";
    // After "/C" cmd.exe keeps the quotes only when there are exactly two,
    // with nothing special (parentheses, "&", "^" and the like) between
    // them; otherwise it drops the first and the last quote of the line, and
    // a quoted argument or a folder such as "Setup (2)" splits the path. With
    // "/S" it always drops exactly that pair, so the line is given one more.
    // The blanks that end the argument string would now stand inside that
    // pair, out of reach of the launcher's trimming: they go here.
    // "/D" keeps the AutoRun commands of the user's and the machine's
    // "Command Processor" keys out of the launch: they would run before the
    // batch file, elevated too when the launch is.
    std::u16string line = u"\"" + filePath + u"\"";
    const std::u16string trimmed = TrimTrailingSpaces(arguments);
    if (!trimmed.empty()) line += u" " + trimmed;
    command.arguments = u"/D /S /C \"" + line + u"\"";
    command.systemProgram = true;
    return command;
}

ProgramCommand ExpandOpenCommand(const std::u16string& command, bool from64BitView,
                                 const std::u16string& filePath, const std::u16string& arguments,
                                 const ExpandEnvironmentFn& expandEnvironment,
                                 const std::u16string& systemFolder) {
    // The program is the quoted first token, or the text up to the first
    // space; the rest keeps what follows it, the separating space included.
    std::u16string program;
    std::u16string rest;
    if (!command.empty() && command[0] == u'"') {
        const std::size_t close = command.find(u'"', 1);
        if (close == std::u16string::npos) {
            program = command.substr(1);
        } else {
            program = command.substr(1, close - 1);
            rest = command.substr(close + 1);
        }
    } else {
        const std::size_t space = command.find(u' ');
        if (space == std::u16string::npos) {
            program = command;
        } else {
            program = command.substr(0, space);
            rest = command.substr(space);
        }
    }

    ProgramCommand result;
    if (program.empty()) {
        result.program = filePath;
        result.arguments = arguments;
        return result;
    }

    static constexpr std::u16string_view kProgramPlaceholders[] = {u"%1", u"%l", u"%L"};
    bool fileUsed = ReplaceFirstFound(program, kProgramPlaceholders, filePath);
    if (expandEnvironment) program = expandEnvironment(program);

    std::u16string file = filePath;
    if (!fileUsed && file.find(u' ') != std::u16string::npos) file = u"\"" + file + u"\"";

    // A quoted placeholder comes before its bare form, so that a path that
    // is quoted already is not quoted twice.
    static constexpr std::u16string_view kRestPlaceholders[] = {u"\"%1\"", u"%1", u"\"%l\"",
                                                                u"%l",     u"\"%L\"", u"%L"};
    if (ReplaceFirstFound(rest, kRestPlaceholders, file)) fileUsed = true;

    std::u16string tail = fileUsed ? std::u16string() : file;
    if (!arguments.empty()) {
        if (!tail.empty()) tail += u' ';
        tail += arguments;
    }
    if (!ReplaceAll(rest, u"%*", tail) && !ReplaceAll(rest, u"%~", tail)) {
        if (!rest.empty()) rest += u' ';
        rest += tail;
    }

    result.program = program;
    result.arguments = rest;
    result.systemProgram = from64BitView && !systemFolder.empty() &&
                           StartsWithNoCase(program, systemFolder + u"\\");
    return result;
}

}  // namespace quarry
