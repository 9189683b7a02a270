// What the settings tests share: the record a full settings file describes,
// and a comparison of every field of two records.
#pragma once

#include <gtest/gtest.h>

#include <tuple>

#include "settings/PackageSettings.h"

namespace quarry {
namespace testing {

// The package both the profile tests and the file tests describe in full,
// nearly every field away from its default. Every field is given here, in
// the record's order, so that the comparison does not lean on the record's
// own defaults; each test adjusts what its own source says differently.
inline PackageSettings WidgetDriverSettings() {
    // ForceElevation, FileName, Options, the GUI and silent additions,
    // waitTimed, waitForRelease, WaitTimeout.
    const ExecutionSettings x86{true,  u"setup32.exe", u"/quiet", u"/gui", u"/silent",
                                true,  false, 60};
    const ExecutionSettings x64{false, u"setup64.exe", u"-x", u"", u"",
                                false, true, 32};
    return PackageSettings{
        u"Widget Driver", u"Widget Driver Setup", 5368709120LL,
        true, true,        // AutoCloseWindowWhenSuccess, TervoUpdateMode
        true, true, true,  // ShowMessageBox, ShowMessageBoxWhenSilent, DialogButtonType
        true, u"Norvik Corporation", 0x00060001u, 0x1DB10001u,  // manufacturer, OS
        true, true, u"Norvik Corporation",  // compatibility assistant, signature
        true, true, false,  // SpecifiedExtractFolder, SelectExtractFolder, OpenExtractFolder
        -2, u"Norvik\\Widget", {u"Logs\\", u"config.ini"},
        x86, x64};
}

inline auto FieldsOf(const ExecutionSettings& e) {
    return std::make_tuple(e.ForceElevation, e.FileName, e.Options,
                           e.AdditionalOptionsForGuiMode, e.AdditionalOptionsForSilentMode,
                           e.waitTimed, e.waitForRelease, e.WaitTimeout);
}

// Every field but the two execution records, in the record's order.
inline auto FieldsOf(const PackageSettings& s) {
    return std::make_tuple(
        s.ProductName, s.WindowTitle, s.TotalFileSize, s.AutoCloseWindowWhenSuccess,
        s.TervoUpdateMode, s.ShowMessageBox, s.ShowMessageBoxWhenSilent, s.DialogButtonType,
        s.CheckManufacturer, s.ManufacturerName, s.OSVersionMin, s.OSBuildMin,
        s.AllowProgramCompatibilityAssistantMode, s.CheckDigitalSignature,
        s.DigitalSignatureSignerName, s.SpecifiedExtractFolder, s.SelectExtractFolder,
        s.OpenExtractFolder, s.TargetParentFolderType, s.TargetFolderName, s.WritableItems);
}

inline void ExpectSameSettings(const PackageSettings& expected, const PackageSettings& actual) {
    EXPECT_EQ(FieldsOf(expected), FieldsOf(actual));
    EXPECT_EQ(FieldsOf(expected.Execution_x86), FieldsOf(actual.Execution_x86)) << "Execution_x86";
    EXPECT_EQ(FieldsOf(expected.Execution_x64), FieldsOf(actual.Execution_x64)) << "Execution_x64";
}

}  // namespace testing
}  // namespace quarry
