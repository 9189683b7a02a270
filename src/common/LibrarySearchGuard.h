// The system libraries that the start-up guard loads from the system folder
// ahead of need, and the files it refuses to find beside the program, each
// list chosen by the running Windows version. Names are relative to the
// system folder and may contain a subfolder.
//
// The lists are constant data and the choosers touch nothing else, so the
// guard can use them before the C runtime has started.
#pragma once

#include <cstddef>

namespace quarry {

struct LibraryList {
    const char16_t* const* names;
    std::size_t count;
};

// rsaenh and bcrypt: what a system that narrows the search by itself still
// needs loaded early on Windows older than 6.1.
LibraryList LegacyCryptoGroup();

// The group of each kind for Windows major.minor: the 5.x list for major 5
// and lower, the 6.0 list for 6.0, and the list of later versions for
// anything else. The explorer group is empty except on 6.0.
LibraryList BaseGroup(unsigned major, unsigned minor);
LibraryList ShellGroup(unsigned major, unsigned minor);
LibraryList ExplorerGroup(unsigned major, unsigned minor);

// Files that must not lie beside the program: the second list only on
// Windows before 6.0, where the system folder's shell32 is not protected.
LibraryList NeighbourFiles();
LibraryList NeighbourFilesBefore60();

// Windows older than 6.1 (major below 6, or 6.0).
bool IsBeforeWindows61(unsigned major, unsigned minor);

}  // namespace quarry
