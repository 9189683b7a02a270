#include "common/WinFile.h"

#include <objbase.h>
#include <shlobj.h>

#include <cstring>

#include "common/WinResult.h"

namespace quarry {

namespace {
constexpr std::size_t kSourceBufferSize = 64 * 1024;
// StringFromGUID2's buffer.
constexpr int kGuidTextCapacity = 50;
}

HResult FileSource::Open(const std::u16string& path) {
    Close();
    HANDLE file = ::CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return LastErrorResult();
    file_.Reset(file);
    return kResultOk;
}

void FileSource::Close() {
    file_.Reset();
    bufferStart_ = bufferEnd_ = 0;
    position_ = filePosition_ = 0;
}

bool FileSource::Seek(std::uint64_t position) {
    if (!file_ || position > static_cast<std::uint64_t>(INT64_MAX)) return false;
    // Within the buffered window the seek costs nothing.
    const std::uint64_t windowStart = filePosition_ - bufferEnd_;
    if (position >= windowStart && position <= filePosition_) {
        bufferStart_ = static_cast<std::size_t>(position - windowStart);
        position_ = position;
        return true;
    }
    LARGE_INTEGER distance;
    distance.QuadPart = static_cast<LONGLONG>(position);
    if (!::SetFilePointerEx(file_.Get(), distance, nullptr, FILE_BEGIN)) return false;
    bufferStart_ = bufferEnd_ = 0;
    position_ = filePosition_ = position;
    return true;
}

bool FileSource::Read(void* buffer, std::size_t length) {
    if (!file_) return false;
    auto* out = static_cast<std::uint8_t*>(buffer);
    const std::size_t buffered = bufferEnd_ - bufferStart_;
    const std::size_t fromBuffer = length < buffered ? length : buffered;
    if (fromBuffer != 0) std::memcpy(out, buffer_.data() + bufferStart_, fromBuffer);
    bufferStart_ += fromBuffer;
    position_ += fromBuffer;
    out += fromBuffer;
    length -= fromBuffer;

    while (length != 0) {
        if (length >= kSourceBufferSize) {
            // Large reads go straight into the caller's buffer.
            const DWORD want = length > 0x40000000u ? 0x40000000u : static_cast<DWORD>(length);
            DWORD got = 0;
            if (!::ReadFile(file_.Get(), out, want, &got, nullptr) || got == 0) return false;
            bufferStart_ = bufferEnd_ = 0;
            filePosition_ += got;
            position_ += got;
            out += got;
            length -= got;
            continue;
        }
        if (buffer_.empty()) buffer_.resize(kSourceBufferSize);
        DWORD got = 0;
        if (!::ReadFile(file_.Get(), buffer_.data(), kSourceBufferSize, &got, nullptr) ||
            got == 0) {
            bufferStart_ = bufferEnd_ = 0;
            return false;
        }
        filePosition_ += got;
        bufferEnd_ = got;
        const std::size_t take = length < got ? length : got;
        std::memcpy(out, buffer_.data(), take);
        bufferStart_ = take;
        position_ += take;
        out += take;
        length -= take;
    }
    return true;
}

std::u16string ModuleFileName() {
    // A path that does not fit is cut and, before Windows Vista, left
    // without its terminator; the extra zeroed character ends it.
    wchar_t path[MAX_PATH + 1] = {};
    if (::GetModuleFileNameW(nullptr, path, MAX_PATH) == 0) return {};
    return FromWide(path);
}

bool PathExists(const std::u16string& path) {
    return ::GetFileAttributesW(Wide(path)) != INVALID_FILE_ATTRIBUTES;
}

bool IsExistingFile(const std::u16string& path) {
    const DWORD attributes = ::GetFileAttributesW(Wide(path));
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

HResult CreateFolderIfMissing(const std::u16string& folder) {
    if (!PathExists(folder)) RETURN_IF_WIN32_BOOL_FALSE(::CreateDirectoryW(Wide(folder), nullptr));
    return kResultOk;
}

std::u16string NewGuidString() { return NewGuidString(::CoCreateGuid); }

std::u16string NewGuidString(CreateGuidFn createGuid) {
    GUID guid;
    if (Failed(createGuid(&guid))) throw ResultError{kResultFail};
    wchar_t text[kGuidTextCapacity] = {};
    if (::StringFromGUID2(guid, text, kGuidTextCapacity) == 0) throw ResultError{kResultFail};
    return FromWide(text);
}

std::uint64_t GetFileSize64(const std::u16string& path) {
    WIN32_FIND_DATAW data;
    UniqueFind find(::FindFirstFileW(Wide(path), &data));
    if (!find) return 0;
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

HResult CreateNewFolder(const std::u16string& path, SECURITY_ATTRIBUTES* security) {
    RETURN_IF_WIN32_BOOL_FALSE(::CreateDirectoryW(Wide(path), security));
    return kResultOk;
}

HResult CreateFolderTree(const std::u16string& path) {
    const int error = ::SHCreateDirectoryExW(nullptr, Wide(path), nullptr);
    return (error == ERROR_SUCCESS || error == ERROR_ALREADY_EXISTS) ? kResultOk
                                                                      : kResultFolderNotCreated;
}

}  // namespace quarry
