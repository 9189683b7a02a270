// The "ProductName" of a program file's version resource, the caption of the
// start-up message boxes.
#pragma once

#include <string>

namespace quarry {

// The first non-empty "ProductName" over the file's translations, in the
// order of "\VarFileInfo\Translation"; empty without a version resource or
// a translation list.
std::u16string ReadVersionProductName(const std::u16string& programPath);

}  // namespace quarry
