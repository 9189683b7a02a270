#include "settings/IniTokenizer.h"

#include "common/Text.h"

namespace quarry {

namespace {

// The reader drops a pair of double or single quotes around a value.
std::u16string_view Unquoted(std::u16string_view value) {
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

void ReadLine(std::u16string_view raw, IniLine& line) {
    const std::u16string_view trimmed = TrimWhite(raw);
    if (trimmed.empty()) return;
    if (trimmed.front() == u';') {
        line.kind = IniLineKind::Comment;
        return;
    }
    if (trimmed.front() == u'[') {
        const std::size_t close = trimmed.rfind(u']');
        if (close == std::u16string_view::npos) {
            line.kind = IniLineKind::BrokenSection;
            return;
        }
        line.kind = IniLineKind::Section;
        line.name = TrimWhite(trimmed.substr(1, close - 1));
        return;
    }
    line.kind = IniLineKind::Key;
    const std::size_t equals = trimmed.find(u'=');
    line.hasEquals = equals != std::u16string_view::npos;
    line.name = TrimWhite(line.hasEquals ? trimmed.substr(0, equals) : trimmed);
    if (line.hasEquals) {
        line.written = TrimWhite(trimmed.substr(equals + 1));
        line.value = Unquoted(line.written);
    }
}

}  // namespace

std::vector<IniLine> TokenizeIni(std::u16string_view text) {
    std::vector<IniLine> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        IniLine line;
        line.number = static_cast<int>(lines.size()) + 1;
        line.start = start;
        std::size_t end = text.find_first_of(u"\r\n", start);
        line.terminated = end != std::u16string_view::npos;
        line.end = line.terminated ? end : text.size();
        line.next = line.terminated ? end + 1 : text.size();
        if (line.terminated && text[end] == u'\r' && line.next < text.size() &&
            text[line.next] == u'\n') {
            ++line.next;
        }
        ReadLine(text.substr(line.start, line.end - line.start), line);
        lines.push_back(line);
        start = line.next;
    }
    return lines;
}

IniTextProfile::IniTextProfile(std::u16string_view text) : lines_(TokenizeIni(text)) {
    std::vector<std::u16string> seen;
    bool read = false;
    int section = -1;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const IniLine& line = lines_[i];
        if (line.kind == IniLineKind::Section) {
            section = static_cast<int>(i);
            read = true;
            for (const std::u16string& name : seen) read = read && !EqualsNoCase(name, line.name);
            seen.emplace_back(line.name);
        }
        read_.push_back(read);
        sectionOf_.push_back(section);
    }
}

const IniLine* IniTextProfile::Find(std::u16string_view section, std::u16string_view key) const {
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const IniLine& line = lines_[i];
        if (line.kind != IniLineKind::Key || !read_[i]) continue;
        if (EqualsNoCase(lines_[sectionOf_[i]].name, section) && EqualsNoCase(line.name, key)) {
            return &line;
        }
    }
    return nullptr;
}

std::u16string IniTextProfile::Read(const std::u16string& section, const std::u16string& key,
                                    const std::u16string& defaultText, std::size_t capacity) {
    const IniLine* line = Find(section, key);
    // A key without "=" has no value: the reader hands back the default.
    const std::u16string text =
        line && line->hasEquals ? std::u16string(line->value) : defaultText;
    return capacity == 0 ? std::u16string() : text.substr(0, capacity - 1);
}

}  // namespace quarry
