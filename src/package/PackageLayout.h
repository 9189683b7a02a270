// Where the runner puts a package's groups and which entries of the main
// group it takes for a role: the rules that the program's extraction and the
// packager (create, list, extract, check) share. Pure code over the parsed
// directory (PackageFormat.h).
#pragma once

#include <string>
#include <string_view>

#include "package/PackageFormat.h"

namespace quarry {

// The main group (its entries go to the support folder), the flat group
// (straight into the destination folder) and every other group (into the
// subfolder of the destination that its name gives). Names are compared
// without regard to case.
enum class GroupKind { Main, Flat, Other };
GroupKind ClassifyGroup(std::u16string_view name);

// The path, relative to the destination folder, under which a group's
// entries are written: empty for the main and the flat group, the group's
// name followed by "\" for any other. The name is taken as it stands (the
// directory reader has already refused unsafe names).
std::u16string GroupDestinationPrefix(std::u16string_view groupName);

// The first entry named `name` (without regard to case) of the main
// group(s), in directory order, or null: the runner loads the first
// "Settings.ini" and counts a package with a cabinet entry there as having
// a payload. The pointer is valid as long as `directory` is unchanged.
const PackageEntry* FindMainEntry(const PackageDirectory& directory, std::u16string_view name);

// The entry of a main group that the runner expands as its payload: the
// group's first entry named kCabinetEntryName (without regard to case), or
// null for a group of another kind or without one. A later entry of that
// name is written out like any other file of the group.
const PackageEntry* GroupPayloadCabinet(const PackageGroup& group);

}  // namespace quarry
