#include "CheckRules.h"

#include "Names.h"
#include "common/Text.h"
#include "settings/SettingsRules.h"

namespace quarry::pack {

namespace {

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

void CheckBool(const IniLine& line, const SettingsView& view) {
    const std::u16string_view value = line.value;
    if (!EqualsNoCase(value, u"true") && !EqualsNoCase(value, u"false") && value != u"1" &&
        value != u"0") {
        view.Add(Severity::Error, line.number, line.name,
                 "\"" + U8(value) + "\" is not true or false; the program reads " +
                     (ParseSettingsBool(value) ? "true" : "false") + " (write true, false, 1 or 0)");
    }
}

void CheckNumber(SettingsValueKind kind, const IniLine& line, const SettingsView& view) {
    const std::u16string_view value = line.value;
    const NumberForm form = ClassifyNumber(value, kind);
    const std::string reads = ReadAs(value, kind);
    const std::string quoted = "\"" + U8(value) + "\"";
    switch (form) {
        case NumberForm::Plain:
            break;
        case NumberForm::Octal:
            view.Add(Severity::Warning, line.number, line.name,
                     quoted + " has a leading 0 and is read as octal: " + reads);
            break;
        case NumberForm::NoDigits:
        case NumberForm::Trailing:
            view.Add(Severity::Error, line.number, line.name,
                     quoted + " is not " + KindName(kind) + "; the program reads " + reads +
                         " (decimal, 0x for hexadecimal)");
            break;
        case NumberForm::Negative:
        case NumberForm::OutOfRange:
            view.Add(Severity::Error, line.number, line.name,
                     quoted + " is out of range; the program reads " + reads);
            break;
    }
}

// One item of WritableItems against the files and folders of the package.
void CheckWritableItem(const std::u16string& item, const IniLine& line, const SettingsView& view,
                       const std::set<std::u16string>& files,
                       const std::set<std::u16string>& folders) {
    std::string reason;
    if (item.empty()) {
        view.Add(Severity::Error, line.number, line.name,
                 "a piece made only of dots and backslashes names no item");
        return;
    }
    if (!CheckRelativePath(item, reason)) {
        view.Add(Severity::Error, line.number, line.name, "\"" + U8(item) + "\": " + reason);
        return;
    }
    const bool folder = item.back() == u'\\' || item.back() == u'/';
    const std::u16string path = FoldedPath(item);
    if (!folder && folders.count(path) != 0) {
        view.Add(Severity::Error, line.number, line.name,
                 "\"" + U8(item) + "\" is a folder of the package; end it with "
                 "\"\\\" or it is left locked");
    } else if (folder && files.count(path) != 0) {
        view.Add(Severity::Error, line.number, line.name,
                 "\"" + U8(item) + "\" is a file of the package; without the "
                 "trailing \"\\\" it is made writable, with it nothing is");
    } else if (!folder && files.count(path) == 0) {
        // A missing folder item is created, and so is a missing file item
        // whose folder exists; only a file in a missing folder is not.
        const std::size_t slash = path.rfind(u'\\');
        if (slash != std::u16string::npos && folders.count(path.substr(0, slash)) == 0) {
            view.Add(Severity::Warning, line.number, line.name,
                     "\"" + U8(item) + "\" is not in the package and neither "
                     "is its folder, so nothing is created");
        }
    }
}

void CheckWritableItems(const IniLine& line, const SettingsView& view) {
    const std::set<std::u16string> files = FoldedPaths(view.inputs.destinationFiles);
    const std::set<std::u16string> folders = FoldedPaths(view.inputs.destinationFolders);
    for (const std::u16string& item : SplitWritableItems(line.value)) {
        CheckWritableItem(item, line, view, files, folders);
    }
}

}  // namespace

void CheckValue(const SettingsKey& key, const IniLine& line, const SettingsView& view) {
    switch (key.kind) {
        case SettingsValueKind::Bool:
            CheckBool(line, view);
            break;
        case SettingsValueKind::Unsigned:
        case SettingsValueKind::Signed:
        case SettingsValueKind::Int64:
            CheckNumber(key.kind, line, view);
            break;
        case SettingsValueKind::List:
            CheckWritableItems(line, view);
            break;
        case SettingsValueKind::String:
        case SettingsValueKind::Unread:
            break;
    }
}

}  // namespace quarry::pack
