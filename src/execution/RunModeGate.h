// Which process run mode takes a launch request from. Pure code: the facts
// about the processes are gathered by RunModeGate_win.h.
//
// Run mode starts whatever file its request names, elevated when it was
// started elevated, and the consent prompt of an elevation shows this
// program's signature. So it takes a request only from the extraction-mode
// copy of this same program file, which is its parent process: the
// extraction-mode process starts it through the shell, and for "runas"
// Windows makes the caller the parent of the elevated process as well.
//
// What it does not stop: a process of the same user may open a running
// copy of the package and name it as the parent of a process it starts
// (the parent-process attribute of CreateProcess, Windows Vista on), or
// simply take that copy over; a user's own processes are not kept apart
// from each other. What it stops is the request from anything else, and
// above all a "runas" that shows this program's publisher in the consent
// prompt for a file that is not the package's.
//
// A second condition on the file named (that it lies in the run folder) is
// left out on purpose: the current folder that would show the run folder is
// set by whoever starts the process, so it tells nothing about a caller
// that the parent condition let through, and for batch files and associated
// files the request names cmd.exe or a program such as msiexec.exe, so the
// file itself would have to be dug out of their command lines.
#pragma once

#include <cstdint>
#include <string>

namespace quarry {

// What the system tells about one process.
struct ProcessIdentity {
    std::u16string imagePath;        // full path of its program file; empty when unknown
    std::uint64_t creationTime = 0;  // FILETIME as one value; 0 when unknown
};

// Whether run mode, running as `self`, takes the request of the process the
// process list names as its parent. `parent` is null when the list names
// none, or when that process is gone or cannot be opened.
//
// True only when both image paths are known and equal without regard to
// case, and the parent was created no later than `self` (both times known):
// a parent that has ended leaves its id to be reused, and a process that
// took it later is not the one that started this copy.
bool AcceptsRunRequest(const ProcessIdentity& self, const ProcessIdentity* parent);

}  // namespace quarry
