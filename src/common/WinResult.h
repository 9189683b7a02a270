// Early-exit macros named by how a Windows API reports failure, and the
// conversions between the pure code's UTF-16 strings and wide Windows text.
#pragma once

#include <windows.h>

#include <string>

#include "common/Result.h"

namespace quarry {

// The calling thread's last error as a result code (never success).
inline HResult LastErrorResult() { return ResultFromWin32(::GetLastError()); }

// The thread's last error as a result code, or `fallback` when none was
// recorded (for calls, such as the C runtime's, that may fail without one).
inline HResult LastErrorOr(HResult fallback) {
    const DWORD error = ::GetLastError();
    return error == ERROR_SUCCESS ? fallback : ResultFromWin32(error);
}

// wchar_t is 16 bits on Windows, so UTF-16 text passes through unchanged.
static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide text is UTF-16");

inline const wchar_t* Wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}
inline std::u16string FromWide(const wchar_t* text) {
    return text ? std::u16string(reinterpret_cast<const char16_t*>(text)) : std::u16string();
}
inline std::u16string FromWide(const wchar_t* text, size_t length) {
    return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}

}  // namespace quarry

#define RETURN_IF_WIN32_BOOL_FALSE(call)                           \
    do {                                                           \
        if (!(call)) return ::quarry::LastErrorResult();           \
    } while (0)

#define RETURN_IF_WIN32_ERROR(call)                                \
    do {                                                           \
        const DWORD errTmp_ = static_cast<DWORD>(call);            \
        if (errTmp_ != ERROR_SUCCESS)                              \
            return ::quarry::ResultFromWin32(errTmp_);             \
    } while (0)

#define RETURN_LAST_ERROR_IF_NULL(ptr)                             \
    do {                                                           \
        if ((ptr) == nullptr) return ::quarry::LastErrorResult();  \
    } while (0)
