// File access for the Windows layer: a buffered ByteSource over a file
// handle, and small file-system queries.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/Result.h"
#include "common/Unique.h"
#include "package/PackageFormat.h"

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
// Creates one folder level unless something of that name exists already.
// 0, or the error of the creation.
HResult CreateFolderIfMissing(const std::u16string& folder);

}  // namespace quarry
