#include "execution/FsRedirection.h"

#include <string>

namespace quarry {

namespace {

using RedirectionFunction = BOOL(WINAPI*)(PVOID*);
using RevertFunction = BOOL(WINAPI*)(PVOID);

}  // namespace

void DisableFsRedirection(FsRedirection& state) {
    if (state.off) return;
    if (!state.kernel32) {
        // By full path from the system folder, like every library loaded on
        // demand. The functions are looked up, not imported: the kernel32 of
        // 32-bit Windows XP does not have them.
        wchar_t folder[MAX_PATH] = {};
        const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) return;
        const std::wstring path = std::wstring(folder, length) + L"\\kernel32.dll";
        state.kernel32.Reset(::LoadLibraryW(path.c_str()));
        if (!state.kernel32) return;
    }
    const auto disable = reinterpret_cast<RedirectionFunction>(reinterpret_cast<void*>(
        ::GetProcAddress(state.kernel32.Get(), "Wow64DisableWow64FsRedirection")));
    if (disable) state.off = disable(&state.previousState) != FALSE;
}

void RevertFsRedirection(FsRedirection& state) {
    if (state.off && state.kernel32) {
        const auto revert = reinterpret_cast<RevertFunction>(reinterpret_cast<void*>(
            ::GetProcAddress(state.kernel32.Get(), "Wow64RevertWow64FsRedirection")));
        if (revert && revert(state.previousState)) state.off = false;
    }
    // Still off means the revert failed: keep the module, the state is
    // still needed.
    if (!state.off) state.kernel32.Reset();
}

}  // namespace quarry
