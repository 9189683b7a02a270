// Follows the processes that descend from a root process, so that run mode
// can wait for what the started program leaves running. A thread polls the
// process list about once a second and keeps the set of live descendants.
#pragma once

#include <windows.h>

#include <string>
#include <unordered_map>

#include "common/Result.h"
#include "common/Unique.h"

namespace quarry {

using TrackedProcesses = std::unordered_map<DWORD, std::u16string>;

class ProcessTreeWatcher {
public:
    // Creates the lock and the three events; the thread starts with Start.
    ProcessTreeWatcher();
    // Stops the thread when Stop was not called.
    ~ProcessTreeWatcher();
    ProcessTreeWatcher(const ProcessTreeWatcher&) = delete;
    ProcessTreeWatcher& operator=(const ProcessTreeWatcher&) = delete;

    // Tracks `processId` (not 0, not the current root) with its image path
    // and asks the thread for a fresh pass. Earlier roots stay tracked.
    void SetRoot(const std::u16string& imagePath, DWORD processId);
    // Starts the thread once: 0, 0x8000FFFF after Stop or when the events
    // could not be made, or the error of the thread's start.
    HResult Start();
    // The tracked processes (id -> image path) at this moment.
    TrackedProcesses CopyTracked();
    // Ends the thread (terminated when it does not end within 10 s) and
    // closes the events. The watcher cannot be started again afterwards.
    void Stop();

    bool Running() const { return running; }
    // Set it to have the thread begin a fresh pass at once.
    HANDLE RootChangedEvent() const { return rootChangedEvent.Get(); }
    // Pulsed after each completed pass: only a waiter already waiting sees it.
    HANDLE PassDoneEvent() const { return passDoneEvent.Get(); }
    // Set it to have the thread end.
    HANDLE StopEvent() const { return stopEvent.Get(); }

private:
    static unsigned __stdcall ThreadProc(void* context);
    // The thread body; returns 0 when asked to stop, or the error of a
    // process snapshot that could not be taken.
    DWORD Run();
    // One pass over the snapshot (taken and possibly failed already). False
    // when the thread is to end; true, also when a new root cut the pass
    // short, for the next wait, which the set rootChangedEvent ends at once.
    bool RunPass(UniqueFile& snapshot);

    DWORD rootProcessId = static_cast<DWORD>(-1);
    std::u16string rootImagePath;
    CRITICAL_SECTION lock;
    TrackedProcesses trackedProcesses;
    bool running = false;
    bool stopped = false;
    UniqueHandle stopEvent;
    UniqueHandle rootChangedEvent;
    UniqueHandle passDoneEvent;
    UniqueHandle thread;
    // When true every new process would count as a descendant; run mode
    // never sets it.
    bool trackAll = false;
};

// The full image path of a process, or empty when it cannot be opened or
// read.
std::u16string GetProcessImagePath(DWORD processId);

// Opens a process with the first of these rights that the system grants:
// query information and read memory, limited query and read memory, query
// information, limited query. Empty when none is granted.
UniqueHandle OpenProcessForQuery(DWORD processId);

// The full path of the process's main module (GetModuleFileNameExW, 260
// characters), or empty when it cannot be read.
std::u16string ModuleImagePath(HANDLE process);

}  // namespace quarry
