#include "ui/DialogTemplate.h"

#include <algorithm>
#include <utility>

namespace quarry {
namespace {

constexpr std::uint16_t kExtendedSignature = 0xFFFF;
constexpr std::uint16_t kOrdinalMarker = 0xFFFF;
constexpr std::uint16_t kDefaultPointSize = 9;
constexpr std::uint16_t kDefaultWeight = 400;  // FW_NORMAL
constexpr std::u16string_view kShellDialogFace = u"MS Shell Dlg";

constexpr std::size_t AlignUp4(std::size_t offset) { return (offset + 3) & ~std::size_t{3}; }

// Bounds-checked little-endian reads; the first read past the end makes
// every later one fail too.
class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::size_t Offset() const { return offset_; }

    bool Skip(std::size_t count) {
        if (count > size_ - offset_) return false;
        offset_ += count;
        return true;
    }
    bool Byte(std::uint8_t& value) {
        if (size_ - offset_ < 1) return false;
        value = data_[offset_++];
        return true;
    }
    bool Word(std::uint16_t& value) {
        if (size_ - offset_ < 2) return false;
        value = static_cast<std::uint16_t>(data_[offset_] | data_[offset_ + 1] << 8);
        offset_ += 2;
        return true;
    }
    bool Short(std::int16_t& value) {
        std::uint16_t word = 0;
        if (!Word(word)) return false;
        value = static_cast<std::int16_t>(word);
        return true;
    }
    bool Dword(std::uint32_t& value) {
        std::uint16_t low = 0, high = 0;
        if (!Word(low) || !Word(high)) return false;
        value = static_cast<std::uint32_t>(high) << 16 | low;
        return true;
    }
    // Zero-terminated UTF-16; `first` is a unit already read.
    bool Text(std::u16string& text, std::uint16_t first) {
        for (std::uint16_t unit = first; unit != 0;) {
            text.push_back(static_cast<char16_t>(unit));
            if (!Word(unit)) return false;
        }
        return true;
    }
    bool Text(std::u16string& text) {
        std::uint16_t first = 0;
        return Word(first) && Text(text, first);
    }
    // 0x0000: nothing; 0xFFFF: an ordinal follows; otherwise a text.
    bool NameOrOrdinal(DialogNameOrOrdinal& field) {
        std::uint16_t first = 0;
        if (!Word(first)) return false;
        if (first == kOrdinalMarker) return Word(field.ordinal);
        return Text(field.name, first);
    }
    bool AlignTo4() { return Skip(AlignUp4(offset_) - offset_); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t offset_ = 0;
};

bool ReadItem(Reader& reader, bool extended, DialogItem& item) {
    if (!reader.AlignTo4()) return false;
    if (extended) {
        if (!reader.Dword(item.helpId) || !reader.Dword(item.exStyle) || !reader.Dword(item.style)) {
            return false;
        }
    } else if (!reader.Dword(item.style) || !reader.Dword(item.exStyle)) {
        return false;
    }
    if (!reader.Short(item.x) || !reader.Short(item.y) || !reader.Short(item.cx) ||
        !reader.Short(item.cy)) {
        return false;
    }
    if (extended) {
        if (!reader.Dword(item.id)) return false;
    } else {
        std::uint16_t id = 0;
        if (!reader.Word(id)) return false;
        item.id = id;
    }
    // The creation-data word counts the bytes after it, the way the dialog
    // manager steps over them.
    return reader.NameOrOrdinal(item.windowClass) && reader.NameOrOrdinal(item.text) &&
           reader.Word(item.creationDataSize) && reader.Skip(item.creationDataSize);
}

void PutWord(std::uint8_t* at, std::uint16_t value) {
    at[0] = static_cast<std::uint8_t>(value & 0xFF);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

}  // namespace

std::optional<DialogTemplateLayout> ReadDialogTemplate(const std::uint8_t* data, std::size_t size) {
    if (!data) return std::nullopt;
    Reader reader(data, size);
    DialogTemplateLayout layout;
    std::uint16_t version = 0, signature = 0, itemCount = 0;
    if (!reader.Word(version) || !reader.Word(signature)) return std::nullopt;
    layout.extended = signature == kExtendedSignature;
    if (layout.extended) {
        if (version != 1 || !reader.Dword(layout.helpId) || !reader.Dword(layout.exStyle)) {
            return std::nullopt;
        }
        layout.styleOffset = reader.Offset();
        if (!reader.Dword(layout.style)) return std::nullopt;
    } else {
        // The classic layout starts with the style; the two words just read
        // are its halves.
        layout.styleOffset = 0;
        layout.style = static_cast<std::uint32_t>(signature) << 16 | version;
        if (!reader.Dword(layout.exStyle)) return std::nullopt;
    }
    if (!reader.Word(itemCount) || !reader.Short(layout.x) || !reader.Short(layout.y) ||
        !reader.Short(layout.cx) || !reader.Short(layout.cy) ||
        !reader.NameOrOrdinal(layout.menu) || !reader.NameOrOrdinal(layout.windowClass) ||
        !reader.Text(layout.title)) {
        return std::nullopt;
    }

    layout.fontOffset = reader.Offset();
    layout.faceOffset = layout.fontOffset;
    if (layout.style & kDialogStyleSetFont) {
        if (!reader.Word(layout.pointSize)) return std::nullopt;
        if (layout.pointSize != kDialogMessageFontSize) {
            if (layout.extended &&
                (!reader.Word(layout.weight) || !reader.Byte(layout.italic) ||
                 !reader.Byte(layout.charset))) {
                return std::nullopt;
            }
            layout.faceOffset = reader.Offset();
            layout.hasFaceName = true;
            if (!reader.Text(layout.faceName)) return std::nullopt;
        }
    }
    // A template without items may end before the boundary.
    layout.itemsOffset = AlignUp4(reader.Offset());

    // One item at a time: a damaged count must not reserve storage for
    // items that the bytes cannot hold.
    for (std::uint16_t i = 0; i < itemCount; ++i) {
        DialogItem item;
        if (!ReadItem(reader, layout.extended, item)) return std::nullopt;
        layout.items.push_back(std::move(item));
    }
    return layout;
}

std::vector<std::uint8_t> CopyDialogTemplateWithFont(const std::uint8_t* data, std::size_t size,
                                                     std::u16string_view faceName) {
    if (faceName.empty() || faceName.find(u'\0') != std::u16string_view::npos) return {};
    const std::optional<DialogTemplateLayout> layout = ReadDialogTemplate(data, size);
    if (!layout) return {};

    std::vector<std::uint8_t> copy;
    if (layout->hasFaceName && layout->faceName == faceName) {
        copy.assign(data, data + size);
    } else {
        // Kept: everything before the face name, or before the font block
        // that replaces a missing one.
        const std::size_t kept = layout->hasFaceName ? layout->faceOffset : layout->fontOffset;
        const std::size_t fontFields = layout->hasFaceName ? 0 : layout->extended ? 6 : 2;
        const std::size_t nameEnd = kept + fontFields + 2 * (faceName.size() + 1);
        const std::size_t itemBytes = size > layout->itemsOffset ? size - layout->itemsOffset : 0;
        const std::size_t itemsAt = AlignUp4(nameEnd);
        copy.assign(itemBytes ? itemsAt + itemBytes : nameEnd, 0);

        std::copy(data, data + kept, copy.begin());
        std::uint8_t* at = copy.data() + kept;
        if (!layout->hasFaceName) {
            PutWord(at, kDefaultPointSize);
            at += 2;
            if (layout->extended) {
                PutWord(at, kDefaultWeight);
                at += 4;  // italic 0, character set 0
            }
        }
        for (char16_t unit : faceName) {
            PutWord(at, unit);
            at += 2;
        }
        std::copy(data + size - itemBytes, data + size, copy.begin() + itemsAt);
    }

    std::uint32_t style = layout->style & ~kDialogStyleFixedSys;
    style |= faceName == kShellDialogFace ? kDialogStyleShellFont : kDialogStyleSetFont;
    PutWord(copy.data() + layout->styleOffset, static_cast<std::uint16_t>(style & 0xFFFF));
    PutWord(copy.data() + layout->styleOffset + 2, static_cast<std::uint16_t>(style >> 16));
    return copy;
}

}  // namespace quarry
