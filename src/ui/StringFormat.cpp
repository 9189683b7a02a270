#include "ui/StringFormat.h"

#include "common/Result.h"

namespace quarry {

namespace {

const FormatArgument& TakeArgument(const std::vector<FormatArgument>& arguments,
                                   std::size_t& next, FormatArgument::Kind kind) {
    if (next >= arguments.size() || arguments[next].GetKind() != kind)
        throw ResultError{kResultInvalidArg};
    return arguments[next++];
}

void AppendDecimal(std::u16string& out, std::uint32_t bits) {
    const std::int32_t value = static_cast<std::int32_t>(bits);
    // Negating in unsigned arithmetic keeps INT32_MIN exact.
    std::uint32_t magnitude = value < 0 ? 0u - bits : bits;
    char16_t digits[10];
    int count = 0;
    do {
        digits[count++] = static_cast<char16_t>(u'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) out.push_back(u'-');
    while (count > 0) out.push_back(digits[--count]);
}

void AppendHex8(std::u16string& out, std::uint32_t bits) {
    static const char16_t kDigits[] = u"0123456789abcdef";
    for (int shift = 28; shift >= 0; shift -= 4) out.push_back(kDigits[(bits >> shift) & 0xF]);
}

}  // namespace

std::u16string FormatString(std::u16string_view format,
                            const std::vector<FormatArgument>& arguments) {
    std::u16string out;
    out.reserve(format.size() + 32);
    std::size_t next = 0;
    std::size_t i = 0;
    while (i < format.size()) {
        const char16_t c = format[i];
        if (c != u'%') {
            out.push_back(c);
            ++i;
            continue;
        }
        const std::u16string_view rest = format.substr(i);
        if (rest.substr(0, 2) == u"%%") {
            out.push_back(u'%');
            i += 2;
        } else if (rest.substr(0, 2) == u"%s") {
            out.append(TakeArgument(arguments, next, FormatArgument::Kind::Text).Text());
            i += 2;
        } else if (rest.substr(0, 2) == u"%d") {
            AppendDecimal(out, TakeArgument(arguments, next, FormatArgument::Kind::Integer).Bits());
            i += 2;
        } else if (rest.substr(0, 4) == u"%08x") {
            AppendHex8(out, TakeArgument(arguments, next, FormatArgument::Kind::Integer).Bits());
            i += 4;
        } else {
            out.push_back(c);
            ++i;
        }
    }
    return out;
}

}  // namespace quarry
