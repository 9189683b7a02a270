// Access control on the extracted tree: lock it against writing, then give
// write access back to the package's writable items.
#pragma once

#include <string>
#include <vector>

#include "package/PackageFormat.h"

namespace quarry {

// Locks (unlock false) or unlocks (unlock true) the tree at `path`.
bool SetTreeAccess(const std::u16string& path, bool unlock);

// Makes sure every writable item exists below `destinationFolder`; the files
// it creates are added to `destinationFiles`.
void CreateWritableItems(const std::u16string& destinationFolder,
                         const std::vector<std::u16string>& writableItems,
                         std::vector<ExtractedFileRecord>& destinationFiles);

// Gives write access back to every writable item that exists.
void UnlockWritableItems(const std::u16string& destinationFolder,
                         const std::vector<std::u16string>& writableItems);

}  // namespace quarry
