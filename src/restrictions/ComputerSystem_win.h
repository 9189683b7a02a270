// The computer's manufacturer and model from WMI (Win32_ComputerSystem),
// read once per process on a thread of its own and kept in a process-wide
// cache under `computerSystemLock`.
#pragma once

#include <windows.h>
#include <wbemcli.h>

#include <string>

#include "common/Result.h"

namespace quarry {

// What one query delivered; a value counts only when its flag is set.
struct ComputerSystemValues {
    bool manufacturerRead = false;
    std::u16string manufacturer;
    bool modelRead = false;
    std::u16string model;
};

// Fills `values`; runs on the query thread. The default is the WMI query
// (ReadComputerSystemFromWmi); a test may give one that answers at once, or
// never.
using ComputerSystemReader = void (*)(ComputerSystemValues& values);

// The WMI query in a multithreaded apartment of the calling thread: the
// locator, ConnectServer to "\\.\root\CIMV2", the proxy blanket (NTLM,
// connect level, impersonate), then Manufacturer and Model.
void ReadComputerSystemFromWmi(ComputerSystemValues& values);

// `property` of the first Win32_ComputerSystem instance, a string with its
// trailing white space removed. Returns the last call's result; `value`
// stays empty on any failure, and a value that is not a string fails with
// DISP_E_TYPEMISMATCH. Throws ResultError when storage for it runs out.
HResult ReadComputerSystemProperty(IWbemServices* services, const wchar_t* property,
                                   std::u16string& value);

// How long a caller waits for the query thread. A WMI service that has not
// answered by then is taken as absent; on a cold start the service itself
// may take half a minute to come up.
constexpr DWORD kComputerSystemWaitMilliseconds = 60000;

// 0 when the cache holds both values (now or from an earlier call). Starts
// the query thread, or joins the one that runs, and waits for it together
// with `cancelEvent` (may be null) for at most `milliseconds`:
// 0x80004004 when the cancel event was set, 0x80070015 (ERROR_NOT_READY)
// when the query ended without both values or did not end in time, and
// 0x8000FFFF when the wait itself failed. A query that outlives its waiters
// keeps running and is joined by the next call rather than started again.
HResult QueryComputerSystem(HANDLE cancelEvent,
                            DWORD milliseconds = kComputerSystemWaitMilliseconds,
                            ComputerSystemReader reader = ReadComputerSystemFromWmi);

// The cached values, read under `computerSystemLock`; meaningful after
// QueryComputerSystem returned 0.
std::u16string CachedManufacturer();
std::u16string CachedModel();

}  // namespace quarry
