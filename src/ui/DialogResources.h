// The resource ids of the progress dialog: its templates, controls, icon and
// texts, as src/resources names them.
#pragma once

#include <windows.h>

namespace quarry {

// Resource ids of the dialog, its controls and its icon.
enum DialogResource : WORD {
    kDialogTemplateVista = 105,
    kDialogTemplateXp = 106,
    kIconProgram = 100,
    kControlCancel = IDCANCEL,  // 2: the Cancel/Close button
    kControlProgress = 1010,
    kControlStatus = 1011,
};

// String ids of the dialog texts.
enum DialogString : UINT {
    kStringProductDefault = 128,
    kStringFontVista = 129,
    kStringFontXp = 130,
    kStringCancel = 144,
    kStringClose = 145,
    kStringCompleted = 148,
    kStringCancelled = 149,
    kStringFailed = 150,
    kStringExtracting = 152,
    kStringExecuting = 153,
    kStringCleaningUp = 154,
    kStringSelectFolder = 160,
};

}  // namespace quarry
