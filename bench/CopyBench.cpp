// Copies the largest entry of a package out with unscrambling, the way the
// worker copies the payload cabinet, and prints the time the copy took and
// the process's peak working set.
// Usage: copy_bench.exe PACKAGE.exe TARGET [REPEAT]
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cwchar>

#include "common/WinResult.h"
#include "package/PackageReader.h"

int wmain(int argc, wchar_t** argv) {
    using namespace quarry;
    if (argc < 3) {
        std::fprintf(stderr, "usage: copy_bench PACKAGE TARGET [REPEAT]\n");
        return 2;
    }
    const int repeat = argc > 3 ? _wtoi(argv[3]) : 1;
    PackageReader reader;
    const HResult opened = reader.Open(FromWide(argv[1]), u"");
    if (opened != kResultOk) {
        std::fprintf(stderr, "copy_bench: open failed 0x%08lx\n", static_cast<unsigned long>(opened));
        return 1;
    }
    const PackageEntry* largest = nullptr;
    for (const PackageGroup& group : reader.Directory().groups) {
        for (const PackageEntry& entry : group.entries) {
            if (!largest || entry.size > largest->size) largest = &entry;
        }
    }
    if (!largest) return 1;
    auto buffer = AllocateCopyBuffer();
    LARGE_INTEGER frequency, start, end;
    ::QueryPerformanceFrequency(&frequency);
    double best = 1e30;
    const std::u16string target = FromWide(argv[2]);
    for (int i = 0; i < repeat; ++i) {
        // Each pass writes a new file, as extraction does, with nothing of
        // the previous pass left to write back.
        ::DeleteFileW(argv[2]);
        ::QueryPerformanceCounter(&start);
        const HResult copied =
            reader.CopyEntryToFile(*largest, target, true, true, buffer.get());
        ::QueryPerformanceCounter(&end);
        HANDLE written = ::CreateFileW(argv[2], GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, 0, nullptr);
        if (written != INVALID_HANDLE_VALUE) {
            ::FlushFileBuffers(written);
            ::CloseHandle(written);
        }
        if (copied != kResultOk) {
            std::fprintf(stderr, "copy_bench: copy failed 0x%08lx\n", static_cast<unsigned long>(copied));
            return 1;
        }
        const double seconds = double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
        if (seconds < best) best = seconds;
    }
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
    std::printf("entry_bytes: %llu\nseconds: %.6f\npeak_working_set_bytes: %lu\n",
                static_cast<unsigned long long>(largest->size), best,
                static_cast<unsigned long>(counters.PeakWorkingSetSize));
    return 0;
}
