#include "Names.h"

#include "common/Text.h"

namespace quarry::pack {

bool IsValidUtf8(std::string_view text) {
    // The shared decoder replaces every malformed sequence, so valid text is
    // exactly the text that survives the round trip unchanged.
    return Utf16ToUtf8(Utf8ToUtf16(text)) == text;
}

namespace {

struct FaultReason {
    NameFault fault;
    const char* text;
};

const FaultReason kFaultReasons[] = {
    {NameFault::None, ""},
    {NameFault::Empty, "empty name"},
    {NameFault::Rooted, "starts with a folder separator"},
    {NameFault::DotsOnly, "a \".\" or \"..\" part (or only dots and spaces)"},
    {NameFault::Colon, "':' is not allowed in Windows file names (a drive or a stream)"},
    {NameFault::ControlCharacter, "control character in the name"},
    {NameFault::TrailingDotOrSpace, "Windows drops a trailing dot or space from file names"},
    {NameFault::DeviceName, "a Windows device name"},
};

std::string ReservedCharacterReason(std::u16string_view name) {
    // The separators last: in a path only the one that is no separator
    // there can be the fault.
    for (std::u16string_view set : {u"<>\"|?*", u"/\\"}) {
        for (char16_t c : name) {
            if (set.find(c) != std::u16string_view::npos) {
                return std::string("character '") + static_cast<char>(c) +
                       "' is not allowed in Windows file names";
            }
        }
    }
    return "a character that is not allowed in Windows file names";
}

}  // namespace

std::string NameFaultReason(NameFault fault, std::u16string_view name) {
    if (fault == NameFault::ReservedCharacter) return ReservedCharacterReason(name);
    if (fault == NameFault::TooLong) {
        return "a name longer than " + std::to_string(kMaxNameComponentLength) + " UTF-16 units";
    }
    for (const FaultReason& reason : kFaultReasons) {
        if (reason.fault == fault) return reason.text;
    }
    return "not a Windows file name";
}

std::u16string FoldedKey(std::u16string_view text) {
    std::u16string key(text);
    for (char16_t& c : key) c = FoldCase(c);
    return key;
}

std::string Printable(std::u16string_view text) {
    static const char kHex[] = "0123456789abcdef";
    std::u16string plain;
    std::string out;
    auto flush = [&] {
        out += Utf16ToUtf8(plain);
        plain.clear();
    };
    for (char16_t c : text) {
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
            flush();
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        } else {
            plain.push_back(c);
        }
    }
    flush();
    return out;
}

std::string Quoted(std::u16string_view text) {
    return "\"" + Printable(text) + "\"";
}

}  // namespace quarry::pack
