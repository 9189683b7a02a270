// The records of SetFileInformationByHandle and GetFileInformationByHandleEx,
// Windows Vista and later, declared here since the SDK declares them only
// for Vista builds and this program targets XP. Both functions are looked up
// at run time. Their layouts are what kernel32 reads, checked for the 32-bit
// program and the 64-bit test build alike.
#pragma once

#include <windows.h>

#include <cstddef>

namespace quarry {

// FILE_INFO_BY_HANDLE_CLASS values.
constexpr int kFileBasicInfo = 0;
constexpr int kFileDispositionInfo = 4;
constexpr int kFileIdBothDirectoryInfo = 10;
constexpr int kFileIdBothDirectoryRestartInfo = 11;

// FILE_BASIC_INFO. A zero time or attribute field leaves that value as it
// is, so "no attributes" must be asked for as FILE_ATTRIBUTE_NORMAL.
struct FileBasicInfo {
    LARGE_INTEGER creationTime;
    LARGE_INTEGER lastAccessTime;
    LARGE_INTEGER lastWriteTime;
    LARGE_INTEGER changeTime;
    DWORD fileAttributes;
};
static_assert(sizeof(FileBasicInfo) == 40 && offsetof(FileBasicInfo, fileAttributes) == 32,
              "FILE_BASIC_INFO is 40 bytes in 32-bit and 64-bit Windows alike");

// FILE_DISPOSITION_INFO.
struct FileDispositionInfo {
    BOOLEAN deleteFile;
};
static_assert(sizeof(FileDispositionInfo) == 1, "FILE_DISPOSITION_INFO is one byte");

// FILE_ID_BOTH_DIR_INFO: one entry of a folder listing through a handle.
struct FileIdBothDirectoryInfo {
    DWORD nextEntryOffset;
    DWORD fileIndex;
    LARGE_INTEGER creationTime;
    LARGE_INTEGER lastAccessTime;
    LARGE_INTEGER lastWriteTime;
    LARGE_INTEGER changeTime;
    LARGE_INTEGER endOfFile;
    LARGE_INTEGER allocationSize;
    DWORD fileAttributes;
    DWORD fileNameLength;  // bytes
    DWORD eaSize;
    CCHAR shortNameLength;
    WCHAR shortName[12];
    LARGE_INTEGER fileId;
    WCHAR fileName[1];
};
static_assert(offsetof(FileIdBothDirectoryInfo, fileAttributes) == 56 &&
                  offsetof(FileIdBothDirectoryInfo, shortName) == 70 &&
                  offsetof(FileIdBothDirectoryInfo, fileId) == 96 &&
                  offsetof(FileIdBothDirectoryInfo, fileName) == 104,
              "FILE_ID_BOTH_DIR_INFO layout, the same in 32-bit and 64-bit Windows");

}  // namespace quarry
