// The package's "Settings.ini", loaded once per run and read-only afterwards.
//
// The load logic is pure and reads through a ProfileSource; under Windows
// the source is the platform's profile reader (GetPrivateProfileStringW) over
// the copied settings file, in tests any table of values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/Result.h"

namespace quarry {

// Raw access to one INI value, as the platform's profile reader gives it.
class ProfileSource {
public:
    virtual ~ProfileSource() = default;
    // Returns the value of (section, key) with the reader's own rules, or the
    // default text when the key is absent, cut to `capacity` - 1 characters.
    virtual std::u16string Read(const std::u16string& section, const std::u16string& key,
                                const std::u16string& defaultText, std::size_t capacity) = 0;
};

struct ExecutionSettings {
    bool ForceElevation = false;
    std::u16string FileName;
    std::u16string Options;
    std::u16string AdditionalOptionsForGuiMode;
    std::u16string AdditionalOptionsForSilentMode;
    bool waitTimed = false;       // WaitMode bit 0
    bool waitForRelease = false;  // WaitMode bit 1
    std::uint32_t WaitTimeout = 1500;  // seconds

    // Resets every field to its default and reads the section. Under Windows
    // the path form returns false, leaving the record unchanged, when the
    // file does not exist.
    void LoadFrom(ProfileSource& source, const std::u16string& section);
    bool Load(const std::u16string& path, const std::u16string& section);
};

struct PackageSettings {
    std::u16string ProductName;
    std::u16string WindowTitle;
    std::int64_t TotalFileSize = 0;
    bool AutoCloseWindowWhenSuccess = false;
    bool TervoUpdateMode = false;
    bool ShowMessageBox = false;
    bool ShowMessageBoxWhenSilent = false;
    bool DialogButtonType = false;  // true exactly when the number is 1
    bool CheckManufacturer = false;
    std::u16string ManufacturerName;
    std::uint32_t OSVersionMin = 0x00050000;
    std::uint32_t OSBuildMin = 0;
    bool AllowProgramCompatibilityAssistantMode = false;
    bool CheckDigitalSignature = false;
    std::u16string DigitalSignatureSignerName;
    bool SpecifiedExtractFolder = false;
    bool SelectExtractFolder = false;
    bool OpenExtractFolder = true;
    std::int32_t TargetParentFolderType = 0;
    std::u16string TargetFolderName;
    std::vector<std::u16string> WritableItems;
    ExecutionSettings Execution_x86;
    ExecutionSettings Execution_x64;

    // Reads every field in order from the source (the execution records from
    // "Execution_x86" and "Execution_x64").
    void LoadFrom(ProfileSource& source);

    // Windows: 0x80070002 when the path does not exist or is a folder (the
    // record is left as it was), otherwise 0 after reading the file.
    HResult Load(const std::u16string& path);
};

// The execution record for a computer whose native processor has this type
// (GetNativeSystemInfo's dwProcessorType): Execution_x64 for 8664 (AMD64) and
// 2200 (IA64), Execution_x86 for every other type. There is no fallback to
// the other record: an empty FileName in the chosen one means nothing runs.
const ExecutionSettings& ChooseExecutionSettings(const PackageSettings& settings,
                                                 std::uint32_t nativeProcessorType);

// Windows: the record for this computer, chosen by NativeProcessorType().
const ExecutionSettings& ChooseExecutionSettings(const PackageSettings& settings);

// Windows: dwProcessorType from GetNativeSystemInfo, which reports the real
// processor also to this 32-bit program on a 64-bit system.
std::uint32_t NativeProcessorType();

}  // namespace quarry
