#include "common/PathText.h"

namespace quarry {

namespace {
bool IsPathSeparator(char16_t c) { return c == u'\\' || c == u'/'; }
}  // namespace

std::u16string FileNamePart(std::u16string_view path) {
    std::size_t start = 0;
    for (std::size_t i = 0; i + 1 < path.size(); ++i) {
        if ((IsPathSeparator(path[i]) || path[i] == u':') && !IsPathSeparator(path[i + 1])) {
            start = i + 1;
        }
    }
    return std::u16string(path.substr(start));
}

std::u16string_view ExtensionPart(std::u16string_view name) {
    // A backslash or a space after a dot means the dot did not start an
    // extension; the shell's scan forgets it there.
    std::size_t dot = std::u16string_view::npos;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == u'.') {
            dot = i;
        } else if (name[i] == u'\\' || name[i] == u' ') {
            dot = std::u16string_view::npos;
        }
    }
    return dot == std::u16string_view::npos ? std::u16string_view() : name.substr(dot);
}

std::u16string WithTrailingBackslash(std::u16string path) {
    if (path.empty() || path.back() != u'\\') path += u'\\';
    return path;
}

}  // namespace quarry
