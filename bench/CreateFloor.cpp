// What the platform itself costs for a tree of small files: creates FOLDERS
// folders of FILES files of SIZE bytes under TARGET, one CreateFileW, one
// WriteFile and one CloseHandle each, then deletes them all again, as a
// silent run of such a package writes and cleans up its files. Nothing of
// Quarry's and no cabinet is involved.
// Usage: create_floor.exe TARGET FOLDERS FILES SIZE
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: create_floor TARGET FOLDERS FILES SIZE\n");
        return 2;
    }
    const std::wstring target = argv[1];
    const int folders = _wtoi(argv[2]);
    const int files = _wtoi(argv[3]);
    const std::vector<char> data(static_cast<std::size_t>(_wtoi(argv[4])), 'x');
    if (!::CreateDirectoryW(target.c_str(), nullptr)) return 1;
    std::vector<std::wstring> names;
    for (int d = 0; d < folders; ++d) {
        const std::wstring folder = target + L"\\d" + std::to_wstring(d);
        if (!::CreateDirectoryW(folder.c_str(), nullptr)) return 1;
        for (int f = 0; f < files; ++f) {
            names.push_back(folder + L"\\f" + std::to_wstring(f));
            const HANDLE file = ::CreateFileW(names.back().c_str(), GENERIC_WRITE, 0, nullptr,
                                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file == INVALID_HANDLE_VALUE) return 1;
            DWORD written = 0;
            const BOOL ok = ::WriteFile(file, data.data(), static_cast<DWORD>(data.size()),
                                        &written, nullptr);
            ::CloseHandle(file);
            if (!ok || written != data.size()) return 1;
        }
    }
    for (const std::wstring& name : names) {
        if (!::DeleteFileW(name.c_str())) return 1;
    }
    for (int d = 0; d < folders; ++d) {
        if (!::RemoveDirectoryW((target + L"\\d" + std::to_wstring(d)).c_str())) return 1;
    }
    if (!::RemoveDirectoryW(target.c_str())) return 1;
    std::printf("files: %zu\n", names.size());
    return 0;
}
