#include "package/AccessControl.h"

namespace quarry {

// Pass-throughs: the access-control rules are not part of this build yet, so
// the extracted tree keeps the permissions it inherits from its folder.

bool SetTreeAccess(const std::u16string& /*path*/, bool /*unlock*/) { return true; }

void CreateWritableItems(const std::u16string& /*destinationFolder*/,
                         const std::vector<std::u16string>& /*writableItems*/,
                         std::vector<ExtractedFileRecord>& /*destinationFiles*/) {}

void UnlockWritableItems(const std::u16string& /*destinationFolder*/,
                         const std::vector<std::u16string>& /*writableItems*/) {}

}  // namespace quarry
