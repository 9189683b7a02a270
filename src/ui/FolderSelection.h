// The folder browser that lets the user pick the parent of the extract folder.
#pragma once

#include <string>

namespace quarry {

class CExtractorDialog;

// Shows the browser starting at `startFolder`; returns the chosen folder, or
// an empty string when the user cancelled.
std::u16string ShowFolderSelection(CExtractorDialog* dialog, const std::u16string& startFolder,
                                   const std::u16string& folderName,
                                   const std::u16string& productName);

}  // namespace quarry
