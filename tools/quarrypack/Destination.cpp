#include "Destination.h"

#include "package/PackageLayout.h"

namespace quarry::pack {

std::u16string NormalizedFolder(std::u16string_view name) {
    std::u16string out;
    for (char16_t c : name) {
        if (c == u'\\' && (out.empty() || out.back() == u'\\')) continue;
        out.push_back(c);
    }
    while (!out.empty() && out.back() == u'\\') out.pop_back();
    return out;
}

std::u16string GroupEntryPath(std::u16string_view groupName, std::u16string_view entryName) {
    const std::u16string prefix = GroupDestinationPrefix(groupName);
    std::u16string path = prefix.empty() ? prefix : NormalizedFolder(prefix) + u"\\";
    return path + std::u16string(entryName);
}

void AddGroupFiles(const PackageGroup& group, std::vector<std::u16string>& files) {
    if (ClassifyGroup(group.name) == GroupKind::Main) return;
    for (const PackageEntry& entry : group.entries) files.push_back(GroupEntryPath(group.name, entry.name));
}

std::vector<std::u16string> ParentFolders(std::u16string_view path) {
    std::vector<std::u16string> folders;
    for (std::size_t slash = path.find(u'\\'); slash != std::u16string_view::npos;
         slash = path.find(u'\\', slash + 1)) {
        folders.emplace_back(path.substr(0, slash));
    }
    return folders;
}

}  // namespace quarry::pack
