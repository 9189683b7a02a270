// Feeds arbitrary bytes to the dialog-template reader and the font copy.
// Whatever the bytes, neither may crash or read out of bounds, and a copy of
// a template the reader accepts must read back with the new face name, the
// same items and the font styles set.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "ui/DialogTemplate.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quarry;
    const std::optional<DialogTemplateLayout> layout = ReadDialogTemplate(data, size);
    for (std::u16string_view face : {u"MS Shell Dlg", u"Meiryo UI"}) {
        const std::vector<std::uint8_t> copy = CopyDialogTemplateWithFont(data, size, face);
        if (copy.empty() != !layout) std::abort();
        if (!layout) continue;
        const std::optional<DialogTemplateLayout> after = ReadDialogTemplate(copy.data(), copy.size());
        if (!after || after->faceName != face || after->items.size() != layout->items.size()) {
            std::abort();
        }
        if (!(after->style & kDialogStyleSetFont)) std::abort();
        if (((after->style & kDialogStyleFixedSys) != 0) != (face == u"MS Shell Dlg")) std::abort();
        for (std::size_t i = 0; i < layout->items.size(); ++i) {
            if (after->items[i].id != layout->items[i].id ||
                after->items[i].text.name != layout->items[i].text.name) {
                std::abort();
            }
        }
    }
    return 0;
}
