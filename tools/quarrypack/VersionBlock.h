// The version resource (RT_VERSION): a VS_VERSIONINFO block with its fixed
// file information, the StringFileInfo tables (one per language and code
// page, such as "040904b0") and the VarFileInfo translation list.
//
// The block is read as a tree of nodes (length, value length, type, key,
// value, children), edited in place and written back, so that nodes this
// code knows nothing of travel unchanged.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "Status.h"

namespace quarry::pack {

struct VersionNode {
    std::u16string key;
    bool text = false;                // wType 1: the value is a NUL-ended string
    std::vector<std::uint8_t> value;  // binary value, or the string's UTF-16LE with its NUL
    std::vector<VersionNode> children;
};

// Four 16-bit parts, "1.2.3.4".
using VersionNumber = std::array<std::uint16_t, 4>;

// Reads "A", "A.B", "A.B.C" or "A.B.C.D" (decimal parts of 0 to 65535;
// missing parts are 0). False for anything else.
bool ParseVersionNumber(const std::string& text, VersionNumber& number);

class VersionBlock {
public:
    // A block with fixed information only (all versions 0, an application
    // for 32-bit Windows) and one string table, for `language` and
    // `codePage`, named in the translation list.
    static VersionBlock Empty(std::uint16_t language, std::uint16_t codePage);

    // Errors: "version block: ..." for a block that is cut short or whose
    // root is not "VS_VERSION_INFO" with a fixed-information value.
    static Status Parse(const std::uint8_t* data, std::size_t size, VersionBlock& block);
    // Errors: "version block: longer than 65535 bytes" (its length field).
    Status Serialize(std::vector<std::uint8_t>& out) const;

    // Sets `key` to `value` in every string table (added at the end of a
    // table that lacks it).
    void SetString(const std::u16string& key, const std::u16string& value);
    void SetFileVersion(const VersionNumber& number);     // the fixed dwFileVersion
    void SetProductVersion(const VersionNumber& number);  // the fixed dwProductVersion

    struct StringTable {
        std::u16string key;  // language and code page as 8 hex digits
        std::vector<std::pair<std::u16string, std::u16string>> strings;
    };
    std::vector<StringTable> StringTables() const;
    // The translation list: language in the low word, code page in the high.
    std::vector<std::uint32_t> Translations() const;
    VersionNumber FileVersion() const;
    VersionNumber ProductVersion() const;

private:
    VersionNode root_;
};

}  // namespace quarry::pack
