// The pure rules behind the run's folders: the free-space comparison and its
// margin, the drive text of the "not enough space" message, the extract
// folder's parent kinds and default name, and the path pieces the Windows
// layer joins. No windows.h: these build and are tested natively too.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quarry {

// Added to every required byte count before it is compared with the free
// space of a volume: 20 MiB.
constexpr std::uint64_t kFreeSpaceMargin = 0x1400000;

// a + b in 64 bits. A sum that would pass 2^64 - 1 stays there, so an
// absurd size can never wrap round to a small one and pass the free-space
// check.
std::uint64_t AddWithCarry(std::uint64_t a, std::uint64_t b);

// True when a volume with `available` free bytes can take `required` bytes:
// strictly more is needed, equal is not enough.
bool HasEnoughFreeSpace(std::uint64_t available, std::uint64_t required);

// The text before the first ":" of a folder path ("C" for "C:\x"), shown as
// the drive in the "not enough space" message. Empty when the path has no
// ":", as for a UNC path.
std::u16string DriveText(std::u16string_view folder);

// The folder under which TargetParentFolderType places the extract folder.
enum class ParentFolderKind {
    ProgramFolder = 0,  // the folder of the program file
    Desktop = 1,        // the user's desktop folder
    Downloads = 2,      // the Downloads folder
};

// The kind a TargetParentFolderType value names; nullopt for any value
// other than 0, 1 and 2.
std::optional<ParentFolderKind> ParentFolderKindFromSetting(std::int32_t value);

// The default extract folder name: the program file's name less its
// extension (ExtensionPart). "Setup.exe" gives "Setup", "a.b.exe" gives
// "a.b", "noext" stays, ".hidden" gives "". Only the file name part of the
// argument counts when it holds a path.
std::u16string FolderNameFromProgramName(std::u16string_view programName);

// The name under which the extract folder is made: `wanted` when it is one
// usable folder name, otherwise kFallbackExtractFolderName. Not usable: empty,
// "." or "..", a path separator or a character Windows refuses in a name
// (< > : " | ? * and the control characters), a trailing dot or space
// (Windows drops them, so the name would be another folder's), or a device
// name (CON, NUL, COM1, ...). A program saved as ".exe" gives an empty name
// that would make the program's own folder the extract folder.
inline constexpr char16_t kFallbackExtractFolderName[] = u"Package";
std::u16string ExtractFolderName(std::u16string_view wanted);

// A run's work folder under the work root: a GUID in braces, 38 characters
// ("{8-4-4-4-12}" of hexadecimal digits), as NewGuidString writes it.
bool IsWorkFolderName(std::u16string_view name);

// Whether a work folder left under the work root is stale: both its
// creation and its last change (FILETIME values, 100 ns units) more than
// seven days before `now`. A time in the future is not stale.
constexpr std::uint64_t kStaleWorkFolderAge = 7ull * 24 * 60 * 60 * 10000000;
bool IsStaleWorkFolder(std::uint64_t created, std::uint64_t written, std::uint64_t now);

}  // namespace quarry
