#include "package/PackageLayout.h"

#include "common/Text.h"

namespace quarry {

GroupKind ClassifyGroup(std::u16string_view name) {
    if (EqualsNoCase(name, kMainGroupName)) return GroupKind::Main;
    if (EqualsNoCase(name, kFlatGroupName)) return GroupKind::Flat;
    return GroupKind::Other;
}

std::u16string GroupDestinationPrefix(std::u16string_view groupName) {
    if (ClassifyGroup(groupName) != GroupKind::Other) return std::u16string();
    return std::u16string(groupName) + u"\\";
}

const PackageEntry* FindMainEntry(const PackageDirectory& directory, std::u16string_view name) {
    for (const PackageGroup& group : directory.groups) {
        if (ClassifyGroup(group.name) != GroupKind::Main) continue;
        for (const PackageEntry& entry : group.entries) {
            if (EqualsNoCase(entry.name, name)) return &entry;
        }
    }
    return nullptr;
}

const PackageEntry* GroupPayloadCabinet(const PackageGroup& group) {
    if (ClassifyGroup(group.name) != GroupKind::Main) return nullptr;
    for (const PackageEntry& entry : group.entries) {
        if (EqualsNoCase(entry.name, kCabinetEntryName)) return &entry;
    }
    return nullptr;
}

}  // namespace quarry
