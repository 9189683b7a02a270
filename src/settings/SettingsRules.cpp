#include "settings/SettingsRules.h"

#include <limits>
#include <type_traits>

#include "common/Text.h"

namespace quarry {

const char16_t kSettingsAbsentText[] = u"Error";

namespace {

// A number's sign and magnitude as the runtime's strto* family reads them
// with base 0. `tooLarge` is set once the magnitude no longer fits 64 bits;
// the caller decides what is out of range for its own type.
struct ScannedNumber {
    bool negative = false;
    bool tooLarge = false;
    std::uint64_t magnitude = 0;
};

int DigitValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'z') return c - u'a' + 10;
    if (c >= u'A' && c <= u'Z') return c - u'A' + 10;
    return 99;  // fits no base
}

ScannedNumber ScanNumber(std::u16string_view text) {
    ScannedNumber number;
    std::size_t pos = 0;
    while (pos < text.size() && IsWhiteSpace(text[pos])) ++pos;
    if (pos < text.size() && (text[pos] == u'+' || text[pos] == u'-')) {
        number.negative = text[pos] == u'-';
        ++pos;
    }

    unsigned base = 10;
    if (pos < text.size() && text[pos] == u'0') {
        base = 8;
        if (pos + 1 < text.size() && (text[pos + 1] == u'x' || text[pos + 1] == u'X')) {
            // "0x" with no hexadecimal digit after it reads as 0 either way.
            base = 16;
            pos += 2;
        }
    }

    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    for (; pos < text.size(); ++pos) {
        const int digit = DigitValue(text[pos]);
        if (digit >= static_cast<int>(base)) break;
        // The runtime keeps reading the digits of an overflowing number; only
        // the flag matters from then on.
        if (number.tooLarge) continue;
        if (number.magnitude > (kMax - static_cast<std::uint64_t>(digit)) / base) {
            number.tooLarge = true;
            continue;
        }
        number.magnitude = number.magnitude * base + static_cast<std::uint64_t>(digit);
    }
    return number;
}

// Signed conversion over a magnitude limit of 2^(bits-1) - 1 (positive) or
// 2^(bits-1) (negative), saturating like wcstol and _wcstoi64.
template <typename T>
T ToSigned(const ScannedNumber& number) {
    using Unsigned = std::make_unsigned_t<T>;
    const std::uint64_t positiveLimit = static_cast<std::uint64_t>(std::numeric_limits<T>::max());
    const std::uint64_t negativeLimit = positiveLimit + 1;
    if (number.negative) {
        if (number.tooLarge || number.magnitude > negativeLimit)
            return std::numeric_limits<T>::min();
        // Negating in the unsigned type and converting back is exact here,
        // including for the smallest value.
        return static_cast<T>(static_cast<Unsigned>(0u - static_cast<Unsigned>(number.magnitude)));
    }
    if (number.tooLarge || number.magnitude > positiveLimit) return std::numeric_limits<T>::max();
    return static_cast<T>(number.magnitude);
}

}  // namespace

std::optional<std::u16string> PresentSettingsValue(std::u16string_view returned) {
    if (returned.size() > kSettingsValueCapacity - 1)
        returned = returned.substr(0, kSettingsValueCapacity - 1);
    if (returned.empty() || returned == kSettingsAbsentText) return std::nullopt;
    return std::u16string(returned);
}

bool ParseSettingsBool(std::u16string_view text) {
    return EqualsNoCase(text, u"true") || text == u"1";
}

std::uint32_t ParseSettingsUnsigned(std::u16string_view text) {
    const ScannedNumber number = ScanNumber(text);
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint32_t>::max();
    // Out of range saturates without regard to the sign, as wcstoul does.
    if (number.tooLarge || number.magnitude > kMax) return static_cast<std::uint32_t>(kMax);
    const auto value = static_cast<std::uint32_t>(number.magnitude);
    return number.negative ? static_cast<std::uint32_t>(0u - value) : value;
}

std::int32_t ParseSettingsSigned(std::u16string_view text) {
    return ToSigned<std::int32_t>(ScanNumber(text));
}

std::int64_t ParseSettingsInt64(std::u16string_view text) {
    return ToSigned<std::int64_t>(ScanNumber(text));
}

std::vector<std::u16string> SplitWritableItems(std::u16string_view text) {
    std::vector<std::u16string> items;
    for (std::u16string_view piece : SplitNonEmpty(text, u"|")) {
        const std::size_t kept = piece.find_first_not_of(u".\\");
        piece.remove_prefix(kept == std::u16string_view::npos ? piece.size() : kept);
        items.emplace_back(piece);
    }
    return items;
}

bool UsesX64ExecutionSection(std::uint32_t nativeProcessorType) {
    return nativeProcessorType == kProcessorTypeAmdX8664 ||
           nativeProcessorType == kProcessorTypeIntelIa64;
}

}  // namespace quarry
