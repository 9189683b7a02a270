#include "IniText.h"

#include "Names.h"
#include "common/Text.h"

namespace quarry::pack {

namespace {

struct Line {
    std::size_t start;  // first unit
    std::size_t end;    // one past the last unit, line end excluded
    std::size_t next;   // first unit of the following line
    bool terminated;    // followed by a line end
};

// Splits as the profile reader does: at CR LF, at LF, and at a CR alone.
std::vector<Line> SplitLines(std::u16string_view text) {
    std::vector<Line> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of(u"\r\n", start);
        const bool terminated = end != std::u16string_view::npos;
        if (!terminated) end = text.size();
        std::size_t next = terminated ? end + 1 : end;
        if (terminated && text[end] == u'\r' && next < text.size() && text[next] == u'\n') ++next;
        lines.push_back(Line{start, end, next, terminated});
        start = next;
    }
    return lines;
}

// The name of a section header line "[name]", or false for any other line.
bool SectionName(std::u16string_view line, std::u16string_view& name) {
    line = TrimWhite(line);
    if (line.empty() || line.front() != u'[') return false;
    const std::size_t close = line.rfind(u']');
    if (close == std::u16string_view::npos || close == 0) return false;
    name = TrimWhite(line.substr(1, close - 1));
    return true;
}

std::u16string_view KeyName(std::u16string_view line) {
    const std::size_t equals = line.find(u'=');
    return TrimWhite(equals == std::u16string_view::npos ? line : line.substr(0, equals));
}

std::u16string LineEnd(std::u16string_view text) {
    const std::size_t end = text.find_first_of(u"\r\n");
    if (end == std::u16string_view::npos) return u"\r\n";
    if (text[end] == u'\n') return u"\n";
    return end + 1 < text.size() && text[end + 1] == u'\n' ? u"\r\n" : u"\r";
}

// Index of the first header line of `section`, or lines.size().
std::size_t FindSection(std::u16string_view text, const std::vector<Line>& lines,
                        std::u16string_view section) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::u16string_view name;
        if (SectionName(text.substr(lines[i].start, lines[i].end - lines[i].start), name) &&
            EqualsNoCase(name, section)) {
            return i;
        }
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
    const std::vector<Line> lines = SplitLines(text);
    std::u16string_view ignored;
    for (std::size_t i = FindSection(text, lines, section) + 1; i < lines.size(); ++i) {
        const std::u16string_view line = text.substr(lines[i].start, lines[i].end - lines[i].start);
        if (SectionName(line, ignored)) break;
        if (EqualsNoCase(KeyName(line), key)) return true;
    }
    return false;
}

void AddProfileKey(std::u16string& text, std::u16string_view section, std::u16string_view key,
                   std::u16string_view value) {
    const std::u16string eol = LineEnd(text);
    std::u16string keyLine(key);
    keyLine += u'=';
    keyLine += value;

    const std::u16string_view view(text);
    const std::vector<Line> lines = SplitLines(view);
    const std::size_t header = FindSection(view, lines, section);
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
    std::u16string_view ignored;
    for (std::size_t i = header + 1; i < lines.size(); ++i) {
        const std::u16string_view line = view.substr(lines[i].start, lines[i].end - lines[i].start);
        if (SectionName(line, ignored)) break;
        if (!TrimWhite(line).empty()) last = i;
    }
    std::u16string inserted = lines[last].terminated ? u"" : eol;
    inserted += keyLine + eol;
    text.insert(lines[last].next, inserted);
}

}  // namespace quarry::pack
