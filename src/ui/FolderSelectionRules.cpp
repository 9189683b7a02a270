#include "ui/FolderSelectionRules.h"

namespace quarry {

std::u16string ShortenProductName(const std::u16string& productName) {
    if (productName.size() <= kProductNameShownLength) return productName;
    static constexpr char16_t kEllipsis[] = u"...";
    constexpr std::size_t kEllipsisLength = sizeof(kEllipsis) / sizeof(kEllipsis[0]) - 1;
    return productName.substr(0, kProductNameShownLength - kEllipsisLength) + kEllipsis;
}

}  // namespace quarry
