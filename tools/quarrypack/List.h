// quarrypack list: a package's header, groups, entries and payload files.
#pragma once

#include <ostream>
#include <string>

#include "Status.h"

namespace quarry::pack {

// Prints the header, whether the file carries a signature, every group
// with its entries, and the files inside the payload cabinet. Names are
// printed with their control characters escaped (Printable).
Status ListPackage(const std::string& path, std::ostream& out);

}  // namespace quarry::pack
