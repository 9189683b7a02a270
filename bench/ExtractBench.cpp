// Writes a whole package out with PackageReader::ExtractAll, the way the
// worker does after loading the settings (entries copied, the cabinet
// unscrambled, expanded through cabinet.dll and its copy deleted), and
// prints the time ExtractAll took and the process's peak working set.
// With FILE, the file of that relative path is the one the run would start:
// it is fingerprinted as it is written and then held and checked as before
// a launch, and the time includes both.
// Usage: extract_bench.exe PACKAGE.exe FOLDER [FILE]
// FOLDER must not exist; "Support\" and "Package\" are made below it.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <vector>

#include "common/WinResult.h"
#include "package/CabinetExtract.h"
#include "package/PackageReader.h"

int wmain(int argc, wchar_t** argv) {
    using namespace quarry;
    if (argc < 3) {
        std::fprintf(stderr, "usage: extract_bench PACKAGE FOLDER [FILE]\n");
        return 2;
    }
    if (Failed(InitializeExtractionSlot())) return 1;
    std::u16string folder = FromWide(argv[2]);
    if (folder.back() != u'\\') folder += u'\\';
    const std::u16string support = folder + u"Support\\";
    const std::u16string destination = folder + u"Package\\";
    if (!::CreateDirectoryW(Wide(folder), nullptr) ||
        !::CreateDirectoryW(Wide(support), nullptr) ||
        !::CreateDirectoryW(Wide(destination), nullptr)) {
        std::fprintf(stderr, "extract_bench: cannot make the folders\n");
        return 1;
    }
    try {
        PackageReader reader;
        HResult result = reader.Open(FromWide(argv[1]), support);
        if (result == kResultOk) result = reader.LoadSettings();
        if (result != kResultOk) {
            std::fprintf(stderr, "extract_bench: open failed 0x%08lx\n",
                         static_cast<unsigned long>(result));
            return 1;
        }
        LARGE_INTEGER frequency, start, end;
        ::QueryPerformanceFrequency(&frequency);
        ::QueryPerformanceCounter(&start);
        if (argc > 3) reader.fingerprintPath = FromWide(argv[3]);
        result = reader.ExtractAll(destination, nullptr);
        std::vector<UniqueFile> held;
        if (result == kResultOk && argc > 3) {
            result = reader.HoldLaunchFile(reader.fingerprintPath, u"", u"", 0, held);
        }
        ::QueryPerformanceCounter(&end);
        if (result != kResultOk) {
            std::fprintf(stderr, "extract_bench: extraction failed 0x%08lx\n",
                         static_cast<unsigned long>(result));
            return 1;
        }
        std::uint64_t bytes = 0;
        for (const ExtractedFileRecord& file : reader.destinationFiles) bytes += file.size;
        PROCESS_MEMORY_COUNTERS counters = {};
        counters.cb = sizeof counters;
        ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
        std::printf("files: %u\nbytes: %llu\nseconds: %.6f\npeak_working_set_bytes: %lu\n",
                    static_cast<unsigned>(reader.destinationFiles.size()),
                    static_cast<unsigned long long>(bytes),
                    double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart),
                    static_cast<unsigned long>(counters.PeakWorkingSetSize));
    } catch (const ResultError& error) {
        std::fprintf(stderr, "extract_bench: failed 0x%08lx\n",
                     static_cast<unsigned long>(error.code));
        return 1;
    }
    return 0;
}
