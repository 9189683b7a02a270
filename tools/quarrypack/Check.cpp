#include "Check.h"

#include <algorithm>
#include <map>

#include "CheckRules.h"
#include "Names.h"
#include "common/Text.h"
#include "package/PackageFormat.h"
#include "settings/SettingsRules.h"

namespace quarry::pack {

std::string U8(std::u16string_view text) { return Utf16ToUtf8(text); }

int SettingsView::LineOf(std::u16string_view section, std::u16string_view key) const {
    const IniLine* line = profile.Find(section, key);
    return line ? line->number : 0;
}

bool SettingsView::Present(std::u16string_view section, std::u16string_view key) const {
    const IniLine* line = profile.Find(section, key);
    return line != nullptr && PresentSettingsValue(line->value).has_value();
}

int SettingsView::SectionLine(std::u16string_view section) const {
    const std::vector<IniLine>& lines = profile.Lines();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind == IniLineKind::Section && profile.InReadSection(i) &&
            EqualsNoCase(lines[i].name, section)) {
            return lines[i].number;
        }
    }
    return 0;
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

std::u16string FoldedPath(std::u16string_view path) {
    std::u16string out(path);
    std::replace(out.begin(), out.end(), u'/', u'\\');
    while (!out.empty() && out.back() == u'\\') out.pop_back();
    return FoldedKey(out);
}

std::set<std::u16string> FoldedPaths(const std::vector<std::u16string>& paths) {
    std::set<std::u16string> folded;
    for (const std::u16string& path : paths) folded.insert(FoldedPath(path));
    return folded;
}

namespace {

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

std::vector<std::u16string> TableSections() {
    std::size_t tableSize = 0;
    const SettingsKey* table = SettingsKeyTable(tableSize);
    std::vector<std::u16string> sectionNames;
    for (std::size_t i = 0; i < tableSize; ++i) {
        const std::u16string section(table[i].section);
        if (std::find(sectionNames.begin(), sectionNames.end(), section) == sectionNames.end()) {
            sectionNames.push_back(section);
        }
    }
    return sectionNames;
}

// What the file's structure says as each line is read: headers, keys,
// repeats and the values' spelling; the values themselves by their kind.
class LineChecks {
public:
    explicit LineChecks(const SettingsView& view) : view_(view) {}

    void Check(std::size_t index) {
        const IniLine& line = view_.profile.Lines()[index];
        if (line.kind == IniLineKind::Section) {
            CheckHeader(index, line);
        } else if (line.kind == IniLineKind::Key) {
            CheckKey(index, line);
        } else if (line.kind == IniLineKind::BrokenSection) {
            view_.Add(Severity::Warning, line.number, u"",
                      "a section header without \"]\"; the lines below belong to the "
                      "section before it");
        }
    }

private:
    void CheckHeader(std::size_t index, const IniLine& line);
    void CheckKey(std::size_t index, const IniLine& line);
    void UnknownKey(std::u16string_view section, const IniLine& line);
    bool CheckSpelling(const IniLine& line);

    const SettingsView& view_;
    const std::vector<std::u16string> sectionNames_ = TableSections();
    std::map<std::u16string, int> firstSectionLine_;
    std::map<std::u16string, int> firstKeyLine_;
};

void LineChecks::CheckHeader(std::size_t index, const IniLine& line) {
    const std::u16string name(line.name);
    const std::u16string folded = FoldedKey(name);
    if (!IsSettingsSection(name)) {
        const std::u16string near = NearestName(name, sectionNames_);
        if (!near.empty()) {
            view_.Add(Severity::Error, line.number, u"[" + name + u"]",
                      "unknown section; did you mean [" + U8(near) + "]?");
        } else {
            view_.Add(Severity::Warning, line.number, u"[" + name + u"]",
                      "unknown section; nothing reads it");
        }
    } else if (!view_.profile.InReadSection(index)) {
        view_.Add(Severity::Warning, line.number, u"[" + name + u"]",
                  "given again (first at line " + std::to_string(firstSectionLine_[folded]) +
                      "); the program reads only the first, so the keys below are ignored");
    }
    firstSectionLine_.emplace(folded, line.number);
}

void LineChecks::UnknownKey(std::u16string_view section, const IniLine& line) {
    std::size_t tableSize = 0;
    const SettingsKey* table = SettingsKeyTable(tableSize);
    std::vector<std::u16string> keys;
    for (std::size_t i = 0; i < tableSize; ++i) {
        if (EqualsNoCase(table[i].section, section)) keys.emplace_back(table[i].key);
    }
    std::u16string near = NearestName(line.name, keys);
    std::string where = "unknown key in [" + U8(section) + "]";
    if (near.empty()) {
        // Perhaps a key of another section.
        for (std::size_t i = 0; i < tableSize; ++i) {
            if (EqualsNoCase(table[i].key, line.name)) {
                where += "; " + U8(table[i].key) + " belongs in [" + U8(table[i].section) + "]";
                break;
            }
        }
    } else {
        where += "; did you mean " + U8(near) + "?";
    }
    view_.Add(Severity::Error, line.number, line.name, where);
}

// The value as written against what the reader hands over: false when
// nothing more is to be said about it.
bool LineChecks::CheckSpelling(const IniLine& line) {
    if (line.value.size() > kSettingsValueCapacity - 1) {
        view_.Add(Severity::Error, line.number, line.name,
                  "the value is " + std::to_string(line.value.size()) +
                      " characters long; the program reads only the first " +
                      std::to_string(kSettingsValueCapacity - 1));
    }
    if (line.value == kSettingsAbsentText) {
        view_.Add(Severity::Warning, line.number, line.name,
                  "a value of exactly \"Error\" reads as absent");
        return false;
    }
    // `"a" "b"` arrives as `a" "b`: the quotes the author meant to keep
    // are lost. A value that begins with the quote again, as in
    // `""Widget Tool.msi" /qn"`, is the way to keep them, and is meant.
    const std::u16string_view value = line.value;
    if (line.written.size() != value.size() &&
        value.find(line.written.front()) != std::u16string_view::npos &&
        value.front() != line.written.front()) {
        view_.Add(Severity::Warning, line.number, line.name,
                  "the reader removes the quotes at both ends, so the program reads " + U8(value) +
                      "; begin the value with something other than a quote");
    }
    return true;
}

void LineChecks::CheckKey(std::size_t index, const IniLine& line) {
    const int header = view_.profile.SectionOf(index);
    if (header < 0) {
        view_.Add(Severity::Warning, line.number, line.name, "outside any section; nothing reads it");
        return;
    }
    const std::u16string_view section = view_.profile.Lines()[header].name;
    if (!IsSettingsSection(section) || !view_.profile.InReadSection(index)) return;
    const SettingsKey* key = FindSettingsKey(section, line.name);
    if (key == nullptr) return UnknownKey(section, line);
    const std::u16string id = FoldedKey(std::u16string(section) + u"\n" + std::u16string(line.name));
    const auto [first, added] = firstKeyLine_.emplace(id, line.number);
    if (!added) {
        view_.Add(Severity::Warning, line.number, line.name,
                  "given again in [" + U8(section) + "] (first at line " +
                      std::to_string(first->second) + "); the program reads the first");
        return;
    }
    if (!line.hasEquals) {
        view_.Add(Severity::Warning, line.number, line.name, "no \"=\"; the key reads as absent");
        return;
    }
    if (key->kind == SettingsValueKind::Unread || line.value.empty()) return;
    if (CheckSpelling(line)) CheckValue(*key, line, view_);
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
    IniTextProfile profile(settingsText);
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
    Report report(findings);
    IniTextProfile profile(inputs.settingsText);
    // What the program makes of the whole: its own loader over the file.
    PackageSettings settings;
    settings.LoadFrom(profile);
    const SettingsView view{inputs, file, profile, settings, report};

    LineChecks lines(view);
    for (std::size_t i = 0; i < profile.Lines().size(); ++i) lines.Check(i);
    CheckSectionRules(view);

    // The settings file's lines first, in order, then the other files'.
    std::stable_sort(findings.begin(), findings.end(), [&file](const Finding& a, const Finding& b) {
        const int rankA = a.file == file ? 0 : 1;
        const int rankB = b.file == file ? 0 : 1;
        return rankA != rankB ? rankA < rankB : a.line < b.line;
    });
    return findings;
}

}  // namespace quarry::pack
