// The text of the field log ("-log FILE"): one line per event, UTF-8,
// ending in CR LF, written by both processes of a run. Pure code.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quarry {

struct LogTime {
    std::uint16_t year = 0, month = 0, day = 0;
    std::uint16_t hour = 0, minute = 0, second = 0, milliseconds = 0;
};

// "2026-12-09 18:50:01.123 [4711] phase: text" and CR LF. Line breaks in
// `text` become spaces, so that one event is always one line.
std::string FormatLogLine(const LogTime& time, std::uint32_t processId,
                          std::u16string_view phase, std::u16string_view text);

// The name of the mutex both processes take around each line of the log at
// `path` (a full path): "Local\Quarry_Log_" and a hash of the path, whatever
// its case.
std::u16string FieldLogMutexName(std::u16string_view path);

// A result as the log shows it: "0x80040002".
std::u16string CodeText(std::uint32_t code);

// What an exit code of the program tells a deployment tool, in a few words.
std::u16string ExitCodeMeaning(std::uint32_t code);

}  // namespace quarry
