// The command line of quarry.exe: switches "-run", "-s", "-cont", "-debug",
// "-log FILE" and "-p" (each also with "/"), matched as whole tokens without
// regard to case. The log's file may be given in double quotes, spaces and
// all; "-log" without a file is an ordinary token. Parsing never fails: anything that is not a switch, and everything
// after it, is passed on verbatim as extraArguments.
#pragma once

#include <string>

namespace quarry {

struct CommandLineOptions {
    bool runMode = false;                    // "-run" as the very first token
    std::u16string runEventGuid;             // run mode: first token after "-run"
    std::u16string runRequest;               // run mode: second token after "-run"
    bool silent = false;                     // "-s"
    bool askAfterIntegrityFailure = false;   // "-cont"
    bool askAfterRestrictionFailure = false; // "-debug"
    std::u16string logPath;                  // "-log FILE": the field log
    std::u16string extraArguments;           // the rest of the line
};

// Takes the command-line tail (the line without the program path).
CommandLineOptions ParseCommandLine(const std::u16string& tail);

}  // namespace quarry
