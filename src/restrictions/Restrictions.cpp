#include "restrictions/Restrictions.h"

#include "restrictions/RestrictionRules.h"
#include "restrictions/Signature.h"

namespace quarry {

namespace {

constexpr std::uint32_t kWindowsVista = 0x00060000;

// Asks with `code`: with askAfterRestrictionFailure the dialog shows it as a
// question and a Yes goes on (0); no dialog or any other answer reports the
// failure as shown. Without asking the code ends the phase and the workflow
// reports it. A cancel during the question ends the phase as a cancel.
HResult AskWith(const RestrictionCheck& check, HResult code, std::intptr_t argument, bool always,
                bool& errorReported) {
    if (!check.askAfterFailure && !always) return code;
    const DialogAnswer answer = check.ask ? check.ask(code, argument) : DialogAnswer::Decline;
    if (answer == DialogAnswer::Proceed) return kResultOk;
    if (answer == DialogAnswer::Cancelled) return kResultAbort;
    errorReported = true;
    return code;
}

}  // namespace

bool VerifyProgramSignature(const std::u16string& path, const std::u16string& signerName) {
    return signerName.empty() ? VerifyFileSignature(path)
                              : VerifySignatureAndSigner(path, signerName);
}

HResult CheckRestrictions(const RestrictionCheck& check, bool& errorReported) {
    const PackageSettings& settings = check.settings;
    const RestrictionFunctions& functions = check.functions;
    const std::u16string& programPath = check.programPath;
    const std::uint32_t trueVersion = check.version.trueVersion;
    const std::uint32_t trueBuild = check.version.trueBuild;

    if (settings.CheckDigitalSignature &&
        !functions.verifySignature(programPath, settings.DigitalSignatureSignerName)) {
        RETURN_IF_FAILED(AskWith(check, kResultSignatureInvalid, 0, false, errorReported));
    }

    if (settings.CheckManufacturer) {
        const HResult query = QueryComputerSystem(check.cancelEvent, functions.computerSystemWait,
                                                  functions.readComputerSystem);
        // A cancel while waiting for WMI is the user's, not a mismatch.
        if (query == kResultAbort) return kResultAbort;
        const std::u16string manufacturer =
            query == kResultOk ? CachedManufacturer() : std::u16string();
        const HResult code = CompareManufacturer(manufacturer, settings.ManufacturerName);
        if (Failed(code)) RETURN_IF_FAILED(AskWith(check, code, 0, false, errorReported));
    }

    if (IsWindowsTooOld(trueVersion, trueBuild, settings.OSVersionMin, settings.OSBuildMin)) {
        // Reported whether or not failures are asked about: the dialog
        // names both versions.
        VersionRecord record = {settings.OSBuildMin, settings.OSVersionMin, trueBuild,
                                trueVersion};
        RETURN_IF_FAILED(AskWith(check, kResultWindowsTooOld, reinterpret_cast<std::intptr_t>(&record),
                                 true, errorReported));
    }

    if (!settings.AllowProgramCompatibilityAssistantMode &&
        IsCompatibilityModeActive(trueVersion, trueBuild, check.version.reportedVersion,
                                  check.version.reportedBuild)) {
        HResult code = kResultCompatibilityMode;
        // Before Windows Vista the entries are not ours to remove.
        if (trueVersion >= kWindowsVista &&
            IsCompatibilityEntryPresent(programPath, functions.compatibility)) {
            RemoveCompatibilityEntries(programPath, functions.compatibility);
            code = IsCompatibilityEntryPresent(programPath, functions.compatibility)
                       ? kResultCompatibilityMode
                       : kResultCompatibilityModeRemoved;
        }
        RETURN_IF_FAILED(AskWith(check, code, 0, false, errorReported));
    }
    return kResultOk;
}

}  // namespace quarry
