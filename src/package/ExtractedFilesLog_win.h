#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/Result.h"
#include "common/Unique.h"
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

// A check of an extracted tree: the folder and the records of what was
// written there, and the extracted-files log with the program file it is
// about.
struct TreeCheck {
    std::u16string folder;
    const std::vector<ExtractedFileRecord>& written;
    std::u16string logPath;  // empty: no log
    std::u16string programPath;
    std::uint64_t programSize = 0;
};

// Compares the tree below `check.folder` with what was written there; on a
// difference appends the log's block for it (its header first when the log
// is new). 0, or the difference code of ExtractedFilesLog.h.
HResult VerifyExtractedTree(const TreeCheck& check);

// Holds the file `relativePath` below `check.folder`, and the folders above
// it, in `held`, and checks its content against what was written: its size
// and its SHA-256 (the record must be fingerprinted). 0 with the handles in
// `held`; otherwise the difference code, a block in the log as
// VerifyExtractedTree writes it, and nothing held.
HResult HoldLaunchFile(const TreeCheck& check, const std::u16string& relativePath,
                       std::vector<UniqueFile>& held);

}  // namespace quarry
