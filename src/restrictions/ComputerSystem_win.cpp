#include "restrictions/ComputerSystem_win.h"

#include "common/Unique.h"
#include "common/WinResult.h"
#include "restrictions/RestrictionRules.h"

namespace quarry {

namespace {

// The process-wide cache. `computerSystemKnown` is set once both values are
// in and never reset; `computerSystemThread` is the running query's handle,
// owned here, and each waiter waits on a duplicate of its own.
struct ComputerSystemCache {
    ComputerSystemCache() { ::InitializeCriticalSection(&computerSystemLock); }
    ComputerSystemCache(const ComputerSystemCache&) = delete;
    ComputerSystemCache& operator=(const ComputerSystemCache&) = delete;

    CRITICAL_SECTION computerSystemLock;
    std::u16string cachedManufacturer;
    std::u16string cachedModel;
    volatile LONG computerSystemKnown = 0;
    HANDLE computerSystemThread = nullptr;
};

ComputerSystemCache& Cache() {
    static ComputerSystemCache cache;
    return cache;
}

bool Known() { return ::InterlockedCompareExchange(&Cache().computerSystemKnown, 0, 0) != 0; }

DWORD WINAPI ComputerSystemThreadProc(LPVOID context) {
    const auto reader = reinterpret_cast<ComputerSystemReader>(context);
    try {
        ComputerSystemValues values;
        reader(values);
        ComputerSystemCache& cache = Cache();
        {
            LockGuard lock(cache.computerSystemLock);
            if (values.manufacturerRead) cache.cachedManufacturer = values.manufacturer;
            if (values.modelRead) cache.cachedModel = values.model;
        }
        if (values.manufacturerRead && values.modelRead) {
            ::InterlockedExchange(&cache.computerSystemKnown, 1);
        }
    } catch (...) {
        // No storage for the values: the query failed.
    }
    return 0;
}

// A duplicate of the running query's handle, after starting the query when
// none runs; null when no thread could be had.
HANDLE JoinOrStartQuery(ComputerSystemReader reader) {
    ComputerSystemCache& cache = Cache();
    LockGuard lock(cache.computerSystemLock);
    if (!cache.computerSystemThread) {
        cache.computerSystemThread = ::CreateThread(
            nullptr, 0, ComputerSystemThreadProc, reinterpret_cast<LPVOID>(reader), 0, nullptr);
        if (!cache.computerSystemThread) return nullptr;
    }
    HANDLE duplicate = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), cache.computerSystemThread,
                           ::GetCurrentProcess(), &duplicate, SYNCHRONIZE, FALSE, 0)) {
        return nullptr;
    }
    return duplicate;
}

// Forgets the recorded query once it has ended.
void ForgetEndedQuery() {
    ComputerSystemCache& cache = Cache();
    LockGuard lock(cache.computerSystemLock);
    if (cache.computerSystemThread &&
        ::WaitForSingleObject(cache.computerSystemThread, 0) == WAIT_OBJECT_0) {
        ::CloseHandle(cache.computerSystemThread);
        cache.computerSystemThread = nullptr;
    }
}

std::u16string BstrText(BSTR text) {
    return text ? FromWide(text, ::SysStringLen(text)) : std::u16string();
}

class UniqueBstr {
public:
    explicit UniqueBstr(const wchar_t* text) : value_(::SysAllocString(text)) {
        if (!value_) throw ResultError{kResultOutOfMemory};
    }
    ~UniqueBstr() { ::SysFreeString(value_); }
    UniqueBstr(const UniqueBstr&) = delete;
    UniqueBstr& operator=(const UniqueBstr&) = delete;
    BSTR Get() const { return value_; }

private:
    BSTR value_;
};

}  // namespace

HResult ReadComputerSystemProperty(IWbemServices* services, const wchar_t* property,
                                   std::u16string& value) {
    value.clear();
    if (!services) return kResultInvalidArg;
    const UniqueBstr className(L"Win32_ComputerSystem");
    ComPtr<IEnumWbemClassObject> instances;
    HRESULT hr = services->CreateInstanceEnum(className.Get(), WBEM_FLAG_SHALLOW, nullptr,
                                              instances.Put());
    if (Failed(hr)) return hr;
    ComPtr<IWbemClassObject> instance;
    ULONG returned = 0;
    hr = instances->Next(static_cast<long>(WBEM_INFINITE), 1, instance.Put(), &returned);
    if (hr != S_OK) return Failed(hr) ? hr : kResultFail;
    if (returned != 1 || !instance) return kResultFail;

    VARIANT content;
    ::VariantInit(&content);
    hr = instance->Get(property, 0, &content, nullptr, nullptr);
    if (Succeeded(hr)) {
        if (content.vt == VT_BSTR) {
            value = TrimTrailingWhiteSpace(BstrText(content.bstrVal));
        } else {
            hr = DISP_E_TYPEMISMATCH;
        }
    }
    ::VariantClear(&content);
    return hr;
}

void ReadComputerSystemFromWmi(ComputerSystemValues& values) {
    // An apartment of this thread's own, whatever the caller's COM state.
    if (Failed(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return;
    ScopeExit uninitialize([] { ::CoUninitialize(); });

    ComPtr<IWbemServices> services;
    {
        ComPtr<IWbemLocator> locator;
        if (::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                               locator.PutVoid()) != S_OK) {
            return;
        }
        const UniqueBstr space(L"\\\\.\\root\\CIMV2");
        if (Failed(locator->ConnectServer(space.Get(), nullptr, nullptr, nullptr, 0, nullptr,
                                          nullptr, services.Put())) ||
            !services) {
            return;
        }
        ComPtr<IClientSecurity> security;
        if (Succeeded(services->QueryInterface(IID_IClientSecurity, security.PutVoid()))) {
            security->SetBlanket(services.Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                                 RPC_C_AUTHN_LEVEL_CONNECT, RPC_C_IMP_LEVEL_IMPERSONATE,
                                 nullptr, EOAC_NONE);
        }
    }
    values.manufacturerRead =
        Succeeded(ReadComputerSystemProperty(services.Get(), L"Manufacturer", values.manufacturer));
    values.modelRead =
        Succeeded(ReadComputerSystemProperty(services.Get(), L"Model", values.model));
}

HResult QueryComputerSystem(HANDLE cancelEvent, DWORD milliseconds, ComputerSystemReader reader) {
    if (Known()) return kResultOk;
    const UniqueHandle query(JoinOrStartQuery(reader ? reader : ReadComputerSystemFromWmi));
    if (!query) return kResultNotReady;

    const HANDLE handles[] = {query.Get(), cancelEvent};
    const DWORD wait =
        ::WaitForMultipleObjects(cancelEvent ? 2 : 1, handles, FALSE, milliseconds);
    if (wait == WAIT_OBJECT_0) {
        ForgetEndedQuery();
        return Known() ? kResultOk : kResultNotReady;
    }
    if (wait == WAIT_OBJECT_0 + 1) return kResultAbort;
    if (wait == WAIT_TIMEOUT) return kResultNotReady;
    return kResultUnexpected;
}

std::u16string CachedManufacturer() {
    ComputerSystemCache& cache = Cache();
    LockGuard lock(cache.computerSystemLock);
    return cache.cachedManufacturer;
}

std::u16string CachedModel() {
    ComputerSystemCache& cache = Cache();
    LockGuard lock(cache.computerSystemLock);
    return cache.cachedModel;
}

}  // namespace quarry
