#include "app/CommandLine.h"

#include "common/Text.h"

namespace quarry {

namespace {

constexpr std::size_t kEnd = std::u16string::npos;

// Tokens are separated by U+0020 only. A call skips spaces from `pos`, takes
// the token up to the next space or the end, and leaves `pos` just after the
// one delimiter it consumed; with nothing but spaces left it returns an empty
// token and sets `pos` to kEnd.
std::u16string NextToken(const std::u16string& text, std::size_t& pos) {
    if (pos == kEnd || pos >= text.size()) {
        pos = kEnd;
        return std::u16string();
    }
    const std::size_t begin = text.find_first_not_of(u' ', pos);
    if (begin == kEnd) {
        pos = kEnd;
        return std::u16string();
    }
    std::size_t end = text.find(u' ', begin);
    if (end == kEnd) end = text.size();
    pos = end + 1;
    return std::u16string(TrimWhite(std::u16string_view(text).substr(begin, end - begin)));
}

std::u16string Rest(const std::u16string& text, std::size_t pos) {
    return pos == kEnd || pos >= text.size() ? std::u16string() : text.substr(pos);
}

bool IsSwitch(const std::u16string& token, const char* name) {
    if (token.size() < 2 || (token[0] != u'-' && token[0] != u'/')) return false;
    return EqualsNoCase(std::u16string_view(token).substr(1), Ascii(name));
}

// The argument of "-log" from `pos`: a token, or text in double quotes
// (spaces included, the quotes dropped). Empty, with `pos` unchanged, when
// there is none or the quote is not closed.
std::u16string LogPathArgument(const std::u16string& text, std::size_t& pos) {
    if (pos == kEnd || pos >= text.size()) return std::u16string();
    const std::size_t begin = text.find_first_not_of(u' ', pos);
    if (begin == kEnd) return std::u16string();
    if (text[begin] != u'"') {
        std::size_t next = pos;
        return NextToken(text, next).empty() ? std::u16string() : NextToken(text, pos);
    }
    const std::size_t close = text.find(u'"', begin + 1);
    if (close == kEnd || close == begin + 1) return std::u16string();
    pos = close + 1 < text.size() && text[close + 1] == u' ' ? close + 2 : close + 1;
    return text.substr(begin + 1, close - begin - 1);
}

}  // namespace

CommandLineOptions ParseCommandLine(const std::u16string& tail) {
    CommandLineOptions options;
    bool first = true;
    bool silentSeen = false;
    bool continueSeen = false;
    bool debugSeen = false;
    bool logSeen = false;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t start = pos;
        const std::u16string token = NextToken(tail, pos);
        if (token.empty()) {
            // Only spaces remain; they stay as they are.
            options.extraArguments = Rest(tail, start);
            return options;
        }
        if (first && IsSwitch(token, "run")) break;
        first = false;
        if (!silentSeen && IsSwitch(token, "s")) {
            options.silent = silentSeen = true;
        } else if (!continueSeen && IsSwitch(token, "cont")) {
            options.askAfterIntegrityFailure = continueSeen = true;
        } else if (!debugSeen && IsSwitch(token, "debug")) {
            options.askAfterRestrictionFailure = debugSeen = true;
        } else if (!logSeen && IsSwitch(token, "log") &&
                   !(options.logPath = LogPathArgument(tail, pos)).empty()) {
            logSeen = true;
        } else if (IsSwitch(token, "p")) {
            options.extraArguments = Rest(tail, pos);
            return options;
        } else {
            // The token and everything after it are passed on verbatim.
            options.extraArguments = Rest(tail, start);
            return options;
        }
    }

    options.runMode = true;
    options.runEventGuid = NextToken(tail, pos);
    if (options.runEventGuid.empty()) return options;
    options.runRequest = NextToken(tail, pos);
    if (options.runRequest.empty()) return options;
    options.extraArguments = Rest(tail, pos);
    return options;
}

}  // namespace quarry
