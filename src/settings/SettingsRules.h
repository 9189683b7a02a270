// The value rules of "Settings.ini": when a value read from the profile
// reader counts as present, and how its text becomes a bool, a number or the
// list of writable items. Pure functions over UTF-16 text; the profile
// reader itself lives behind ProfileSource (PackageSettings.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quarry {

// Every value is read with this default text and a buffer of this many
// characters, so the reader hands back at most kSettingsValueCapacity - 1
// characters and "Error" when the key is absent.
constexpr std::size_t kSettingsValueCapacity = 512;
extern const char16_t kSettingsAbsentText[];  // "Error"

// The raw-read rule over what the profile reader returned: text longer than
// the buffer holds is cut to kSettingsValueCapacity - 1 characters; the
// value is present when at least one character remains and the text is not
// exactly "Error" (case-sensitive, so "error" is a value). Absent gives
// nullopt.
std::optional<std::u16string> PresentSettingsValue(std::u16string_view returned);

// "true" or "1" without regard to case; anything else, "yes" and "2"
// included, is false.
bool ParseSettingsBool(std::u16string_view text);

// Numbers as the C runtime's wcstoul, wcstol and _wcstoi64 read them with
// base 0: leading white space, then an optional "+" or "-", then "0x"/"0X"
// for hexadecimal, a leading "0" for octal, otherwise decimal. Reading stops
// at the first character that is not a digit of the base; no digits give 0.
// Only ASCII digits and ASCII white space are recognised: the profile reader
// has already trimmed the value.
//
// Out of range: the unsigned form gives 0xFFFFFFFF whatever the sign; the
// signed forms give their smallest or largest value by the sign. In range,
// "-" negates, for the unsigned form in unsigned arithmetic ("-1" is
// 0xFFFFFFFF).
std::uint32_t ParseSettingsUnsigned(std::u16string_view text);
std::int32_t ParseSettingsSigned(std::u16string_view text);
std::int64_t ParseSettingsInt64(std::u16string_view text);

// The WritableItems list: the text split at "|", empty pieces skipped, every
// leading "." and "\" removed from each piece in any mix. Spaces stay, as do
// the order and duplicates. A piece made only of dots and backslashes thus
// yields an empty item.
std::vector<std::u16string> SplitWritableItems(std::u16string_view text);

// Processor types as GetNativeSystemInfo reports them in dwProcessorType.
constexpr std::uint32_t kProcessorTypeAmdX8664 = 8664;  // PROCESSOR_AMD_X8664
constexpr std::uint32_t kProcessorTypeIntelIa64 = 2200; // PROCESSOR_INTEL_IA64

// True when a computer with this native processor type runs the package's
// "Execution_x64" section; every other type runs "Execution_x86".
bool UsesX64ExecutionSection(std::uint32_t nativeProcessorType);

}  // namespace quarry
