#include "Names.h"

#include "common/Text.h"

namespace quarry::pack {

bool IsValidUtf8(std::string_view text) {
    // The shared decoder replaces every malformed sequence, so valid text is
    // exactly the text that survives the round trip unchanged.
    return Utf16ToUtf8(Utf8ToUtf16(text)) == text;
}

bool CheckWindowsName(std::u16string_view name, std::string& reason) {
    if (name.empty()) {
        reason = "empty name";
        return false;
    }
    for (char16_t c : name) {
        if (c < 0x20 || c == 0x7F) {
            reason = "control character in the name";
            return false;
        }
        if (std::u16string_view(u"<>:\"/\\|?*").find(c) != std::u16string_view::npos) {
            reason = std::string("character '") + static_cast<char>(c) +
                     "' is not allowed in Windows file names";
            return false;
        }
    }
    if (name.back() == u'.' || name.back() == u' ') {
        reason = "Windows drops a trailing dot or space from file names";
        return false;
    }
    // The part before the first dot must not be a device name.
    std::u16string_view stem = name.substr(0, name.find(u'.'));
    stem = TrimWhite(stem);
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    bool device = false;
    for (const char* d : kDevices) device = device || EqualsNoCase(stem, Ascii(d));
    if (stem.size() == 4 &&
        (EqualsNoCase(stem.substr(0, 3), u"COM") || EqualsNoCase(stem.substr(0, 3), u"LPT"))) {
        device = device || (stem[3] >= u'1' && stem[3] <= u'9');
    }
    if (device) {
        reason = "a Windows device name";
        return false;
    }
    return true;
}

std::u16string FoldedKey(std::u16string_view text) {
    std::u16string key(text);
    for (char16_t& c : key) c = FoldCase(c);
    return key;
}

std::string Quoted(std::u16string_view text) {
    return "\"" + Utf16ToUtf8(text) + "\"";
}

}  // namespace quarry::pack
