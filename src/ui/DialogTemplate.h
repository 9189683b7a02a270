// Dialog templates as RT_DIALOG resources store them: reading their layout,
// and copying one with another font. Works on the raw little-endian bytes of
// both layouts, the extended one (DLGTEMPLATEEX, second word 0xFFFF) and the
// classic one (DLGTEMPLATE).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quarry {

// The style bits that decide whether and how a template names its font.
constexpr std::uint32_t kDialogStyleFixedSys = 0x08;   // DS_FIXEDSYS
constexpr std::uint32_t kDialogStyleSetFont = 0x40;    // DS_SETFONT
constexpr std::uint32_t kDialogStyleShellFont = 0x48;  // DS_SHELLFONT

// Point size that means "the system's message font, no face name follows".
constexpr std::uint16_t kDialogMessageFontSize = 0x7FFF;

// A field that holds either a predefined number (ordinal not 0) or a name:
// menu, window class, item class, item text.
struct DialogNameOrOrdinal {
    std::uint16_t ordinal = 0;
    std::u16string name;
};

struct DialogItem {
    std::uint32_t helpId = 0;  // extended layout only
    std::uint32_t exStyle = 0;
    std::uint32_t style = 0;
    std::int16_t x = 0, y = 0, cx = 0, cy = 0;
    std::uint32_t id = 0;  // 16 bits in the classic layout
    DialogNameOrOrdinal windowClass;
    DialogNameOrOrdinal text;
    std::uint16_t creationDataSize = 0;  // bytes after the size word
};

// What ReadDialogTemplate finds, with the byte offsets a copy needs. Offsets
// count from the start of the template; the layout aligns every item to 4
// bytes from there.
struct DialogTemplateLayout {
    bool extended = false;
    std::uint32_t helpId = 0;  // extended layout only
    std::uint32_t exStyle = 0;
    std::uint32_t style = 0;
    std::int16_t x = 0, y = 0, cx = 0, cy = 0;
    DialogNameOrOrdinal menu;
    DialogNameOrOrdinal windowClass;
    std::u16string title;
    // The font block, present when `style` has DS_SETFONT. Weight, italic and
    // character set exist in the extended layout only.
    std::uint16_t pointSize = 0;
    std::uint16_t weight = 0;
    std::uint8_t italic = 0;
    std::uint8_t charset = 0;
    bool hasFaceName = false;  // false without DS_SETFONT or for the message font
    std::u16string faceName;
    std::vector<DialogItem> items;

    std::size_t styleOffset = 0;  // the 32-bit style
    std::size_t fontOffset = 0;   // the font block, or where one would go: after the title
    std::size_t faceOffset = 0;   // the face name; fontOffset when the template names none
    std::size_t itemsOffset = 0;  // the 4-byte boundary after the font block (or the title)
};

// Reads the template in `size` bytes at `data`. Returns nothing when the
// bytes are not a whole template: a header, name, font block or item that
// runs past `size`, an unterminated text, or an extended signature with a
// version other than 1. Never reads outside the given bytes. Bytes after
// the last item are allowed (resources are padded).
std::optional<DialogTemplateLayout> ReadDialogTemplate(const std::uint8_t* data, std::size_t size);

// A copy of the template in `size` bytes at `data` whose font is `faceName`:
// - a template that already names exactly `faceName` (case-sensitive) is
//   copied byte for byte;
// - one that names another face keeps everything up to its face name and its
//   other font fields, gets `faceName` and a terminating zero, and then its
//   items from the next 4-byte boundary;
// - one without a face (no DS_SETFONT, or the message-font size) gets a font
//   block after the title, in place of the message font's lone size word:
//   9 points and, in the extended layout, weight 400, not italic, character
//   set 0; then `faceName` and the items as above.
// Items are copied byte for byte, with whatever follows the last one. In the
// copy's style DS_FIXEDSYS is cleared and DS_SETFONT set; for exactly
// "MS Shell Dlg" DS_SHELLFONT is set instead. The copy is exactly as long as
// it needs to be: a face name that is longer than the template's, or a new
// font block, makes it grow by more than the name.
// Returns an empty vector when the template cannot be read
// (ReadDialogTemplate) or `faceName` is empty or holds a zero unit.
std::vector<std::uint8_t> CopyDialogTemplateWithFont(const std::uint8_t* data, std::size_t size,
                                                     std::u16string_view faceName);

}  // namespace quarry
