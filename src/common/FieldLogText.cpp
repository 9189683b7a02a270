#include "common/FieldLogText.h"

#include <cstdio>

#include "common/Text.h"

namespace quarry {

std::string FormatLogLine(const LogTime& time, std::uint32_t processId,
                          std::u16string_view phase, std::u16string_view text) {
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u.%03u [%lu] ",
                  static_cast<unsigned>(time.year), static_cast<unsigned>(time.month),
                  static_cast<unsigned>(time.day), static_cast<unsigned>(time.hour),
                  static_cast<unsigned>(time.minute), static_cast<unsigned>(time.second),
                  static_cast<unsigned>(time.milliseconds),
                  static_cast<unsigned long>(processId));
    std::u16string body(phase);
    body += u": ";
    for (char16_t c : text) body += (c == u'\r' || c == u'\n') ? u' ' : c;
    return stamp + Utf16ToUtf8(body) + "\r\n";
}

std::u16string FieldLogMutexName(std::u16string_view path) {
    std::uint32_t hash = 2166136261u;
    for (char16_t c : path) hash = (hash ^ FoldCase(c)) * 16777619u;
    return u"Local\\Quarry_Log_" + CodeText(hash).substr(2);
}

std::u16string CodeText(std::uint32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(code));
    return Ascii(text);
}

std::u16string ExitCodeMeaning(std::uint32_t code) {
    struct Known {
        std::uint32_t code;
        const char* meaning;
    };
    static const Known kKnown[] = {
        {0x00000000u, "installed: the started file succeeded, or nothing was to be started"},
        {0x00000BC2u, "the started file succeeded; a restart is required"},
        {0x00000669u, "the started file succeeded and started a restart"},
        {0x000004C7u, "cancelled: the wait for the started file was ended"},
        {0x80040000u, "run mode started without a request"},
        {0x80040001u, "run mode refused a request that is not its own program's"},
        {0x80040002u, "cancelled before the file was started"},
        {0x80040004u, "the user belongs to the Guests group"},
        {0x80040005u, "failed"},
        {0x80040006u, "the package is damaged or missing"},
        {0x80040007u, "the package's signature is missing or invalid"},
        {0x80040008u, "not a computer of the required manufacturer"},
        {0x80040009u, "not one of the maker's computers"},
        {0x8004000Au, "Windows is too old for the package"},
        {0x8004000Bu, "a compatibility mode is set on the program file"},
        {0x8004000Cu, "a compatibility mode was found and removed: run again"},
        {0x8004000Du, "the extracted files changed, or could not be locked; nothing was started"},
        {0x8004000Eu, "not enough free space"},
        {0x8004000Fu, "a folder could not be created"},
        {0x80004004u, "cancelled while the started file ran"},
        {0x800704C7u, "the user refused elevation"},
        {0x8007000Au, "Windows older than XP"},
        {0x8007000Eu, "out of memory"},
        {0x8000FFFFu, "a file beside the program would load in place of a system library"},
        {0xFFFFFFFFu, "the progress dialog could not be created"},
    };
    for (const Known& known : kKnown) {
        if (known.code == code) return Ascii(known.meaning);
    }
    if (code >= 0x80040100u && code <= 0x8004013Fu) {
        return u"the extracted files changed during processing; nothing was started";
    }
    if ((code & 0xFFFF0000u) == 0x80070000u) return u"a Windows error";
    if (code & 0x80000000u) return u"a failure, or the started file's own code";
    return u"the started file's own exit code";
}

}  // namespace quarry
