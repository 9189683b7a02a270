// The progress dialog's template with the language's dialog font, ready for
// DialogBoxIndirectParamW.
#pragma once

#include <windows.h>

#include <string>

#include "restrictions/WindowsVersion.h"

namespace quarry {

// `name` when a font family of that name is installed: EnumFontFamiliesExW
// on a memory device context with the name and character set 0 finds it.
// Otherwise "Segoe UI" when `vistaOrLater`, else "MS Shell Dlg".
std::u16string ChooseDialogFont(const std::u16string& name, bool vistaOrLater);

// A fixed, zero-filled global block (GMEM_FIXED | GMEM_ZEROINIT) holding a
// copy of RT_DIALOG template `templateId` of the program's module, in the
// language the loader picks, whose font is the language's dialog font:
// string 129 on Windows Vista and later, else string 130, through
// ChooseDialogFont (see CopyDialogTemplateWithFont for what changes). The
// block is exactly as large as the copy. Null when the font string is empty,
// or the template cannot be found, loaded or copied, or storage runs out.
// The caller frees the block with GlobalFree.
HGLOBAL BuildDialogTemplateBlock(WORD templateId);
// The same, with the version test's functions given (a test can pose as
// Windows XP).
HGLOBAL BuildDialogTemplateBlock(WORD templateId, const VersionFunctions& versionFunctions);

}  // namespace quarry
