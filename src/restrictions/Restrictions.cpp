#include "restrictions/Restrictions.h"

#include "restrictions/RestrictionRules.h"
#include "restrictions/Signature.h"
#include "ui/ErrorReportRules.h"
#include "workflow/DialogMessages.h"
#include "workflow/ExtractionJob.h"

namespace quarry {

namespace {

constexpr std::uint32_t kWindowsVista = 0x00060000;

// Asks with `code`: with askAfterRestrictionFailure the dialog shows it as a
// question and a Yes goes on (0); no dialog or any other answer reports the
// failure as shown. Without asking the code ends the phase and the workflow
// reports it. A cancel during the question ends the phase as a cancel.
HResult AskWith(ExtractionJob& job, HResult code, LPARAM argument, bool always,
                bool& errorReported) {
    if (!job.askAfterRestrictionFailure && !always) return code;
    const INT_PTR answer = job.ReportError(code, argument);
    if (answer == kAnswerYes) return kResultOk;
    if (answer == kResultAbort) return kResultAbort;
    errorReported = true;
    return code;
}

}  // namespace

bool VerifyProgramSignature(const std::u16string& path, const std::u16string& signerName) {
    return signerName.empty() ? VerifyFileSignature(path)
                              : VerifySignatureAndSigner(path, signerName);
}

HResult ExtractionJob::CheckRestrictions(bool& errorReported) {
    const PackageSettings& settings = package.settings;
    const RestrictionFunctions& functions = restrictionFunctions;

    if (settings.CheckDigitalSignature &&
        !functions.verifySignature(programPath, settings.DigitalSignatureSignerName)) {
        RETURN_IF_FAILED(AskWith(*this, kResultSignatureInvalid, 0, false, errorReported));
    }

    if (settings.CheckManufacturer) {
        const HResult query = QueryComputerSystem(cancelEvent.Get(), functions.computerSystemWait,
                                                  functions.readComputerSystem);
        // A cancel while waiting for WMI is the user's, not a mismatch.
        if (query == kResultAbort) return kResultAbort;
        const std::u16string manufacturer =
            query == kResultOk ? CachedManufacturer() : std::u16string();
        const HResult code = CompareManufacturer(manufacturer, settings.ManufacturerName);
        if (Failed(code)) RETURN_IF_FAILED(AskWith(*this, code, 0, false, errorReported));
    }

    if (IsWindowsTooOld(trueVersion, trueBuild, settings.OSVersionMin, settings.OSBuildMin)) {
        // Reported whether or not failures are asked about: the dialog
        // names both versions.
        VersionRecord record = {settings.OSBuildMin, settings.OSVersionMin, trueBuild,
                                trueVersion};
        RETURN_IF_FAILED(AskWith(*this, kResultWindowsTooOld, reinterpret_cast<LPARAM>(&record),
                                 true, errorReported));
    }

    if (!settings.AllowProgramCompatibilityAssistantMode &&
        IsCompatibilityModeActive(trueVersion, trueBuild, reportedVersion, reportedBuild)) {
        HResult code = kResultCompatibilityMode;
        // Before Windows Vista the entries are not ours to remove.
        if (trueVersion >= kWindowsVista &&
            IsCompatibilityEntryPresent(programPath, functions.compatibility)) {
            RemoveCompatibilityEntries(programPath, functions.compatibility);
            code = IsCompatibilityEntryPresent(programPath, functions.compatibility)
                       ? kResultCompatibilityMode
                       : kResultCompatibilityModeRemoved;
        }
        RETURN_IF_FAILED(AskWith(*this, code, 0, false, errorReported));
    }
    return kResultOk;
}

}  // namespace quarry
