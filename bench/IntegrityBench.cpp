// Times the integrity check (CompareFolderTree) over a tree already on disk:
// FOLDERS folders "dNNN", each with FILES files "fNNNNN.bin" of SIZE bytes,
// as bench/run-bench.sh writes them. Prints the median of RUNS checks.
// Usage: integrity_bench.exe ROOT FOLDERS FILES SIZE RUNS
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <vector>

#include "common/Text.h"
#include "common/WinResult.h"
#include "package/ExtractedFilesLog_win.h"

int wmain(int argc, wchar_t** argv) {
    using namespace quarry;
    if (argc < 6) {
        std::fprintf(stderr, "usage: integrity_bench ROOT FOLDERS FILES SIZE RUNS\n");
        return 2;
    }
    std::u16string root = FromWide(argv[1]);
    if (root.back() != u'\\') root += u'\\';
    const int folders = _wtoi(argv[2]), files = _wtoi(argv[3]), runs = _wtoi(argv[5]);
    const std::uint64_t size = static_cast<std::uint64_t>(_wtoi64(argv[4]));
    std::vector<ExtractedFileRecord> records;
    records.reserve(static_cast<std::size_t>(folders) * files);
    char name[64];
    for (int d = 0; d < folders; ++d) {
        for (int f = 0; f < files; ++f) {
            std::snprintf(name, sizeof name, "d%03d\\f%05d.bin", d, f);
            records.push_back({Ascii(name), size});
        }
    }
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    std::vector<double> seconds;
    for (int run = 0; run < runs; ++run) {
        LARGE_INTEGER start, end;
        ::QueryPerformanceCounter(&start);
        ExpectedFiles expected(records);
        TreeDifferences differences;
        const bool match = CompareFolderTree(root, root, expected, differences);
        ::QueryPerformanceCounter(&end);
        if (!match) {
            std::fprintf(stderr, "integrity_bench: the tree differs (%u changed, %u deleted, %u created)\n",
                         unsigned(differences.changed.size()), unsigned(differences.deleted.size()),
                         unsigned(differences.created.size()));
            return 1;
        }
        seconds.push_back(double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart));
    }
    std::sort(seconds.begin(), seconds.end());
    std::printf("files: %u\nmedian_seconds: %.6f\n", unsigned(records.size()),
                seconds[seconds.size() / 2]);
    return 0;
}
