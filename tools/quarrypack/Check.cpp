#include "Check.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "Names.h"
#include "XmlCheck.h"
#include "common/Text.h"
#include "package/PackageFormat.h"
#include "settings/PackageSettings.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsRules.h"
#include "ui/LanguageList.h"

namespace quarry::pack {

namespace {

std::string U8(std::u16string_view text) { return Utf16ToUtf8(text); }

std::string Hex32(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

// One line of the settings file as the platform's profile reader sees it.
struct IniLine {
    int number = 0;
    std::u16string section;  // the section it belongs to ("" before the first)
    int sectionIndex = -1;   // which header it follows (-1: none)
    std::u16string key;
    std::u16string value;  // trimmed, one pair of enclosing quotes removed
    std::u16string written;  // trimmed, as written
    bool hasEquals = false;
};

struct IniSection {
    int line = 0;
    std::u16string name;
    bool first = true;  // the first section of that name: the one that is read
};

struct IniFile {
    std::vector<IniSection> sections;
    std::vector<IniLine> lines;  // key lines only
};

// The reader drops a pair of double or single quotes around a value.
std::u16string_view Unquoted(std::u16string_view value) {
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

IniFile ParseIni(std::u16string_view text, const std::string& file, std::vector<Finding>& out) {
    IniFile ini;
    std::set<std::u16string> seenSections;
    int number = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        // The profile reader ends a line at CR LF, at LF and at a CR alone,
        // so a file saved with old Mac line ends is read line by line too.
        std::size_t end = text.find_first_of(u"\r\n", start);
        if (end == std::u16string_view::npos) end = text.size();
        const std::u16string_view raw = text.substr(start, end - start);
        start = end + 1;
        if (end + 1 < text.size() && text[end] == u'\r' && text[end + 1] == u'\n') ++start;
        ++number;
        const std::u16string_view line = TrimWhite(raw);
        if (line.empty() || line.front() == u';') continue;
        if (line.front() == u'[') {
            const std::size_t close = line.rfind(u']');
            if (close == std::u16string_view::npos) {
                out.push_back({Severity::Warning, file, number, "",
                               "a section header without \"]\"; the lines below belong to the "
                               "section before it"});
                continue;
            }
            IniSection section;
            section.line = number;
            section.name = std::u16string(TrimWhite(line.substr(1, close - 1)));
            section.first = seenSections.insert(FoldedKey(section.name)).second;
            ini.sections.push_back(section);
            continue;
        }
        IniLine entry;
        entry.number = number;
        if (!ini.sections.empty()) {
            entry.sectionIndex = static_cast<int>(ini.sections.size()) - 1;
            entry.section = ini.sections.back().name;
        }
        const std::size_t equals = line.find(u'=');
        entry.hasEquals = equals != std::u16string_view::npos;
        entry.key = std::u16string(TrimWhite(entry.hasEquals ? line.substr(0, equals) : line));
        if (entry.hasEquals) {
            entry.written = std::u16string(TrimWhite(line.substr(equals + 1)));
            entry.value = std::u16string(Unquoted(entry.written));
        }
        ini.lines.push_back(entry);
    }
    return ini;
}

// The parsed file as a profile source, so that the program's own loader
// reads it: first section of a name, first key of a name, default text for
// an absent key.
class IniProfile : public ProfileSource {
public:
    explicit IniProfile(const IniFile& ini) : ini_(ini) {}

    const IniLine* Find(std::u16string_view section, std::u16string_view key) const {
        for (const IniLine& line : ini_.lines) {
            if (line.sectionIndex < 0 || !ini_.sections[line.sectionIndex].first) continue;
            if (EqualsNoCase(line.section, section) && EqualsNoCase(line.key, key)) return &line;
        }
        return nullptr;
    }

    std::u16string Read(const std::u16string& section, const std::u16string& key,
                        const std::u16string& defaultText, std::size_t capacity) override {
        const IniLine* line = Find(section, key);
        const std::u16string& text = line ? line->value : defaultText;
        return capacity == 0 ? std::u16string() : text.substr(0, capacity - 1);
    }

private:
    const IniFile& ini_;
};

// Optimal string alignment distance without regard to letter case.
std::size_t Distance(std::u16string_view a, std::u16string_view b) {
    const std::u16string x = FoldedKey(a);
    const std::u16string y = FoldedKey(b);
    std::vector<std::vector<std::size_t>> d(x.size() + 1, std::vector<std::size_t>(y.size() + 1));
    for (std::size_t i = 0; i <= x.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= y.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= x.size(); ++i) {
        for (std::size_t j = 1; j <= y.size(); ++j) {
            const std::size_t cost = x[i - 1] == y[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && x[i - 1] == y[j - 2] && x[i - 2] == y[j - 1]) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[x.size()][y.size()];
}

// How a number is read (base 0, as the runtime's conversions do) and whether
// the text is that number and nothing else.
enum class NumberForm { Plain, Octal, NoDigits, Trailing, Negative, OutOfRange };

NumberForm ClassifyNumber(std::u16string_view text, SettingsValueKind kind) {
    std::size_t pos = 0;
    bool negative = false;
    if (pos < text.size() && (text[pos] == u'+' || text[pos] == u'-')) {
        negative = text[pos] == u'-';
        ++pos;
    }
    unsigned base = 10;
    bool octal = false;
    if (pos + 1 < text.size() && text[pos] == u'0' && (text[pos + 1] == u'x' || text[pos + 1] == u'X')) {
        base = 16;
        pos += 2;
    } else if (pos < text.size() && text[pos] == u'0') {
        base = 8;
        octal = pos + 1 < text.size();
    }
    const std::size_t digits = pos;
    std::uint64_t magnitude = 0;
    bool overflow = false;
    for (; pos < text.size(); ++pos) {
        const char16_t c = text[pos];
        unsigned digit = 99;
        if (c >= u'0' && c <= u'9') digit = c - u'0';
        else if (c >= u'a' && c <= u'f') digit = c - u'a' + 10;
        else if (c >= u'A' && c <= u'F') digit = c - u'A' + 10;
        if (digit >= base) break;
        if (magnitude > (UINT64_MAX - digit) / base) overflow = true;
        magnitude = magnitude * base + digit;
    }
    if (pos == digits) return NumberForm::NoDigits;
    if (pos != text.size()) return NumberForm::Trailing;
    if (negative && magnitude != 0 && kind == SettingsValueKind::Unsigned) return NumberForm::Negative;
    std::uint64_t limit = 0xFFFFFFFFull;
    if (kind == SettingsValueKind::Signed) limit = negative ? 0x80000000ull : 0x7FFFFFFFull;
    if (kind == SettingsValueKind::Int64) limit = negative ? 0x8000000000000000ull : 0x7FFFFFFFFFFFFFFFull;
    if (overflow || magnitude > limit) return NumberForm::OutOfRange;
    return octal ? NumberForm::Octal : NumberForm::Plain;
}

std::string ReadAs(std::u16string_view text, SettingsValueKind kind) {
    const std::u16string value(text);
    switch (kind) {
        case SettingsValueKind::Signed:
            return std::to_string(ParseSettingsSigned(value));
        case SettingsValueKind::Int64:
            return std::to_string(ParseSettingsInt64(value));
        default:
            return std::to_string(ParseSettingsUnsigned(value));
    }
}

const char* KindName(SettingsValueKind kind) {
    switch (kind) {
        case SettingsValueKind::Bool:
            return "true or false";
        case SettingsValueKind::Signed:
        case SettingsValueKind::Int64:
            return "a whole number";
        default:
            return "an unsigned whole number";
    }
}

// Gathers findings with the file's name filled in.
class Report {
public:
    explicit Report(std::vector<Finding>& out) : out_(out) {}
    void Add(Severity severity, const std::string& file, int line, std::u16string_view key,
             const std::string& text) {
        out_.push_back({severity, file, line, U8(key), text});
    }

private:
    std::vector<Finding>& out_;
};

bool IsPlaceholderStart(std::u16string_view text, std::size_t at) {
    static const std::u16string_view kStart = u"%QUARRYTOOL";
    return text.size() - at >= kStart.size() && EqualsNoCase(text.substr(at, kStart.size()), kStart);
}

// A relative path below the destination whose parts Windows accepts.
bool CheckRelativePath(std::u16string_view path, std::string& reason) {
    const NameFault fault = RelativePathFault(path);
    switch (fault) {
    case NameFault::None:
        return true;
    case NameFault::Empty:
    case NameFault::Rooted:
    case NameFault::DotsOnly:
    case NameFault::Colon:
        reason = "not a relative path that stays inside the package's folder (no drive, no "
                 "leading \"\\\", no \".\" or \"..\" parts)";
        return false;
    default:
        reason = NameFaultReason(fault, path);
        return false;
    }
}

std::u16string Backslashed(std::u16string_view path) {
    std::u16string out(path);
    std::replace(out.begin(), out.end(), u'/', u'\\');
    while (!out.empty() && out.back() == u'\\') out.pop_back();
    return out;
}

// Language element names that the language list can hold: a normalised
// tag ("ja-JP", "en", "zh-HANT-TW") or a three-letter code of the table.
bool IsPickableLanguage(std::u16string_view name) {
    if (IsLanguageCode(name)) return true;
    // "jpn" would be a tag, but it is meant as the code.
    std::u16string upper(name);
    for (char16_t& c : upper) c = FoldCase(c);
    if (IsLanguageCode(upper)) return false;
    if (name.empty() || NormalizeLanguageName(name) != name) return false;
    std::size_t start = 0;
    bool firstPart = true;
    while (start <= name.size()) {
        std::size_t end = name.find(u'-', start);
        if (end == std::u16string_view::npos) end = name.size();
        const std::u16string_view part = name.substr(start, end - start);
        if (part.empty() || part.size() > 8) return false;
        for (char16_t c : part) {
            const bool letter = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
            const bool digit = c >= u'0' && c <= u'9';
            if (firstPart ? !letter : !(letter || digit)) return false;
        }
        if (firstPart && (part.size() < 2 || part.size() > 3)) return false;
        firstPart = false;
        start = end + 1;
    }
    return true;
}

void CheckMessageFile(const CheckInputs& inputs, Report& report) {
    const std::string& file = inputs.messageFile;
    XmlDocument document;
    XmlProblem problem;
    if (!ParseXml(inputs.messageBytes, document, problem)) {
        if (problem.line == 0) {
            report.Add(Severity::Warning, file, 0, u"", problem.text);
        } else {
            report.Add(Severity::Error, file, problem.line, u"",
                       "not well-formed: " + problem.text + "; the program shows no message");
        }
        return;
    }
    const XmlElement& root = document.root;
    if (root.localName != u"MessageInfo") {
        report.Add(Severity::Error, file, root.line, root.name,
                   "the root element must be <MessageInfo>; the program shows no message");
        return;
    }
    if (!root.namespaceUri.empty()) {
        if (root.name.find(u':') == std::u16string::npos) {
            report.Add(Severity::Error, file, root.line, root.name,
                       "the default namespace of the root element applies to the language "
                       "elements too, which the program looks up without a namespace: it finds "
                       "none and shows no message; remove xmlns");
            return;
        }
        report.Add(Severity::Warning, file, root.line, root.name,
                   "with a namespace the program looks for Title and Message anywhere in the "
                   "file, so every language gets the first of each; write the file without one");
    }

    bool anyPickable = false;
    bool english = false;
    for (const XmlElement& language : root.children) {
        if (!IsPickableLanguage(language.name) || !language.namespaceUri.empty()) {
            std::string text = "the program never asks for this name";
            if (!language.namespaceUri.empty()) {
                text = "in a namespace, which the program's lookup does not match";
            } else {
                std::u16string better = NormalizeLanguageName(language.name);
                std::u16string upper(language.name);
                for (char16_t& c : upper) c = FoldCase(c);
                if (IsLanguageCode(upper)) better = upper;
                if (better != language.name && IsPickableLanguage(better)) {
                    text += " (names are matched exactly: write " + U8(better) + ")";
                } else {
                    text += " (a language name such as en-US or en, or a code such as ENG)";
                }
            }
            report.Add(Severity::Warning, file, language.line, language.name, text);
            continue;
        }
        anyPickable = true;
        english = english || language.name == u"en-US" || language.name == u"en" ||
                  language.name == u"ENG";
        bool title = false;
        bool message = false;
        for (const XmlElement& child : language.children) {
            title = title || child.name == u"Title";
            message = message || child.name == u"Message";
        }
        if (!title && !message && language.text.empty()) {
            report.Add(Severity::Warning, file, language.line, language.name,
                       "holds neither Title nor Message nor text");
        }
    }
    if (!anyPickable) {
        report.Add(Severity::Error, file, root.line, root.name,
                   "no language element the program would pick; it shows no message");
    } else if (!english) {
        report.Add(Severity::Warning, file, root.line, root.name,
                   "no en-US, en or ENG element: a user whose languages are all missing sees "
                   "no message");
    }
}

}  // namespace

std::string FormatFinding(const Finding& finding) {
    std::string line = finding.file;
    if (finding.line > 0) line += ":" + std::to_string(finding.line);
    line += finding.severity == Severity::Error ? ": error: " : ": warning: ";
    if (!finding.key.empty()) line += finding.key + ": ";
    return line + finding.text;
}

bool HasErrors(const std::vector<Finding>& findings) {
    return std::any_of(findings.begin(), findings.end(),
                       [](const Finding& f) { return f.severity == Severity::Error; });
}

std::u16string SettingsProductName(std::u16string_view settingsText) {
    std::vector<Finding> ignored;
    const IniFile ini = ParseIni(settingsText, "", ignored);
    IniProfile profile(ini);
    PackageSettings settings;
    settings.LoadFrom(profile);
    return settings.ProductName;
}

std::u16string NearestName(std::u16string_view name, const std::vector<std::u16string>& known) {
    std::u16string best;
    std::size_t bestDistance = 0;
    for (const std::u16string& candidate : known) {
        const std::size_t distance = Distance(name, candidate);
        if (best.empty() || distance < bestDistance) {
            best = candidate;
            bestDistance = distance;
        }
    }
    const std::size_t limit = std::max<std::size_t>(2, std::min(name.size(), best.size()) / 3);
    if (bestDistance <= limit) return best;
    // A name cut short ("WaitTime") is a mistake too.
    if (name.size() >= 4) {
        for (const std::u16string& candidate : known) {
            if (candidate.size() > name.size() &&
                EqualsNoCase(std::u16string_view(candidate).substr(0, name.size()), name)) {
                return candidate;
            }
        }
    }
    return std::u16string();
}

std::vector<Finding> CheckPackageInputs(const CheckInputs& inputs) {
    std::vector<Finding> findings;
    const std::string& file = inputs.settingsFile;
    const IniFile ini = ParseIni(inputs.settingsText, file, findings);
    Report report(findings);

    std::size_t tableSize = 0;
    const SettingsKey* table = SettingsKeyTable(tableSize);
    std::vector<std::u16string> sectionNames;
    for (std::size_t i = 0; i < tableSize; ++i) {
        const std::u16string section(table[i].section);
        if (std::find(sectionNames.begin(), sectionNames.end(), section) == sectionNames.end()) {
            sectionNames.push_back(section);
        }
    }

    // Sections.
    std::map<std::u16string, int> firstSectionLine;
    for (const IniSection& section : ini.sections) {
        const std::u16string folded = FoldedKey(section.name);
        if (!IsSettingsSection(section.name)) {
            const std::u16string near = NearestName(section.name, sectionNames);
            if (!near.empty()) {
                report.Add(Severity::Error, file, section.line, u"[" + section.name + u"]",
                           "unknown section; did you mean [" + U8(near) + "]?");
            } else {
                report.Add(Severity::Warning, file, section.line, u"[" + section.name + u"]",
                           "unknown section; nothing reads it");
            }
        } else if (!section.first) {
            report.Add(Severity::Warning, file, section.line, u"[" + section.name + u"]",
                       "given again (first at line " + std::to_string(firstSectionLine[folded]) +
                           "); the program reads only the first, so the keys below are ignored");
        }
        firstSectionLine.emplace(folded, section.line);
    }

    // Keys and their values.
    std::map<std::u16string, int> firstKeyLine;
    for (const IniLine& line : ini.lines) {
        if (line.sectionIndex < 0) {
            report.Add(Severity::Warning, file, line.number, line.key,
                       "outside any section; nothing reads it");
            continue;
        }
        if (!IsSettingsSection(line.section) || !ini.sections[line.sectionIndex].first) continue;
        const SettingsKey* key = FindSettingsKey(line.section, line.key);
        if (key == nullptr) {
            std::vector<std::u16string> keys;
            for (std::size_t i = 0; i < tableSize; ++i) {
                if (EqualsNoCase(table[i].section, line.section)) keys.emplace_back(table[i].key);
            }
            std::u16string near = NearestName(line.key, keys);
            std::string where = "unknown key in [" + U8(line.section) + "]";
            if (near.empty()) {
                // Perhaps a key of another section.
                for (std::size_t i = 0; i < tableSize; ++i) {
                    if (EqualsNoCase(table[i].key, line.key)) {
                        where += "; " + U8(table[i].key) + " belongs in [" +
                                 U8(table[i].section) + "]";
                        break;
                    }
                }
            } else {
                where += "; did you mean " + U8(near) + "?";
            }
            report.Add(Severity::Error, file, line.number, line.key, where);
            continue;
        }
        const std::u16string id = FoldedKey(line.section + u"\n" + line.key);
        const auto [first, added] = firstKeyLine.emplace(id, line.number);
        if (!added) {
            report.Add(Severity::Warning, file, line.number, line.key,
                       "given again in [" + U8(line.section) + "] (first at line " +
                           std::to_string(first->second) + "); the program reads the first");
            continue;
        }
        if (!line.hasEquals) {
            report.Add(Severity::Warning, file, line.number, line.key,
                       "no \"=\"; the key reads as absent");
            continue;
        }
        if (key->kind == SettingsValueKind::Unread || line.value.empty()) continue;
        if (line.value.size() > kSettingsValueCapacity - 1) {
            report.Add(Severity::Error, file, line.number, line.key,
                       "the value is " + std::to_string(line.value.size()) +
                           " characters long; the program reads only the first " +
                           std::to_string(kSettingsValueCapacity - 1));
        }
        if (line.value == kSettingsAbsentText) {
            report.Add(Severity::Warning, file, line.number, line.key,
                       "a value of exactly \"Error\" reads as absent");
            continue;
        }
        const std::u16string& value = line.value;
        // `"a" "b"` arrives as `a" "b`: the quotes the author meant to keep
        // are lost. A value that begins with the quote again, as in
        // `""Widget Tool.msi" /qn"`, is the way to keep them, and is meant.
        if (line.written.size() != value.size() &&
            value.find(line.written.front()) != std::u16string::npos &&
            value.front() != line.written.front()) {
            report.Add(Severity::Warning, file, line.number, line.key,
                       "the reader removes the quotes at both ends, so the program reads " +
                           U8(value) + "; begin the value with something other than a quote");
        }
        switch (key->kind) {
            case SettingsValueKind::Bool:
                if (!EqualsNoCase(value, u"true") && !EqualsNoCase(value, u"false") &&
                    value != u"1" && value != u"0") {
                    report.Add(Severity::Error, file, line.number, line.key,
                               "\"" + U8(value) + "\" is not true or false; the program reads " +
                                   (ParseSettingsBool(value) ? "true" : "false") +
                                   " (write true, false, 1 or 0)");
                }
                break;
            case SettingsValueKind::Unsigned:
            case SettingsValueKind::Signed:
            case SettingsValueKind::Int64: {
                const NumberForm form = ClassifyNumber(value, key->kind);
                const std::string reads = ReadAs(value, key->kind);
                const std::string quoted = "\"" + U8(value) + "\"";
                switch (form) {
                    case NumberForm::Plain:
                        break;
                    case NumberForm::Octal:
                        report.Add(Severity::Warning, file, line.number, line.key,
                                   quoted + " has a leading 0 and is read as octal: " + reads);
                        break;
                    case NumberForm::NoDigits:
                    case NumberForm::Trailing:
                        report.Add(Severity::Error, file, line.number, line.key,
                                   quoted + " is not " + KindName(key->kind) +
                                       "; the program reads " + reads +
                                       " (decimal, 0x for hexadecimal)");
                        break;
                    case NumberForm::Negative:
                    case NumberForm::OutOfRange:
                        report.Add(Severity::Error, file, line.number, line.key,
                                   quoted + " is out of range; the program reads " + reads);
                        break;
                }
                break;
            }
            case SettingsValueKind::List: {
                std::set<std::u16string> files;
                std::set<std::u16string> folders;
                for (const std::u16string& f : inputs.destinationFiles) files.insert(FoldedKey(Backslashed(f)));
                for (const std::u16string& f : inputs.destinationFolders) folders.insert(FoldedKey(Backslashed(f)));
                for (const std::u16string& item : SplitWritableItems(value)) {
                    std::string reason;
                    if (item.empty()) {
                        report.Add(Severity::Error, file, line.number, line.key,
                                   "a piece made only of dots and backslashes names no item");
                        continue;
                    }
                    if (!CheckRelativePath(item, reason)) {
                        report.Add(Severity::Error, file, line.number, line.key,
                                   "\"" + U8(item) + "\": " + reason);
                        continue;
                    }
                    const bool folder = item.back() == u'\\' || item.back() == u'/';
                    const std::u16string path = FoldedKey(Backslashed(item));
                    if (!folder && folders.count(path) != 0) {
                        report.Add(Severity::Error, file, line.number, line.key,
                                   "\"" + U8(item) + "\" is a folder of the package; end it with "
                                   "\"\\\" or it is left locked");
                    } else if (folder && files.count(path) != 0) {
                        report.Add(Severity::Error, file, line.number, line.key,
                                   "\"" + U8(item) + "\" is a file of the package; without the "
                                   "trailing \"\\\" it is made writable, with it nothing is");
                    } else if (!folder && files.count(path) == 0) {
                        // A missing folder item is created, and so is a missing file item
                        // whose folder exists; only a file in a missing folder is not.
                        const std::size_t slash = path.rfind(u'\\');
                        if (slash != std::u16string::npos && folders.count(path.substr(0, slash)) == 0) {
                            report.Add(Severity::Warning, file, line.number, line.key,
                                       "\"" + U8(item) + "\" is not in the package and neither "
                                       "is its folder, so nothing is created");
                        }
                    }
                }
                break;
            }
            case SettingsValueKind::String:
            case SettingsValueKind::Unread:
                break;
        }
    }

    // What the program makes of the whole: its own loader over the file.
    IniProfile profile(ini);
    PackageSettings settings;
    settings.LoadFrom(profile);
    const auto lineOf = [&profile](const char16_t* section, const char16_t* key) {
        const IniLine* line = profile.Find(section, key);
        return line ? line->number : 0;
    };
    const auto present = [&profile](const char16_t* section, const char16_t* key) {
        const IniLine* line = profile.Find(section, key);
        return line != nullptr && PresentSettingsValue(line->value).has_value();
    };

    // Restrictions.
    if (present(u"Restriction", u"OSBuildMin") && !present(u"Restriction", u"OSVersionMin")) {
        report.Add(Severity::Error, file, lineOf(u"Restriction", u"OSBuildMin"), u"OSBuildMin",
                   "read only together with OSVersionMin, which is missing; the build is ignored");
    }
    if (present(u"Restriction", u"OSVersionMin")) {
        const std::uint32_t version = settings.OSVersionMin;
        const int at = lineOf(u"Restriction", u"OSVersionMin");
        const std::uint32_t major = version >> 16;
        const std::uint32_t minor = version & 0xFFFF;
        if (version != 0 && major == 0) {
            report.Add(Severity::Error, file, at, u"OSVersionMin",
                       Hex32(version) + " means Windows 0." + std::to_string(minor) +
                           ", which every Windows passes; the word is major << 16 | minor (Windows "
                           "10 is 0x000A0000, Windows 7 is 0x00060001)");
        } else if (version > 0x000A0000u) {
            report.Add(Severity::Error, file, at, u"OSVersionMin",
                       Hex32(version) + " means Windows " + std::to_string(major) + "." +
                           std::to_string(minor) +
                           ", which no Windows reports (Windows 11 is 10.0 from build 22000): "
                           "the package can never run");
        }
        if (present(u"Restriction", u"OSBuildMin")) {
            const std::uint32_t build = settings.OSBuildMin;
            if (build != 0 && (build >> 16) == 0) {
                char example[64];
                std::snprintf(example, sizeof example, "0x%04X0000", build & 0xFFFF);
                report.Add(Severity::Warning, file, lineOf(u"Restriction", u"OSBuildMin"),
                           u"OSBuildMin",
                           Hex32(build) + " means build 0 with service pack " +
                               std::to_string(build) + "; build " + std::to_string(build) +
                               " is written " + example + " (build << 16 | service pack)");
            }
        }
    }
    if (settings.CheckManufacturer && settings.ManufacturerName.empty()) {
        report.Add(Severity::Warning, file, lineOf(u"Restriction", u"CheckManufacturer"),
                   u"CheckManufacturer",
                   "no ManufacturerName: only computers that report no manufacturer pass");
    }
    if (!settings.CheckManufacturer && !settings.ManufacturerName.empty()) {
        report.Add(Severity::Warning, file, lineOf(u"Restriction", u"ManufacturerName"),
                   u"ManufacturerName", "has no effect unless CheckManufacturer is true");
    }
    if (!settings.CheckDigitalSignature && !settings.DigitalSignatureSignerName.empty()) {
        report.Add(Severity::Warning, file, lineOf(u"Restriction", u"DigitalSignatureSignerName"),
                   u"DigitalSignatureSignerName",
                   "has no effect unless CheckDigitalSignature is true");
    }
    if (settings.CheckDigitalSignature) {
        const int at = lineOf(u"Restriction", u"CheckDigitalSignature");
        if (!inputs.programSigned.has_value()) {
            report.Add(Severity::Warning, file, at, u"CheckDigitalSignature",
                       "sign the packed program before it ships; unsigned it ends with "
                       "0x80040007");
        } else if (!*inputs.programSigned) {
            report.Add(Severity::Error, file, at, u"CheckDigitalSignature",
                       "the program file carries no signature: it will end with 0x80040007");
        }
    }

    // Extraction.
    if (!settings.SpecifiedExtractFolder) {
        for (const char16_t* key :
             {u"SelectExtractFolder", u"TargetParentFolderType", u"TargetFolderName"}) {
            if (present(u"Extraction", key)) {
                report.Add(Severity::Warning, file, lineOf(u"Extraction", key), key,
                           "has no effect unless SpecifiedExtractFolder is true");
            }
        }
    }
    if (present(u"Extraction", u"TargetParentFolderType") &&
        (settings.TargetParentFolderType < 0 || settings.TargetParentFolderType > 2)) {
        report.Add(Severity::Error, file, lineOf(u"Extraction", u"TargetParentFolderType"),
                   u"TargetParentFolderType",
                   std::to_string(settings.TargetParentFolderType) +
                       " is none of 0 (the program's folder), 1 (the desktop) and 2 (Downloads); "
                       "the folder would go to the root of the current drive");
    }
    if (!settings.TargetFolderName.empty()) {
        std::string reason;
        if (!CheckRelativePath(settings.TargetFolderName, reason)) {
            report.Add(Severity::Error, file, lineOf(u"Extraction", u"TargetFolderName"),
                       u"TargetFolderName", reason);
        }
    }
    if (present(u"Package", u"TotalFileSize")) {
        const int at = lineOf(u"Package", u"TotalFileSize");
        if (settings.TotalFileSize < 0) {
            report.Add(Severity::Error, file, at, u"TotalFileSize", "negative");
        } else if (!inputs.totalFileSizeAdded &&
                   static_cast<std::uint64_t>(settings.TotalFileSize) < inputs.payloadBytes) {
            report.Add(Severity::Warning, file, at, u"TotalFileSize",
                       std::to_string(settings.TotalFileSize) + " is less than the payload's " +
                           std::to_string(inputs.payloadBytes) +
                           " bytes: the free-space check asks for too little (leave the key out "
                           "and quarrypack fills it in)");
        }
    }

    // Message.
    if (present(u"Message", u"DialogButtonType")) {
        const IniLine* line = profile.Find(u"Message", u"DialogButtonType");
        const std::uint32_t type = ParseSettingsUnsigned(line->value);
        if (type > 1) {
            report.Add(Severity::Warning, file, line->number, u"DialogButtonType",
                       std::to_string(type) + " gives OK and Cancel like 0; only 1 gives OK alone");
        }
    }
    const bool shown = settings.ShowMessageBox || settings.ShowMessageBoxWhenSilent;
    if (shown && inputs.messageFile.empty()) {
        const char16_t* key = settings.ShowMessageBox ? u"ShowMessageBox" : u"ShowMessageBoxWhenSilent";
        report.Add(Severity::Warning, file, lineOf(u"Message", key), key,
                   "the package carries no MessageInfo.xml, so nothing is shown");
    }
    if (!inputs.messageFile.empty()) {
        if (!shown) {
            report.Add(Severity::Warning, inputs.messageFile, 0, u"",
                       "never shown: [Message] sets neither ShowMessageBox nor "
                       "ShowMessageBoxWhenSilent");
        }
        CheckMessageFile(inputs, report);
    }

    // Execution.
    std::set<std::u16string> files;
    for (const std::u16string& f : inputs.destinationFiles) files.insert(FoldedKey(Backslashed(f)));
    const char16_t* const kSections[] = {u"Execution_x86", u"Execution_x64"};
    const ExecutionSettings* records[] = {&settings.Execution_x86, &settings.Execution_x64};
    const bool anyFile = !records[0]->FileName.empty() || !records[1]->FileName.empty();
    if (!anyFile) {
        report.Add(Severity::Warning, file, 0, u"FileName",
                   "neither [Execution_x86] nor [Execution_x64] names a file: the package is "
                   "extracted and nothing is started");
    }
    for (int i = 0; i < 2; ++i) {
        const char16_t* section = kSections[i];
        const ExecutionSettings& record = *records[i];
        if (record.FileName.empty()) {
            if (anyFile) {
                const IniSection* header = nullptr;
                for (const IniSection& s : ini.sections) {
                    if (s.first && EqualsNoCase(s.name, section)) header = &s;
                }
                report.Add(Severity::Warning, file, header ? header->line : 0, u"FileName",
                           "[" + U8(section) + "] names no file: on " +
                               (i == 0 ? "32-bit" : "64-bit") +
                               " Windows nothing is started (there is no fallback to [" +
                               U8(kSections[1 - i]) + "])");
            }
        } else {
            const int at = lineOf(section, u"FileName");
            std::string reason;
            if (record.FileName.find(u'%') != std::u16string::npos &&
                IsPlaceholderStart(record.FileName, record.FileName.find(u'%'))) {
                report.Add(Severity::Error, file, at, u"FileName",
                           "placeholders are replaced in the arguments only, not in FileName");
            } else if (!CheckRelativePath(record.FileName, reason)) {
                report.Add(Severity::Error, file, at, u"FileName", reason);
            } else if (files.count(FoldedKey(Backslashed(record.FileName))) == 0) {
                report.Add(Severity::Error, file, at, u"FileName",
                           "\"" + U8(record.FileName) + "\" [" + U8(section) +
                               "] is not in the payload or a flat or named group; nothing would "
                               "be started and the run would end with 0");
            }
        }
        for (const char16_t* key :
             {u"Options", u"AdditionalOptionsForGuiMode", u"AdditionalOptionsForSilentMode"}) {
            const IniLine* line = profile.Find(section, key);
            if (line == nullptr) continue;
            const std::u16string& text = line->value;
            for (std::size_t at = text.find(u'%'); at != std::u16string::npos;
                 at = text.find(u'%', at + 1)) {
                if (!IsPlaceholderStart(text, at)) continue;
                const std::size_t close = text.find(u'%', at + 1);
                const std::u16string token =
                    text.substr(at, close == std::u16string::npos ? std::u16string::npos : close - at + 1);
                if (token != u"%QUARRYTOOLROOT%" && token != u"%QUARRYTOOLTEMP%") {
                    report.Add(Severity::Error, file, line->number, key,
                               "\"" + U8(token) + "\" is left as it is: the placeholders are "
                               "%QUARRYTOOLROOT% and %QUARRYTOOLTEMP%, in capitals");
                }
                if (close == std::u16string::npos) break;
                at = close;
            }
        }
        if (present(section, u"WaitMode")) {
            const IniLine* line = profile.Find(section, u"WaitMode");
            const std::uint32_t mode = ParseSettingsUnsigned(line->value);
            if ((mode & ~3u) != 0) {
                report.Add(Severity::Warning, file, line->number, u"WaitMode",
                           "only bits 0 (1: wait for the program and its processes) and 1 (2: "
                           "wait for the files to be released) mean anything; the rest are "
                           "ignored");
            }
        }
        if (present(section, u"WaitTimeout") && !record.waitTimed) {
            report.Add(Severity::Warning, file, lineOf(section, u"WaitTimeout"), u"WaitTimeout",
                       "has no effect unless WaitMode has bit 0 set (WaitMode=1 or 3)");
        }
    }

    // The settings file's lines first, in order, then the other files'.
    std::stable_sort(findings.begin(), findings.end(), [&file](const Finding& a, const Finding& b) {
        const int rankA = a.file == file ? 0 : 1;
        const int rankB = b.file == file ? 0 : 1;
        return rankA != rankB ? rankA < rankB : a.line < b.line;
    });
    return findings;
}

}  // namespace quarry::pack
