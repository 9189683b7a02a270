#!/usr/bin/env bash
# The shipped program may import only from libraries that every Windows from 7
# on keeps among its KnownDLLs: the loader takes any other imported library
# from the program's own folder first, before the program's entry point can
# narrow the search, so a planted version.dll beside a package in a Downloads
# folder would run. Everything else is loaded at run time from the system
# folder. Nothing newer than Windows XP may be imported either (that is looked
# up at run time). Usage: check-imports.sh quarry.exe [objdump]
set -u
exe=$1
objdump=${2:-i686-w64-mingw32-objdump}
dump=$("$objdump" -p "$exe") || { echo "cannot read $exe"; exit 1; }

allowed_dlls='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|msvcrt|shlwapi)\.dll$'
status=0
while read -r dll; do
  lower=$(tr 'A-Z' 'a-z' <<<"$dll")
  if ! grep -Eq "$allowed_dlls" <<<"$lower"; then
    echo "imports from a DLL that is not one of the KnownDLLs: $dll (load it at run time)"
    status=1
  fi
done < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump")

# Functions that Windows XP does not have.
newer='SetDefaultDllDirectories|AddDllDirectory|GetTickCount64|GetThreadPreferredUILanguages|GetUserPreferredUILanguages|GetSystemPreferredUILanguages|GetProcessPreferredUILanguages|SHGetKnownFolderPath|RegisterApplicationRestart|CompareStringOrdinal|CompareStringEx|InitializeCriticalSectionEx|InitializeSRWLock|AcquireSRWLock[A-Za-z]*|ReleaseSRWLock[A-Za-z]*|InitializeConditionVariable|SleepConditionVariable[A-Za-z]*|WakeConditionVariable|WakeAllConditionVariable|InitOnceExecuteOnce|InitOnceBeginInitialize|CreateEventExW|CreateMutexExW|CreateSemaphoreExW|GetFileInformationByHandleEx|SetFileInformationByHandle|GetFinalPathNameByHandleW|LocaleNameToLCID|LCIDToLocaleName|GetLocaleInfoEx|GetUserDefaultLocaleName|ResolveLocaleName|GetCurrentProcessorNumber|FlsAlloc|FlsGetValue|FlsSetValue|FlsFree|QueryFullProcessImageNameW|Wow64DisableWow64FsRedirection|Wow64RevertWow64FsRedirection|RmStartSession|TaskDialog|TaskDialogIndirect|SetProcessDpiAwareness|SetProcessDPIAware|GetDpiForWindow|SetThreadDescription|GetSystemTimePreciseAsFileTime|CreateSymbolicLinkW|K32GetProcessMemoryInfo|K32GetModuleFileNameExW'
found=$(awk '/^[[:space:]]*DLL Name:/{inimp=1} inimp && NF>=3 && $1 ~ /^[0-9a-f]+$/ {print $3}' <<<"$dump" |
        grep -Ex "($newer)" | sort -u)
if [ -n "$found" ]; then
  echo "imports functions newer than Windows XP (look them up at run time instead):"
  echo "$found"
  status=1
fi
[ "$status" -eq 0 ] && echo "imports: $(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump" | tr '\n' ' ')"
exit $status
