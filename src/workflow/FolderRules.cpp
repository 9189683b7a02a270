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

}  // namespace quarry
