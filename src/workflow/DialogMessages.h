// The private window messages from the extraction worker to the progress
// dialog. "Call" messages go through ExtractionJob::CallDialog and wait for
// the dialog's answer; "sent" ones wait until the dialog has handled them;
// the rest are posted.
#pragma once

#include <windows.h>

#include <string>

namespace quarry {

enum DialogMessage : UINT {
    // call; wParam: result code; lParam: argument (text or version record)
    // or 0. The answer 6 (IDYES) means go on.
    kMsgReportError = 0x8101,
    // call; lParam: PreExecutionMessageRecord*. The answer 1 means go on.
    kMsgShowMessageFile = 0x8102,
    // call; lParam: FolderChoiceRecord*. The answer 1 means a folder was
    // chosen, and the record holds it.
    kMsgChooseFolder = 0x8103,
    kMsgPackageOpened = 0x8111,       // posted: settings loaded
    kMsgExtractionBegins = 0x8112,    // posted: restrictions passed, destination ready
    kMsgExtractionDone = 0x8113,      // posted; wParam: result of the extraction phase
    kMsgLeavingExtraction = 0x8114,   // sent; wParam: result of the extraction phase
    kMsgExtractFolderOpened = 0x8115, // posted
    kMsgLaunching = 0x8116,           // posted: the configured file is about to start
    kMsgLaunchEnded = 0x8117,         // posted; wParam: result of launch and wait
    kMsgCleanupBegins = 0x8118,       // posted; wParam: final result
    kMsgWorkerDone = 0x8119,          // posted; wParam: final result
};

// The argument of kMsgShowMessageFile.
struct PreExecutionMessageRecord {
    BYTE okOnly;  // 1 when DialogButtonType is 1: an OK button alone
    const wchar_t* supportFolder;
};

// The argument of kMsgChooseFolder: the folder browser's start, the
// extract folder's name and the product, for its prompt; the dialog fills
// in `chosen`.
struct FolderChoiceRecord {
    const wchar_t* startFolder;
    const wchar_t* folderName;
    const wchar_t* productName;
    std::u16string chosen;
};

constexpr INT_PTR kAnswerYes = IDYES;  // 6

}  // namespace quarry
