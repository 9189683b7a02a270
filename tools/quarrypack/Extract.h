// quarrypack extract: a package written out the way the runner writes it.
#pragma once

#include <string>

#include "Status.h"

namespace quarry::pack {

// Writes every entry below `folder` as the runner does: main group to
// Support/, flat group to Package/, named groups to Package/<name>/; the
// cabinet is unscrambled, expanded into Package/ and its copy deleted.
// Every file is created new and no symbolic link is followed below `folder`
// (nor `folder` itself when it is one): a name that exists already, a
// folder that is a link or a file that would replace one fails the command.
// Folders that exist as real folders are used.
Status ExtractPackage(const std::string& path, const std::string& folder);

}  // namespace quarry::pack
