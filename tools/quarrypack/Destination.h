// What a package puts below its destination folder, as "\"-separated
// paths: the files of the flat and named groups and the folders that the
// payload's paths and the named groups make.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "package/PackageFormat.h"

namespace quarry::pack {

// "a\\b\" -> "a\b": the folder a group name stands for, for comparisons.
std::u16string NormalizedFolder(std::u16string_view name);

// The path below the destination folder at which the flat or named group
// puts an entry: "name" or "group\name" (the group's folder normalised).
std::u16string GroupEntryPath(std::u16string_view groupName, std::u16string_view entryName);

// Files that the flat and named groups put below the destination folder.
void AddGroupFiles(const PackageGroup& group, std::vector<std::u16string>& files);

// Every folder above a "\"-separated path: "a", "a\b" for "a\b\c".
std::vector<std::u16string> ParentFolders(std::u16string_view path);

}  // namespace quarry::pack
