// printf-style formatting of the string-table texts, with a typed argument
// list instead of C varargs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quarry {

// One argument of FormatString: a text for "%s" or an integer for "%d" and
// "%08x". Text arguments only refer to their characters: the argument list
// must not outlive them.
class FormatArgument {
public:
    enum class Kind { Text, Integer };

    FormatArgument(std::u16string_view text) : kind_(Kind::Text), text_(text) {}
    FormatArgument(const char16_t* text)
        : kind_(Kind::Text), text_(text ? std::u16string_view(text) : std::u16string_view()) {}
    FormatArgument(const std::u16string& text) : kind_(Kind::Text), text_(text) {}
    FormatArgument(std::int32_t value) : kind_(Kind::Integer), value_(static_cast<std::uint32_t>(value)) {}
    FormatArgument(std::uint32_t value) : kind_(Kind::Integer), value_(value) {}
    // Windows' DWORD and LONG are long; a 32-bit long keeps its value.
    FormatArgument(long value) : kind_(Kind::Integer), value_(static_cast<std::uint32_t>(value)) {}
    FormatArgument(unsigned long value) : kind_(Kind::Integer), value_(static_cast<std::uint32_t>(value)) {}

    Kind GetKind() const { return kind_; }
    std::u16string_view Text() const { return text_; }
    std::uint32_t Bits() const { return value_; }

private:
    Kind kind_;
    std::u16string_view text_;
    std::uint32_t value_ = 0;
};

// Formats `format` with `arguments`, taken in order. Understood directives:
// "%s" (a text argument), "%d" (an integer argument as signed 32-bit
// decimal), "%08x" (an integer argument as eight lower-case hexadecimal
// digits, its 32 bits unsigned) and "%%" (one "%"). Any other "%" sequence,
// such as "%1", is copied unchanged and takes no argument; arguments left
// over are ignored.
// Throws ResultError{kResultInvalidArg} when a directive has no argument left
// or its argument is of the other kind.
std::u16string FormatString(std::u16string_view format,
                            const std::vector<FormatArgument>& arguments);

}  // namespace quarry
