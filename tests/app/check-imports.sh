#!/usr/bin/env bash
# The shipped program must run on a bare Windows XP: it may import only from
# Windows system DLLs, and nothing newer than XP (those are looked up at run
# time). Usage: check-imports.sh quarry.exe [objdump]
set -u
exe=$1
objdump=${2:-i686-w64-mingw32-objdump}
dump=$("$objdump" -p "$exe") || { echo "cannot read $exe"; exit 1; }

allowed_dlls='^(kernel32|user32|gdi32|advapi32|shell32|shlwapi|ole32|oleaut32|comctl32|comdlg32|version|msvcrt|crypt32|wintrust|psapi|uxtheme|cabinet|rpcrt4|userenv|secur32|ws2_32)\.dll$'
status=0
while read -r dll; do
  lower=$(tr 'A-Z' 'a-z' <<<"$dll")
  if ! grep -Eq "$allowed_dlls" <<<"$lower"; then
    echo "imports from a DLL that is not a Windows system DLL: $dll"
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
