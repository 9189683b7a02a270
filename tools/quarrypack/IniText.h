// The settings file as text: the encodings accepted as input, the stored
// form (UTF-16LE with byte-order mark) and the one key the packager adds,
// matched the way the platform's profile reader matches names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Status.h"

namespace quarry::pack {

enum class TextEncoding { Utf8, Utf8WithBom, Utf16LE, Utf16BE };

// Decodes settings text: UTF-8 with or without byte-order mark, or UTF-16
// little or big endian with one. Malformed UTF-8, an odd number of UTF-16
// bytes and NUL characters (UTF-16 without a byte-order mark, most likely)
// are refused. The byte-order mark is not part of `text`.
Status DecodeSettingsText(const std::vector<std::uint8_t>& bytes, std::u16string& text,
                          TextEncoding& encoding);

// UTF-16LE bytes with a leading byte-order mark.
std::vector<std::uint8_t> EncodeUtf16LeWithBom(std::u16string_view text);

// True when the first section named `section` holds a line for `key`.
// Section and key names are trimmed and compared without regard to case, as
// GetPrivateProfileStringW does; a line without "=" names a key too.
bool HasProfileKey(std::u16string_view text, std::u16string_view section, std::u16string_view key);

// Appends "key=value" as the last line of the first section named `section`
// (before any blank lines that end it), or adds the section at the end of the
// text when there is none. New lines end like the text's first line (CR LF
// when it has no line end).
void AddProfileKey(std::u16string& text, std::u16string_view section, std::u16string_view key,
                   std::u16string_view value);

}  // namespace quarry::pack
