#include "workflow/FolderRules.h"

#include <limits>

#include "package/PackageFormat.h"

namespace quarry {

std::uint64_t AddWithCarry(std::uint64_t a, std::uint64_t b) {
    const std::uint64_t sum = a + b;
    return sum < a ? std::numeric_limits<std::uint64_t>::max() : sum;
}

bool HasEnoughFreeSpace(std::uint64_t available, std::uint64_t required) {
    return available > required;
}

std::u16string DriveText(std::u16string_view folder) {
    const std::size_t colon = folder.find(u':');
    if (colon == std::u16string_view::npos) return std::u16string();
    return std::u16string(folder.substr(0, colon));
}

std::optional<ParentFolderKind> ParentFolderKindFromSetting(std::int32_t value) {
    switch (value) {
    case 0:
        return ParentFolderKind::ProgramFolder;
    case 1:
        return ParentFolderKind::Desktop;
    case 2:
        return ParentFolderKind::Downloads;
    default:
        return std::nullopt;
    }
}

namespace {
bool IsPathSeparator(char16_t c) { return c == u'\\' || c == u'/'; }
}  // namespace

std::u16string FileNamePart(std::u16string_view path) {
    std::size_t start = 0;
    for (std::size_t i = 0; i + 1 < path.size(); ++i) {
        if ((IsPathSeparator(path[i]) || path[i] == u':') && !IsPathSeparator(path[i + 1])) {
            start = i + 1;
        }
    }
    return std::u16string(path.substr(start));
}

std::u16string_view ExtensionPart(std::u16string_view name) {
    // A backslash or a space after a dot means the dot did not start an
    // extension; the shell's scan forgets it there.
    std::size_t dot = std::u16string_view::npos;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == u'.') {
            dot = i;
        } else if (name[i] == u'\\' || name[i] == u' ') {
            dot = std::u16string_view::npos;
        }
    }
    return dot == std::u16string_view::npos ? std::u16string_view() : name.substr(dot);
}

std::u16string FolderNameFromProgramName(std::u16string_view programName) {
    const std::u16string name = FileNamePart(programName);
    return name.substr(0, name.size() - ExtensionPart(name).size());
}

std::u16string ExtractFolderName(std::u16string_view wanted) {
    return IsSafeEntryName(wanted) ? std::u16string(wanted)
                                   : std::u16string(kFallbackExtractFolderName);
}

std::u16string WithTrailingBackslash(std::u16string path) {
    if (path.empty() || path.back() != u'\\') path += u'\\';
    return path;
}

}  // namespace quarry
