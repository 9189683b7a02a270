// Move-only owners for Windows handles. Each kind names its empty value and
// its release function, so copying never compiles and every path of an
// operation releases what it obtained.
#pragma once

#include <windows.h>

#include <utility>

namespace quarry {

// `Kind` names the empty value (Empty()) and the release (Close(value)).
template <typename T, typename Kind>
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
    bool Valid() const { return value_ != Kind::Empty(); }
    explicit operator bool() const { return Valid(); }

    T Release() { return std::exchange(value_, Kind::Empty()); }
    void Reset(T value = Kind::Empty()) {
        const T old = std::exchange(value_, value);
        if (old != Kind::Empty()) Kind::Close(old);
    }
    // For out-parameters of functions that fill a handle.
    T* Put() {
        Reset();
        return &value_;
    }

private:
    T value_ = Kind::Empty();
};

// The kinds: empty NULL (events, threads, processes, tokens, keys, modules,
// local memory, SIDs from AllocateAndInitializeSid), or empty
// INVALID_HANDLE_VALUE (files, find handles).
template <typename T, void (*kClose)(T)>
struct NullEmpty {
    static T Empty() { return nullptr; }
    static void Close(T value) { kClose(value); }
};
template <void (*kClose)(HANDLE)>
struct InvalidEmpty {
    static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE value) { kClose(value); }
};

inline void CloseHandleOf(HANDLE h) { ::CloseHandle(h); }
inline void CloseKey(HKEY k) { ::RegCloseKey(k); }
inline void ReleaseModule(HMODULE m) { ::FreeLibrary(m); }
inline void FreeLocal(HLOCAL p) { ::LocalFree(p); }
inline void CloseFind(HANDLE h) { ::FindClose(h); }
inline void FreeSidOf(PSID s) { ::FreeSid(s); }

using UniqueHandle = UniqueAny<HANDLE, NullEmpty<HANDLE, CloseHandleOf>>;
using UniqueKey = UniqueAny<HKEY, NullEmpty<HKEY, CloseKey>>;
using UniqueModule = UniqueAny<HMODULE, NullEmpty<HMODULE, ReleaseModule>>;
using UniqueLocal = UniqueAny<HLOCAL, NullEmpty<HLOCAL, FreeLocal>>;
using UniqueSid = UniqueAny<PSID, NullEmpty<PSID, FreeSidOf>>;
using UniqueFile = UniqueAny<HANDLE, InvalidEmpty<CloseHandleOf>>;
using UniqueFind = UniqueAny<HANDLE, InvalidEmpty<CloseFind>>;

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
