// The launch request that the extraction-mode process hands to its run-mode
// copy on the command line: four fields joined by "|", encoded so that the
// record holds no space. Pure code.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quarry {

struct RunRequest {
    std::uint32_t waitSeconds = 0;  // 0: wait for the program only
    bool systemProgram = false;     // "Yes": no file-system redirection at the start
    bool hideWindow = false;        // "Yes": the program starts hidden
    std::u16string program;         // full path given to the shell
    std::u16string logPath;         // the field log ("-log"), or empty
};

// The record as sent: "%d|Yes or No|Yes or No|program", with "|log" after it
// when there is a log, trimmed of spaces at both ends, then "%" written as
// "%25" and " " as "%20".
std::u16string EncodeRunRequest(const RunRequest& request);

// The record as received: "%20" back to " ", then "%25" back to "%", split at
// "|" with empty pieces skipped. Fewer than four pieces: nothing; a fifth is
// the log's file. The wait
// is read as an unsigned number in base 0 (decimal, "0x" hexadecimal, a
// leading "0" octal); "Yes" is compared without regard to case.
std::optional<RunRequest> DecodeRunRequest(std::u16string_view text);

// The parameters of the run-mode copy: "-run GUID RECORD", then " " and the
// arguments when there are any (not encoded); trailing spaces removed.
std::u16string RunModeParameters(const std::u16string& eventGuid, const RunRequest& request,
                                 const std::u16string& arguments);

}  // namespace quarry
