#include "ui/FolderSelection.h"

namespace quarry {

// Pass-through: the browser is not part of this build yet; the proposed
// parent folder is taken as if the user had confirmed it.
std::u16string ShowFolderSelection(CExtractorDialog* /*dialog*/, const std::u16string& startFolder,
                                   const std::u16string& /*folderName*/,
                                   const std::u16string& /*productName*/) {
    return startFolder;
}

}  // namespace quarry
