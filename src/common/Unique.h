// Move-only owners for Windows handles. Each kind names its empty value and
// its release function, so copying never compiles and every path of an
// operation releases what it obtained.
#pragma once

#include <windows.h>

#include <utility>

namespace quarry {

template <typename T, T kEmpty, typename Close>
class UniqueAny {
public:
    UniqueAny() = default;
    explicit UniqueAny(T value) : value_(value) {}
    UniqueAny(const UniqueAny&) = delete;
    UniqueAny& operator=(const UniqueAny&) = delete;
    UniqueAny(UniqueAny&& other) noexcept : value_(other.Release()) {}
    UniqueAny& operator=(UniqueAny&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    ~UniqueAny() { Reset(); }

    T Get() const { return value_; }
    bool Valid() const { return value_ != kEmpty; }
    explicit operator bool() const { return Valid(); }

    T Release() { return std::exchange(value_, kEmpty); }
    void Reset(T value = kEmpty) {
        const T old = std::exchange(value_, value);
        if (old != kEmpty) Close()(old);
    }
    // For out-parameters of functions that fill a handle.
    T* Put() {
        Reset();
        return &value_;
    }

private:
    T value_ = kEmpty;
};

struct CloseHandleFn {
    void operator()(HANDLE h) const { ::CloseHandle(h); }
};
struct RegCloseKeyFn {
    void operator()(HKEY k) const { ::RegCloseKey(k); }
};
struct FreeLibraryFn {
    void operator()(HMODULE m) const { ::FreeLibrary(m); }
};
struct LocalFreeFn {
    void operator()(HLOCAL p) const { ::LocalFree(p); }
};
struct FindCloseFn {
    void operator()(HANDLE h) const { ::FindClose(h); }
};
struct FreeSidFn {
    void operator()(PSID s) const { ::FreeSid(s); }
};

// Handles whose empty value is NULL (events, threads, processes, tokens).
using UniqueHandle = UniqueAny<HANDLE, nullptr, CloseHandleFn>;
using UniqueKey = UniqueAny<HKEY, nullptr, RegCloseKeyFn>;
using UniqueModule = UniqueAny<HMODULE, nullptr, FreeLibraryFn>;
using UniqueLocal = UniqueAny<HLOCAL, nullptr, LocalFreeFn>;
// SIDs from AllocateAndInitializeSid.
using UniqueSid = UniqueAny<PSID, nullptr, FreeSidFn>;

// Handles whose empty value is INVALID_HANDLE_VALUE. A template argument
// cannot be a cast pointer constant, so these keep their own small class.
template <typename Close>
class UniqueInvalidAny {
public:
    UniqueInvalidAny() = default;
    explicit UniqueInvalidAny(HANDLE value) : value_(value) {}
    UniqueInvalidAny(const UniqueInvalidAny&) = delete;
    UniqueInvalidAny& operator=(const UniqueInvalidAny&) = delete;
    UniqueInvalidAny(UniqueInvalidAny&& other) noexcept : value_(other.Release()) {}
    UniqueInvalidAny& operator=(UniqueInvalidAny&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    ~UniqueInvalidAny() { Reset(); }

    HANDLE Get() const { return value_; }
    bool Valid() const { return value_ != INVALID_HANDLE_VALUE; }
    explicit operator bool() const { return Valid(); }
    HANDLE Release() { return std::exchange(value_, INVALID_HANDLE_VALUE); }
    void Reset(HANDLE value = INVALID_HANDLE_VALUE) {
        const HANDLE old = std::exchange(value_, value);
        if (old != INVALID_HANDLE_VALUE) Close()(old);
    }

private:
    HANDLE value_ = INVALID_HANDLE_VALUE;
};

using UniqueFile = UniqueInvalidAny<CloseHandleFn>;
using UniqueFind = UniqueInvalidAny<FindCloseFn>;

// An owned COM interface pointer.
template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            Reset();
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }
    ~ComPtr() { Reset(); }

    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T** Put() {
        Reset();
        return &p_;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }
    void Reset() {
        if (p_) std::exchange(p_, nullptr)->Release();
    }

private:
    T* p_ = nullptr;
};

// Runs a function when the scope ends unless Release() was called first:
// set it up to undo, cancel it once everything has succeeded.
template <typename F>
class ScopeExit {
public:
    explicit ScopeExit(F f) : f_(std::move(f)) {}
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    ~ScopeExit() {
        if (armed_) f_();
    }
    void Release() { armed_ = false; }

private:
    F f_;
    bool armed_ = true;
};

// Holds a critical section for one scope.
class LockGuard {
public:
    explicit LockGuard(CRITICAL_SECTION& section) : section_(section) {
        ::EnterCriticalSection(&section_);
    }
    ~LockGuard() { ::LeaveCriticalSection(&section_); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;

private:
    CRITICAL_SECTION& section_;
};

}  // namespace quarry
