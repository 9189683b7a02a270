#include "IniText.h"

#include "Names.h"
#include "common/Text.h"
#include "settings/IniTokenizer.h"

namespace quarry::pack {

namespace {

std::u16string LineEnd(std::u16string_view text) {
    const std::size_t end = text.find_first_of(u"\r\n");
    if (end == std::u16string_view::npos) return u"\r\n";
    if (text[end] == u'\n') return u"\n";
    return end + 1 < text.size() && text[end + 1] == u'\n' ? u"\r\n" : u"\r";
}

// Index of the first header line of `section`, or lines.size().
std::size_t FindSection(const std::vector<IniLine>& lines, std::u16string_view section) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind == IniLineKind::Section && EqualsNoCase(lines[i].name, section)) return i;
    }
    return lines.size();
}

}  // namespace

Status DecodeSettingsText(const std::vector<std::uint8_t>& bytes, std::u16string& text,
                          TextEncoding& encoding) {
    text.clear();
    const std::size_t size = bytes.size();
    if (size >= 2 && (bytes[0] == 0xFF && bytes[1] == 0xFE)) {
        encoding = TextEncoding::Utf16LE;
    } else if (size >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
        encoding = TextEncoding::Utf16BE;
    } else if (size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        encoding = TextEncoding::Utf8WithBom;
    } else {
        encoding = TextEncoding::Utf8;
    }

    if (encoding == TextEncoding::Utf16LE || encoding == TextEncoding::Utf16BE) {
        if (size % 2 != 0) return Status::Error("UTF-16 text with an odd number of bytes");
        const bool little = encoding == TextEncoding::Utf16LE;
        text.reserve(size / 2 - 1);
        for (std::size_t i = 2; i < size; i += 2) {
            const unsigned low = little ? bytes[i] : bytes[i + 1];
            const unsigned high = little ? bytes[i + 1] : bytes[i];
            text.push_back(static_cast<char16_t>(low | (high << 8)));
        }
    } else {
        const std::size_t skip = encoding == TextEncoding::Utf8WithBom ? 3 : 0;
        const std::string_view utf8(reinterpret_cast<const char*>(bytes.data()) + skip,
                                    size - skip);
        if (!IsValidUtf8(utf8)) {
            return Status::Error("not UTF-8 text (UTF-16 input needs a byte-order mark)");
        }
        text = Utf8ToUtf16(utf8);
    }
    if (text.find(u'\0') != std::u16string::npos) {
        return Status::Error("text holds NUL characters (UTF-16 input needs a byte-order mark)");
    }
    return Status();
}

std::vector<std::uint8_t> EncodeUtf16LeWithBom(std::u16string_view text) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(2 + 2 * text.size());
    bytes.push_back(0xFF);
    bytes.push_back(0xFE);
    for (char16_t c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return bytes;
}

bool HasProfileKey(std::u16string_view text, std::u16string_view section, std::u16string_view key) {
    const std::vector<IniLine> lines = TokenizeIni(text);
    for (std::size_t i = FindSection(lines, section) + 1; i < lines.size(); ++i) {
        if (lines[i].kind == IniLineKind::Section) break;
        if (lines[i].kind == IniLineKind::Key && EqualsNoCase(lines[i].name, key)) return true;
    }
    return false;
}

void AddProfileKey(std::u16string& text, std::u16string_view section, std::u16string_view key,
                   std::u16string_view value) {
    const std::u16string eol = LineEnd(text);
    std::u16string keyLine(key);
    keyLine += u'=';
    keyLine += value;

    const std::vector<IniLine> lines = TokenizeIni(text);
    const std::size_t header = FindSection(lines, section);
    if (header == lines.size()) {
        std::u16string added;
        if (!text.empty()) {
            if (text.back() != u'\n' && text.back() != u'\r') added += eol;
            added += eol;
        }
        added += u'[';
        added += section;
        added += u']';
        added += eol + keyLine + eol;
        text += added;
        return;
    }

    // After the section's last non-blank line.
    std::size_t last = header;
    for (std::size_t i = header + 1; i < lines.size(); ++i) {
        if (lines[i].kind == IniLineKind::Section) break;
        if (lines[i].kind != IniLineKind::Blank) last = i;
    }
    std::u16string inserted = lines[last].terminated ? u"" : eol;
    inserted += keyLine + eol;
    text.insert(lines[last].next, inserted);
}

}  // namespace quarry::pack
