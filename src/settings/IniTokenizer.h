// The lines of a settings file as the platform's profile reader
// (GetPrivateProfileStringW) splits and reads them, and a ProfileSource over
// that text. The program itself reads its copied "Settings.ini" through the
// platform's reader; this is the same reading in pure code, for the
// packager (which adds keys and checks what the program will make of the
// file) and for the tests that hold the two readings together.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "settings/PackageSettings.h"

namespace quarry {

enum class IniLineKind {
    Blank,          // nothing but white space
    Comment,        // first non-white character ";"
    Section,        // "[name]": the name is what lies between "[" and the last "]"
    BrokenSection,  // "[" without a "]": no header; the section before goes on
    Key,            // any other line: "key=value", or a key without "="
};

// One line. The views point into the tokenized text.
struct IniLine {
    IniLineKind kind = IniLineKind::Blank;
    int number = 0;          // 1 for the first line
    std::size_t start = 0;   // first unit in the text
    std::size_t end = 0;     // one past the last unit, line end excluded
    std::size_t next = 0;    // first unit of the following line
    bool terminated = false;  // followed by a line end
    std::u16string_view name;  // Section: the name; Key: the key (both trimmed)
    bool hasEquals = false;    // Key: the line holds "="
    std::u16string_view written;  // Key: the value after the first "=", trimmed
    std::u16string_view value;    // Key: `written` without one pair of enclosing
                                  // double or single quotes, as the reader returns it
};

// Splits at CR LF, at LF and at a lone CR (so files with old Mac line ends
// read line by line too); the text after the last line end is a line when
// it is not empty. White space is trimmed as TrimWhite does.
std::vector<IniLine> TokenizeIni(std::u16string_view text);

// The reader's lookup over tokenized text: only the first section of a name
// is read, in it the first line of the key (names compared without regard
// to case); an absent key, and a key line without "=", give the default
// text, and every result is cut to `capacity` - 1 characters.
class IniTextProfile : public ProfileSource {
public:
    // `text` must outlive the object.
    explicit IniTextProfile(std::u16string_view text);

    // The line the reader takes for (section, key), or null.
    const IniLine* Find(std::u16string_view section, std::u16string_view key) const;

    // Every line, and for each whether it lies in the first section of its
    // name (the one the reader reads): false before any header and for
    // every line of a repeated section.
    const std::vector<IniLine>& Lines() const { return lines_; }
    bool InReadSection(std::size_t lineIndex) const { return read_[lineIndex]; }
    // The index of the section header a line follows, or -1 before any.
    int SectionOf(std::size_t lineIndex) const { return sectionOf_[lineIndex]; }

    std::u16string Read(const std::u16string& section, const std::u16string& key,
                        const std::u16string& defaultText, std::size_t capacity) override;

private:
    std::vector<IniLine> lines_;
    std::vector<bool> read_;
    std::vector<int> sectionOf_;
};

}  // namespace quarry
