#include "execution/FsRedirection.h"

#include <string>

#include "common/SystemLibrary.h"
#include "common/WinResult.h"

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
        const std::u16string path = SystemFilePath(u"kernel32.dll");
        if (path.empty()) return;
        state.kernel32.Reset(::LoadLibraryW(Wide(path)));
        if (!state.kernel32) return;
    }
    const auto disable =
        ProcAddress<RedirectionFunction>(state.kernel32.Get(), "Wow64DisableWow64FsRedirection");
    if (disable) state.off = disable(&state.previousState) != FALSE;
}

void RevertFsRedirection(FsRedirection& state) {
    if (state.off && state.kernel32) {
        const auto revert =
            ProcAddress<RevertFunction>(state.kernel32.Get(), "Wow64RevertWow64FsRedirection");
        if (revert && revert(state.previousState)) state.off = false;
    }
    // Still off means the revert failed: keep the module, the state is
    // still needed.
    if (!state.off) state.kernel32.Reset();
}

}  // namespace quarry
