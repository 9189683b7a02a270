// The system folder, files in it, and functions looked up at run time.
// Libraries loaded on demand are always loaded by a full path built here,
// never by a bare name that the program's own folder could answer.
#pragma once

#include <windows.h>

#include <new>
#include <string>

namespace quarry {

// GetSystemDirectoryW as text, as the system gives it; empty when the
// system gives none or a text longer than 260 characters.
std::u16string SystemFolder();

// The full path of `name` in the system folder ("\" added when the folder
// does not end in one); empty when there is no system folder.
std::u16string SystemFilePath(const std::u16string& name);

// Loads the system library `name` by its full path in the system folder, so
// that its own dependencies are looked for there first too. Null when there
// is no system folder or the library cannot be loaded. Each call takes one
// more reference on the module.
HMODULE LoadSystemLibrary(const std::u16string& name);

// GetProcAddress's result as the function type it is known to have; `name`
// may be an ordinal made with MAKEINTRESOURCEA. Null when `module` is null
// or does not have the function. void (*)() is the type GCC lets any
// function pointer pass through.
template <typename Fn>
Fn ProcAddress(HMODULE module, LPCSTR name) {
    if (!module) return nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

// Loads the system library `library` and fills a table of its functions
// once per process: `resolve(module, table)` fills the table and says
// whether everything was found. The first complete table is published in
// `published` and kept, with its module loaded, while the process runs; a
// thread that loses the race uses the winner's. Null when the library or a
// function is missing, in which case a later call tries again.
template <typename Table, typename Resolve>
const Table* LoadSystemFunctions(Table* volatile& published, const char16_t* library,
                                 Resolve resolve) {
    PVOID volatile* slot = reinterpret_cast<PVOID volatile*>(&published);
    if (auto* existing = static_cast<Table*>(
            ::InterlockedCompareExchangePointer(slot, nullptr, nullptr))) {
        return existing;
    }
    HMODULE module = LoadSystemLibrary(library);
    if (!module) return nullptr;
    auto* table = new (std::nothrow) Table;
    if (!table || !resolve(module, *table)) {
        delete table;
        ::FreeLibrary(module);
        return nullptr;
    }
    if (auto* existing = static_cast<Table*>(
            ::InterlockedCompareExchangePointer(slot, table, nullptr))) {
        delete table;
        ::FreeLibrary(module);
        return existing;
    }
    return table;
}

}  // namespace quarry
