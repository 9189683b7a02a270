#include <windows.h>

#include "app/CommandLine.h"
#include "app/Modes.h"
#include "common/WinResult.h"
#include "package/CabinetExtract.h"

// The GUI entry: the runtime hands over the command line without the program
// path. Exactly one mode runs; its 32-bit result is the process exit code.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLineTail, int) {
    using namespace quarry;
    // Taken before any thread starts; without it every expansion fails (0x80040006).
    InitializeExtractionSlot();
    const CommandLineOptions options = ParseCommandLine(FromWide(commandLineTail));
    const HResult result =
        options.runMode
            ? RunExecutor(options.runEventGuid, options.runRequest, options.extraArguments)
            : RunExtractionMode(options.extraArguments, options.silent,
                                options.askAfterIntegrityFailure,
                                options.askAfterRestrictionFailure);
    return static_cast<int>(result);
}
