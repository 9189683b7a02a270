#include <cstdio>

#include "CheckRules.h"
#include "Names.h"
#include "common/Text.h"
#include "settings/SettingsRules.h"

namespace quarry::pack {

namespace {

std::string Hex32(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

bool IsPlaceholderStart(std::u16string_view text, std::size_t at) {
    static const std::u16string_view kStart = u"%QUARRYTOOL";
    return text.size() - at >= kStart.size() && EqualsNoCase(text.substr(at, kStart.size()), kStart);
}

void CheckPackageSection(const SettingsView& view, std::u16string_view section) {
    if (!view.Present(section, u"TotalFileSize")) return;
    const std::int64_t size = view.settings.TotalFileSize;
    const int at = view.LineOf(section, u"TotalFileSize");
    if (size < 0) {
        view.Add(Severity::Error, at, u"TotalFileSize", "negative");
    } else if (!view.inputs.totalFileSizeAdded &&
               static_cast<std::uint64_t>(size) < view.inputs.payloadBytes) {
        view.Add(Severity::Warning, at, u"TotalFileSize",
                 std::to_string(size) + " is less than the payload's " +
                     std::to_string(view.inputs.payloadBytes) +
                     " bytes: the free-space check asks for too little (leave the key out "
                     "and quarrypack fills it in)");
    }
}

void CheckMessageSection(const SettingsView& view, std::u16string_view section) {
    const PackageSettings& settings = view.settings;
    if (view.Present(section, u"DialogButtonType")) {
        const IniLine* line = view.profile.Find(section, u"DialogButtonType");
        const std::uint32_t type = ParseSettingsUnsigned(line->value);
        if (type > 1) {
            view.Add(Severity::Warning, line->number, u"DialogButtonType",
                     std::to_string(type) + " gives OK and Cancel like 0; only 1 gives OK alone");
        }
    }
    const bool shown = settings.ShowMessageBox || settings.ShowMessageBoxWhenSilent;
    const std::string& messageFile = view.inputs.messageFile;
    if (shown && messageFile.empty()) {
        const char16_t* key =
            settings.ShowMessageBox ? u"ShowMessageBox" : u"ShowMessageBoxWhenSilent";
        view.Add(Severity::Warning, view.LineOf(section, key), key,
                 "the package carries no MessageInfo.xml, so nothing is shown");
    }
    if (messageFile.empty()) return;
    if (!shown) {
        view.report.Add(Severity::Warning, messageFile, 0, u"",
                        "never shown: [Message] sets neither ShowMessageBox nor "
                        "ShowMessageBoxWhenSilent");
    }
    CheckMessageFile(view.inputs, view.report);
}

// OSVersionMin is major << 16 | minor; OSBuildMin build << 16 | service pack.
void CheckMinimumVersion(const SettingsView& view, std::u16string_view section) {
    const std::uint32_t version = view.settings.OSVersionMin;
    const int at = view.LineOf(section, u"OSVersionMin");
    const std::uint32_t major = version >> 16;
    const std::uint32_t minor = version & 0xFFFF;
    if (version != 0 && major == 0) {
        view.Add(Severity::Error, at, u"OSVersionMin",
                 Hex32(version) + " means Windows 0." + std::to_string(minor) +
                     ", which every Windows passes; the word is major << 16 | minor (Windows "
                     "10 is 0x000A0000, Windows 7 is 0x00060001)");
    } else if (version > 0x000A0000u) {
        view.Add(Severity::Error, at, u"OSVersionMin",
                 Hex32(version) + " means Windows " + std::to_string(major) + "." +
                     std::to_string(minor) +
                     ", which no Windows reports (Windows 11 is 10.0 from build 22000): "
                     "the package can never run");
    }
    if (!view.Present(section, u"OSBuildMin")) return;
    const std::uint32_t build = view.settings.OSBuildMin;
    if (build != 0 && (build >> 16) == 0) {
        char example[64];
        std::snprintf(example, sizeof example, "0x%04X0000", build & 0xFFFF);
        view.Add(Severity::Warning, view.LineOf(section, u"OSBuildMin"), u"OSBuildMin",
                 Hex32(build) + " means build 0 with service pack " + std::to_string(build) +
                     "; build " + std::to_string(build) + " is written " + example +
                     " (build << 16 | service pack)");
    }
}

// A key that means something only when another one is true.
void CheckUnused(const SettingsView& view, std::u16string_view section, bool switchedOn,
                 const char16_t* key, const char* switchKey) {
    if (switchedOn || !view.Present(section, key)) return;
    view.Add(Severity::Warning, view.LineOf(section, key), key,
             std::string("has no effect unless ") + switchKey + " is true");
}

void CheckRestrictionSection(const SettingsView& view, std::u16string_view section) {
    const PackageSettings& settings = view.settings;
    if (view.Present(section, u"OSBuildMin") && !view.Present(section, u"OSVersionMin")) {
        view.Add(Severity::Error, view.LineOf(section, u"OSBuildMin"), u"OSBuildMin",
                 "read only together with OSVersionMin, which is missing; the build is ignored");
    }
    if (view.Present(section, u"OSVersionMin")) CheckMinimumVersion(view, section);
    if (settings.CheckManufacturer && settings.ManufacturerName.empty()) {
        view.Add(Severity::Warning, view.LineOf(section, u"CheckManufacturer"),
                 u"CheckManufacturer",
                 "no ManufacturerName: only computers that report no manufacturer pass");
    }
    CheckUnused(view, section, settings.CheckManufacturer, u"ManufacturerName",
                "CheckManufacturer");
    CheckUnused(view, section, settings.CheckDigitalSignature, u"DigitalSignatureSignerName",
                "CheckDigitalSignature");
    if (!settings.CheckDigitalSignature) return;
    const int at = view.LineOf(section, u"CheckDigitalSignature");
    if (!view.inputs.programSigned.has_value()) {
        view.Add(Severity::Warning, at, u"CheckDigitalSignature",
                 "sign the packed program before it ships; unsigned it ends with 0x80040007");
    } else if (!*view.inputs.programSigned) {
        view.Add(Severity::Error, at, u"CheckDigitalSignature",
                 "the program file carries no signature: it will end with 0x80040007");
    }
}

void CheckExtractionSection(const SettingsView& view, std::u16string_view section) {
    const PackageSettings& settings = view.settings;
    for (const char16_t* key :
         {u"SelectExtractFolder", u"TargetParentFolderType", u"TargetFolderName"}) {
        CheckUnused(view, section, settings.SpecifiedExtractFolder, key, "SpecifiedExtractFolder");
    }
    if (view.Present(section, u"TargetParentFolderType") &&
        (settings.TargetParentFolderType < 0 || settings.TargetParentFolderType > 2)) {
        view.Add(Severity::Error, view.LineOf(section, u"TargetParentFolderType"),
                 u"TargetParentFolderType",
                 std::to_string(settings.TargetParentFolderType) +
                     " is none of 0 (the program's folder), 1 (the desktop) and 2 (Downloads); "
                     "the folder would go to the root of the current drive");
    }
    std::string reason;
    if (!settings.TargetFolderName.empty() &&
        !CheckRelativePath(settings.TargetFolderName, reason)) {
        view.Add(Severity::Error, view.LineOf(section, u"TargetFolderName"), u"TargetFolderName",
                 reason);
    }
}

const char16_t kExecutionX86[] = u"Execution_x86";
const char16_t kExecutionX64[] = u"Execution_x64";

const ExecutionSettings& RecordOf(const SettingsView& view, std::u16string_view section) {
    return EqualsNoCase(section, kExecutionX64) ? view.settings.Execution_x64
                                                : view.settings.Execution_x86;
}

void CheckFileName(const SettingsView& view, std::u16string_view section) {
    const std::u16string& fileName = RecordOf(view, section).FileName;
    const bool x64 = EqualsNoCase(section, kExecutionX64);
    if (fileName.empty()) {
        if (RecordOf(view, x64 ? kExecutionX86 : kExecutionX64).FileName.empty()) return;
        view.Add(Severity::Warning, view.SectionLine(section), u"FileName",
                 "[" + U8(section) + "] names no file: on " + (x64 ? "64-bit" : "32-bit") +
                     " Windows nothing is started (there is no fallback to [" +
                     U8(x64 ? kExecutionX86 : kExecutionX64) + "])");
        return;
    }
    const int at = view.LineOf(section, u"FileName");
    const std::size_t percent = fileName.find(u'%');
    std::string reason;
    if (percent != std::u16string::npos && IsPlaceholderStart(fileName, percent)) {
        view.Add(Severity::Error, at, u"FileName",
                 "placeholders are replaced in the arguments only, not in FileName");
    } else if (!CheckRelativePath(fileName, reason)) {
        view.Add(Severity::Error, at, u"FileName", reason);
    } else if (FoldedPaths(view.inputs.destinationFiles).count(FoldedPath(fileName)) == 0) {
        view.Add(Severity::Error, at, u"FileName",
                 "\"" + U8(fileName) + "\" [" + U8(section) +
                     "] is not in the payload or a flat or named group; nothing would "
                     "be started and the run would end with 0");
    }
}

// Placeholders that the program does not replace: any "%QUARRYTOOL...%"
// other than the two it knows, written in capitals.
void CheckPlaceholders(const SettingsView& view, const IniLine& line, const char16_t* key) {
    const std::u16string_view text = line.value;
    for (std::size_t at = text.find(u'%'); at != std::u16string_view::npos;
         at = text.find(u'%', at + 1)) {
        if (!IsPlaceholderStart(text, at)) continue;
        const std::size_t close = text.find(u'%', at + 1);
        const std::u16string_view token = text.substr(
            at, close == std::u16string_view::npos ? std::u16string_view::npos : close - at + 1);
        if (token != u"%QUARRYTOOLROOT%" && token != u"%QUARRYTOOLTEMP%") {
            view.Add(Severity::Error, line.number, key,
                     "\"" + U8(token) + "\" is left as it is: the placeholders are "
                     "%QUARRYTOOLROOT% and %QUARRYTOOLTEMP%, in capitals");
        }
        if (close == std::u16string_view::npos) break;
        at = close;
    }
}

void CheckExecutionSection(const SettingsView& view, std::u16string_view section) {
    CheckFileName(view, section);
    for (const char16_t* key :
         {u"Options", u"AdditionalOptionsForGuiMode", u"AdditionalOptionsForSilentMode"}) {
        if (const IniLine* line = view.profile.Find(section, key)) CheckPlaceholders(view, *line, key);
    }
    if (view.Present(section, u"WaitMode")) {
        const IniLine* line = view.profile.Find(section, u"WaitMode");
        if ((ParseSettingsUnsigned(line->value) & ~3u) != 0) {
            view.Add(Severity::Warning, line->number, u"WaitMode",
                     "only bits 0 (1: wait for the program and its processes) and 1 (2: "
                     "wait for the files to be released) mean anything; the rest are ignored");
        }
    }
    if (view.Present(section, u"WaitTimeout") && !RecordOf(view, section).waitTimed) {
        view.Add(Severity::Warning, view.LineOf(section, u"WaitTimeout"), u"WaitTimeout",
                 "has no effect unless WaitMode has bit 0 set (WaitMode=1 or 3)");
    }
}

// Whichever record the computer picks, one of them should start something.
void CheckSomethingStarts(const SettingsView& view) {
    if (!view.settings.Execution_x86.FileName.empty() ||
        !view.settings.Execution_x64.FileName.empty()) {
        return;
    }
    view.Add(Severity::Warning, 0, u"FileName",
             "neither [Execution_x86] nor [Execution_x64] names a file: the package is "
             "extracted and nothing is started");
}

using SectionRule = void (*)(const SettingsView& view, std::u16string_view section);

struct SectionRules {
    std::u16string_view section;
    SectionRule rule;
};

const SectionRules kSectionRules[] = {
    {u"Package", &CheckPackageSection},
    {u"Message", &CheckMessageSection},
    {u"Restriction", &CheckRestrictionSection},
    {u"Extraction", &CheckExtractionSection},
    {kExecutionX86, &CheckExecutionSection},
    {kExecutionX64, &CheckExecutionSection},
};

}  // namespace

void CheckSectionRules(const SettingsView& view) {
    std::size_t count = 0;
    const SettingsKey* table = SettingsKeyTable(count);
    std::u16string_view previous;
    for (std::size_t i = 0; i < count; ++i) {
        if (table[i].section == previous) continue;
        previous = table[i].section;
        for (const SectionRules& rules : kSectionRules) {
            if (rules.section == previous) rules.rule(view, previous);
        }
    }
    CheckSomethingStarts(view);
}

}  // namespace quarry::pack
