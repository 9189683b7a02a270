#include "settings/SettingsKeys.h"

#include "common/Text.h"

namespace quarry {

namespace {

using K = SettingsValueKind;

#define QUARRY_EXECUTION_KEYS(section)                                   \
    {section, u"ForceElevation", K::Bool}, {section, u"FileName", K::String}, \
        {section, u"Options", K::String},                                \
        {section, u"AdditionalOptionsForGuiMode", K::String},            \
        {section, u"AdditionalOptionsForSilentMode", K::String},         \
        {section, u"WaitMode", K::Unsigned}, {section, u"WaitTimeout", K::Unsigned}

const SettingsKey kTable[] = {
    {u"Package", u"ProductName", K::String},
    {u"Package", u"WindowTitle", K::String},
    {u"Package", u"TotalFileSize", K::Int64},
    {u"Package", u"AutoCloseWindowWhenSuccess", K::Bool},
    {u"Package", u"TervoUpdateMode", K::Bool},
    {u"Package", u"PackageDateTime", K::Unread},
    {u"Package", u"Compression", K::Unread},
    {u"Message", u"ShowMessageBox", K::Bool},
    {u"Message", u"ShowMessageBoxWhenSilent", K::Bool},
    {u"Message", u"DialogButtonType", K::Unsigned},
    {u"Restriction", u"CheckManufacturer", K::Bool},
    {u"Restriction", u"ManufacturerName", K::String},
    {u"Restriction", u"OSVersionMin", K::Unsigned},
    {u"Restriction", u"OSBuildMin", K::Unsigned},
    {u"Restriction", u"AllowProgramCompatibilityAssistantMode", K::Bool},
    {u"Restriction", u"CheckDigitalSignature", K::Bool},
    {u"Restriction", u"DigitalSignatureSignerName", K::String},
    {u"Extraction", u"SpecifiedExtractFolder", K::Bool},
    {u"Extraction", u"SelectExtractFolder", K::Bool},
    {u"Extraction", u"OpenExtractFolder", K::Bool},
    {u"Extraction", u"TargetParentFolderType", K::Signed},
    {u"Extraction", u"TargetFolderName", K::String},
    {u"Extraction", u"WritableItems", K::List},
    QUARRY_EXECUTION_KEYS(u"Execution_x86"),
    QUARRY_EXECUTION_KEYS(u"Execution_x64"),
};

#undef QUARRY_EXECUTION_KEYS

}  // namespace

const SettingsKey* SettingsKeyTable(std::size_t& count) {
    count = sizeof kTable / sizeof kTable[0];
    return kTable;
}

const SettingsKey* FindSettingsKey(std::u16string_view section, std::u16string_view key) {
    for (const SettingsKey& entry : kTable) {
        if (EqualsNoCase(entry.section, section) && EqualsNoCase(entry.key, key)) return &entry;
    }
    return nullptr;
}

bool IsSettingsSection(std::u16string_view section) {
    for (const SettingsKey& entry : kTable) {
        if (EqualsNoCase(entry.section, section)) return true;
    }
    return false;
}

}  // namespace quarry
