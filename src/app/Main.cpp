#include <windows.h>

#include "app/CommandLine.h"
#include "app/Modes.h"
#include "common/LibrarySearchGuard_win.h"
#include "common/WinResult.h"
#include "package/CabinetExtract.h"

// The C runtime's own start-up for a Unicode GUI program (crt2u.o): it
// initialises the runtime, runs wWinMain and ends the process with its
// result.
extern "C" int WinMainCRTStartup(void);

namespace {
// The guard made by the entry point, handed on to extraction mode; the C
// runtime's start-up stands between the two.
quarry::LibrarySearchGuard* sLibrarySearchGuard = nullptr;
}  // namespace

// The program's entry point (linked with -e), ahead of the C runtime: the
// library-search guard must be in place before the runtime or anything else
// of the program loads a library. The loader calls it with a stack that may
// be aligned to 4 bytes only.
extern "C" __attribute__((force_align_arg_pointer)) int QuarryEntry(void) {
    quarry::LibrarySearchFunctions functions;
    quarry::LibrarySearchGuard guard(functions);
    sLibrarySearchGuard = &guard;
    const int result = WinMainCRTStartup();
    sLibrarySearchGuard = nullptr;
    return result;
}

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
                                options.askAfterRestrictionFailure, sLibrarySearchGuard,
                                options.logPath);
    return static_cast<int>(result);
}
