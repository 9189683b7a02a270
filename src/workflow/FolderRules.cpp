#include "workflow/FolderRules.h"

#include <limits>

#include "common/PathText.h"
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

std::u16string FolderNameFromProgramName(std::u16string_view programName) {
    const std::u16string name = FileNamePart(programName);
    return name.substr(0, name.size() - ExtensionPart(name).size());
}

std::u16string ExtractFolderName(std::u16string_view wanted) {
    return IsSafeEntryName(wanted) ? std::u16string(wanted)
                                   : std::u16string(kFallbackExtractFolderName);
}

bool IsWorkFolderName(std::u16string_view name) {
    if (name.size() != 38 || name.front() != u'{' || name.back() != u'}') return false;
    for (std::size_t i = 1; i < 37; ++i) {
        const char16_t c = name[i];
        const bool hyphen = i == 9 || i == 14 || i == 19 || i == 24;
        const bool hex = (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') ||
                         (c >= u'a' && c <= u'f');
        if (hyphen ? c != u'-' : !hex) return false;
    }
    return true;
}

bool IsStaleWorkFolder(std::uint64_t created, std::uint64_t written, std::uint64_t now) {
    const auto old = [now](std::uint64_t time) {
        return time <= now && now - time > kStaleWorkFolderAge;
    };
    return old(created) && old(written);
}

}  // namespace quarry
