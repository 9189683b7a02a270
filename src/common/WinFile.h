// File access for the Windows layer: a buffered ByteSource over a file
// handle, and small file-system queries.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/ByteSource.h"
#include "common/Result.h"
#include "common/Unique.h"

namespace quarry {

// Reads a file opened for reading. Small reads (the directory records) go
// through a 64 KiB buffer; large ones (entry data) go straight to ReadFile.
class FileSource : public ByteSource {
public:
    FileSource() = default;
    // Opens `path` read-only, shared for reading. Returns the Win32 error as
    // a result code on failure.
    HResult Open(const std::u16string& path);
    void Close();
    bool IsOpen() const { return file_.Valid(); }

    bool Read(void* buffer, std::size_t length) override;
    bool Seek(std::uint64_t position) override;
    std::uint64_t Position() const override { return position_; }

private:
    UniqueFile file_;
    std::vector<std::uint8_t> buffer_;
    std::size_t bufferStart_ = 0;  // first unread byte in buffer_
    std::size_t bufferEnd_ = 0;    // bytes held in buffer_
    std::uint64_t position_ = 0;   // logical position of the next byte
    std::uint64_t filePosition_ = 0;
};

// The path of this program's file, cut at 260 characters; empty when the
// system gives none.
std::u16string ModuleFileName();
bool PathExists(const std::u16string& path);
bool IsExistingFile(const std::u16string& path);  // exists and is not a folder
// A FILETIME as one 64-bit count of 100 ns units.
inline std::uint64_t FileTimeValue(const FILETIME& time) {
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// Creates one folder level unless something of that name exists already.
// 0, or the error of the creation.
HResult CreateFolderIfMissing(const std::u16string& folder);

// A fresh GUID as 38 characters of text: braces around upper-case hex
// grouped 8-4-4-4-12 with hyphens, as StringFromGUID2 writes it. When no
// GUID can be made the run would have no name for its folder or its event,
// so this throws ResultError{0x80004005} for the worker's phase handler.
std::u16string NewGuidString();

// NewGuidString over a replaceable CoCreateGuid.
using CreateGuidFn = HRESULT(WINAPI*)(GUID*);
std::u16string NewGuidString(CreateGuidFn createGuid);

// The size of a file as its directory entry records it (FindFirstFileW, so
// an open or locked file can be measured); 0 when it is not found.
std::uint64_t GetFileSize64(const std::u16string& path);

// Creates `path` and any missing folders above it (SHCreateDirectoryExW,
// no window). 0 when created or already there; 0x8004000F otherwise.
HResult CreateFolderTree(const std::u16string& path);

// Creates the folder `path`, whose parent exists, with `security` (null:
// the list it inherits). 0 only when this call made it: a folder (or a
// link, or a file) of that name already there is a failure (0x800700B7),
// since a run removes its folders with all they hold; so is any other error
// of the creation.
HResult CreateNewFolder(const std::u16string& path, SECURITY_ATTRIBUTES* security = nullptr);

}  // namespace quarry
