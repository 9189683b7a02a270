// Removing the run's folders and walking the files below a folder.
#pragma once

#include <functional>
#include <string>

#include "common/LinkSafe.h"

namespace quarry {

// Deletes everything below `folder`, depth first, then the folder itself.
// A file that refuses deletion because it is read-only loses that attribute
// (its other attributes are kept) and is tried once more. What cannot be
// deleted (a file in use, say) stays, and so do the folders above it; there
// are no retries and no delays. Nothing is followed: each entry is opened
// without following a reparse point, judged by its own attributes and
// deleted through that handle, and each folder is held open (shared for
// reading and writing only) while it is emptied. A link (junction or
// symbolic link, to a file or a folder) is removed as a link, never walked;
// where the platform cannot open a link without following it (Wine), the
// link stays, and so do the folders above it. True when the folder itself
// was removed.
bool DeleteTree(const std::u16string& folder);
// DeleteTree with the given functions; null ones are those Windows XP lacks.
bool DeleteTree(const std::u16string& folder, const LinkSafeFunctions& functions);

// The predicate of WalkFiles: a file's full path and the walk's running
// result; returns false to make that result false.
using FileVisitor = std::function<bool(const std::u16string& path, bool runningResult)>;

// Calls `predicate` for every file below `folder`, at all depths, in the
// order the file system lists them. The running result starts true and
// becomes false for good as soon as the predicate returns false; every file
// is still visited, and later calls see false, in whatever folder they
// are. Links are neither entered nor visited, and each folder is held
// open while it is listed. Returns the running result (true for
// a missing or empty folder).
bool WalkFiles(const std::u16string& folder, const FileVisitor& predicate);

}  // namespace quarry
