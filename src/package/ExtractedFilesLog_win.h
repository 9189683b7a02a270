#pragma once

#include <string>

#include "package/ExtractedFilesLog.h"

namespace quarry {

// Compares the files below `currentFolder` (all depths, hidden and system
// files included, empty folders ignored) with `expected`, taking each file
// found by its path relative to `rootFolder`. The outer call passes the same
// folder twice; it alone lists the records never found as deleted. False on
// any difference, and when an enumeration ends with an error; a folder that
// cannot be enumerated at all contributes nothing.
bool CompareFolderTree(const std::u16string& rootFolder, const std::u16string& currentFolder,
                       ExpectedFiles& expected, TreeDifferences& differences);

}  // namespace quarry
