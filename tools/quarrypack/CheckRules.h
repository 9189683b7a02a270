// The parts of CheckPackageInputs (Check.h): the rules on one key's value,
// one rule function per section of Settings.ini, and the checks of
// MessageInfo.xml. They share a view of the settings file as the program's
// profile reader sees it and what the program's loader makes of it.
#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "Check.h"
#include "settings/IniTokenizer.h"
#include "settings/PackageSettings.h"
#include "settings/SettingsKeys.h"

namespace quarry::pack {

std::string U8(std::u16string_view text);

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

// The settings file as the rules see it.
struct SettingsView {
    const CheckInputs& inputs;
    const std::string& file;  // inputs.settingsFile
    const IniTextProfile& profile;
    const PackageSettings& settings;  // the program's loader over the file
    Report& report;

    // The line the reader takes for the key, or 0 when it is absent.
    int LineOf(std::u16string_view section, std::u16string_view key) const;
    // The key's line holds a value the program reads (PresentSettingsValue).
    bool Present(std::u16string_view section, std::u16string_view key) const;
    // The line of the header the reader reads for the section, or 0.
    int SectionLine(std::u16string_view section) const;
    void Add(Severity severity, int line, std::u16string_view key, const std::string& text) const {
        report.Add(severity, file, line, key, text);
    }
};

// A relative path below the destination whose parts Windows accepts; false
// with the reason otherwise.
bool CheckRelativePath(std::u16string_view path, std::string& reason);

// The paths with "/" read as "\", no trailing "\" and folded for
// case-insensitive lookups.
std::set<std::u16string> FoldedPaths(const std::vector<std::u16string>& paths);
std::u16string FoldedPath(std::u16string_view path);

// The value of a key of the table on its line, by the key's kind (numbers,
// true or false, the list of writable items). Lines whose value is empty or
// reads as absent do not come here.
void CheckValue(const SettingsKey& key, const IniLine& line, const SettingsView& view);

// The rules that look at a section as the program reads it, one per section
// of the key table, in the table's order; then the rule over both
// execution sections.
void CheckSectionRules(const SettingsView& view);

// MessageInfo.xml as the program reads it.
void CheckMessageFile(const CheckInputs& inputs, Report& report);

}  // namespace quarry::pack
