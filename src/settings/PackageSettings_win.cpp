#include "settings/PackageSettings.h"

#include <windows.h>

#include <utility>
#include <vector>

#include "common/WinFile.h"
#include "common/WinResult.h"

namespace quarry {

namespace {

// The platform's profile reader over one file. It matches section and key
// names without regard to case, reads UTF-16 files by their byte-order mark,
// trims the value and hands back the default text for an absent key.
class PrivateProfileSource : public ProfileSource {
public:
    explicit PrivateProfileSource(std::u16string path) : path_(std::move(path)) {}

    std::u16string Read(const std::u16string& section, const std::u16string& key,
                        const std::u16string& defaultText, std::size_t capacity) override {
        if (capacity == 0) return std::u16string();
        std::vector<wchar_t> buffer(capacity, L'\0');
        const DWORD length =
            ::GetPrivateProfileStringW(Wide(section), Wide(key), Wide(defaultText), buffer.data(),
                                       static_cast<DWORD>(capacity), Wide(path_));
        // A value too long for the buffer comes back cut to capacity - 1.
        return FromWide(buffer.data(), length < capacity ? length : capacity - 1);
    }

private:
    std::u16string path_;
};

// GetPrivateProfileStringW looks for a bare file name in the Windows folder,
// not the current one; the full path makes it read the file that the
// existence check looked at.
std::u16string FullPath(const std::u16string& path) {
    const DWORD needed = ::GetFullPathNameW(Wide(path), 0, nullptr, nullptr);
    if (needed == 0) return path;
    std::vector<wchar_t> buffer(needed, L'\0');
    const DWORD length = ::GetFullPathNameW(Wide(path), needed, buffer.data(), nullptr);
    if (length == 0 || length >= needed) return path;
    return FromWide(buffer.data(), length);
}

}  // namespace

bool ExecutionSettings::Load(const std::u16string& path, const std::u16string& section) {
    if (!IsExistingFile(path)) return false;
    PrivateProfileSource source(FullPath(path));
    LoadFrom(source, section);
    return true;
}

HResult PackageSettings::Load(const std::u16string& path) {
    if (!IsExistingFile(path)) return kResultFileNotFound;
    PrivateProfileSource source(FullPath(path));
    LoadFrom(source);
    return kResultOk;
}

std::uint32_t NativeProcessorType() {
    SYSTEM_INFO info = {};
    ::GetNativeSystemInfo(&info);
    return info.dwProcessorType;
}

const ExecutionSettings& ChooseExecutionSettings(const PackageSettings& settings) {
    return ChooseExecutionSettings(settings, NativeProcessorType());
}

}  // namespace quarry
