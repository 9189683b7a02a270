#include "settings/PackageSettings.h"

#include <optional>
#include <utility>

#include "settings/SettingsRules.h"

namespace quarry {

namespace {

const std::u16string kSectionPackage = u"Package";
const std::u16string kSectionMessage = u"Message";
const std::u16string kSectionRestriction = u"Restriction";
const std::u16string kSectionExtraction = u"Extraction";
const std::u16string kSectionExecutionX86 = u"Execution_x86";
const std::u16string kSectionExecutionX64 = u"Execution_x64";

constexpr std::uint32_t kDefaultOsVersionMin = 0x00050000;  // Windows 5.0
constexpr std::uint32_t kDefaultWaitTimeout = 1500;         // seconds
constexpr std::uint32_t kWaitModeTimed = 0x1;
constexpr std::uint32_t kWaitModeForRelease = 0x2;

// One key through the raw-read rule: nullopt when the key is absent, empty,
// or reads as the "Error" default.
std::optional<std::u16string> ReadValue(ProfileSource& source, const std::u16string& section,
                                        const char16_t* key) {
    return PresentSettingsValue(
        source.Read(section, key, kSettingsAbsentText, kSettingsValueCapacity));
}

// Each Read* resets the field to its default and then takes the value when
// it is present.
void ReadString(ProfileSource& source, const std::u16string& section, const char16_t* key,
                std::u16string& field) {
    field.clear();
    if (std::optional<std::u16string> value = ReadValue(source, section, key))
        field = std::move(*value);
}

void ReadBool(ProfileSource& source, const std::u16string& section, const char16_t* key,
              bool& field, bool defaultValue = false) {
    field = defaultValue;
    if (const std::optional<std::u16string> value = ReadValue(source, section, key))
        field = ParseSettingsBool(*value);
}

void ReadUnsigned(ProfileSource& source, const std::u16string& section, const char16_t* key,
                  std::uint32_t& field, std::uint32_t defaultValue) {
    field = defaultValue;
    if (const std::optional<std::u16string> value = ReadValue(source, section, key))
        field = ParseSettingsUnsigned(*value);
}

}  // namespace

void ExecutionSettings::LoadFrom(ProfileSource& source, const std::u16string& section) {
    ReadBool(source, section, u"ForceElevation", ForceElevation);
    ReadString(source, section, u"FileName", FileName);
    ReadString(source, section, u"Options", Options);
    ReadString(source, section, u"AdditionalOptionsForGuiMode", AdditionalOptionsForGuiMode);
    ReadString(source, section, u"AdditionalOptionsForSilentMode",
               AdditionalOptionsForSilentMode);

    // Only bits 0 and 1 of WaitMode mean anything; the rest are ignored.
    std::uint32_t waitMode = 0;
    ReadUnsigned(source, section, u"WaitMode", waitMode, 0);
    waitTimed = (waitMode & kWaitModeTimed) != 0;
    waitForRelease = (waitMode & kWaitModeForRelease) != 0;

    ReadUnsigned(source, section, u"WaitTimeout", WaitTimeout, kDefaultWaitTimeout);
}

void PackageSettings::LoadFrom(ProfileSource& source) {
    ReadString(source, kSectionPackage, u"ProductName", ProductName);
    ReadString(source, kSectionPackage, u"WindowTitle", WindowTitle);
    TotalFileSize = 0;
    if (const std::optional<std::u16string> value =
            ReadValue(source, kSectionPackage, u"TotalFileSize"))
        TotalFileSize = ParseSettingsInt64(*value);
    ReadBool(source, kSectionPackage, u"AutoCloseWindowWhenSuccess", AutoCloseWindowWhenSuccess);
    ReadBool(source, kSectionPackage, u"TervoUpdateMode", TervoUpdateMode);

    ReadBool(source, kSectionMessage, u"ShowMessageBox", ShowMessageBox);
    ReadBool(source, kSectionMessage, u"ShowMessageBoxWhenSilent", ShowMessageBoxWhenSilent);
    // A number, of which only 1 selects the other button set: "0x1" counts,
    // "true" does not.
    DialogButtonType = false;
    if (const std::optional<std::u16string> value =
            ReadValue(source, kSectionMessage, u"DialogButtonType"))
        DialogButtonType = ParseSettingsUnsigned(*value) == 1;

    ReadBool(source, kSectionRestriction, u"CheckManufacturer", CheckManufacturer);
    ReadString(source, kSectionRestriction, u"ManufacturerName", ManufacturerName);
    // The build minimum belongs to the version minimum: without a version
    // the build is ignored, and a version without a build means build 0.
    OSVersionMin = kDefaultOsVersionMin;
    OSBuildMin = 0;
    const std::optional<std::u16string> osVersion =
        ReadValue(source, kSectionRestriction, u"OSVersionMin");
    const std::optional<std::u16string> osBuild =
        ReadValue(source, kSectionRestriction, u"OSBuildMin");
    if (osVersion) {
        OSVersionMin = ParseSettingsUnsigned(*osVersion);
        OSBuildMin = osBuild ? ParseSettingsUnsigned(*osBuild) : 0;
    }
    ReadBool(source, kSectionRestriction, u"AllowProgramCompatibilityAssistantMode",
             AllowProgramCompatibilityAssistantMode);
    ReadBool(source, kSectionRestriction, u"CheckDigitalSignature", CheckDigitalSignature);
    ReadString(source, kSectionRestriction, u"DigitalSignatureSignerName",
               DigitalSignatureSignerName);

    ReadBool(source, kSectionExtraction, u"SpecifiedExtractFolder", SpecifiedExtractFolder);
    ReadBool(source, kSectionExtraction, u"SelectExtractFolder", SelectExtractFolder);
    ReadBool(source, kSectionExtraction, u"OpenExtractFolder", OpenExtractFolder, true);
    TargetParentFolderType = 0;
    if (const std::optional<std::u16string> value =
            ReadValue(source, kSectionExtraction, u"TargetParentFolderType"))
        TargetParentFolderType = ParseSettingsSigned(*value);
    ReadString(source, kSectionExtraction, u"TargetFolderName", TargetFolderName);
    // Appended, not replaced: the list is never reset by a load.
    if (const std::optional<std::u16string> value =
            ReadValue(source, kSectionExtraction, u"WritableItems")) {
        for (std::u16string& item : SplitWritableItems(*value))
            WritableItems.push_back(std::move(item));
    }

    Execution_x86.LoadFrom(source, kSectionExecutionX86);
    Execution_x64.LoadFrom(source, kSectionExecutionX64);
}

const ExecutionSettings& ChooseExecutionSettings(const PackageSettings& settings,
                                                 std::uint32_t nativeProcessorType) {
    return UsesX64ExecutionSection(nativeProcessorType) ? settings.Execution_x64
                                                        : settings.Execution_x86;
}

}  // namespace quarry
