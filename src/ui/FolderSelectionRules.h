// The product name as the folder browser's prompt shows it. Pure rules; the
// browser itself is in FolderSelection.cpp.
#pragma once

#include <cstddef>
#include <string>

namespace quarry {

// Product names up to this many characters are shown whole.
constexpr std::size_t kProductNameShownLength = 50;

// `productName` when it has at most 50 characters (UTF-16 units); otherwise
// its first 47 followed by "...", so the result is never longer than 50.
std::u16string ShortenProductName(const std::u16string& productName);

}  // namespace quarry
