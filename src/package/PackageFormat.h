// The package appended behind the program image: its byte format, the
// directory parser and the directory writer. Pure code: the parser reads
// through a ByteSource, so it runs over a file under Windows, over memory in
// tests and fuzzing, and inside the Linux packager.
//
// Layout (all integers little-endian, text UTF-16LE without terminator):
//   program file offset 32: package offset, unsigned 64-bit (> 0 as signed)
//   header (28 bytes): time1 FILETIME (non-zero), time2 FILETIME,
//                      flags u64, groupCount u32
//   per group:  nameLength u32 (< 32,000), entryCount u32, name
//   per entry:  nameLength u32 (< 32,000), size u32, name, lastWriteTime
//   data area:  every entry's bytes back to back in directory order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/ByteSource.h"
#include "common/Result.h"
#include "common/Sha256.h"

namespace quarry {

constexpr std::uint64_t kPackageOffsetPosition = 32;
constexpr std::size_t kPackageHeaderSize = 28;
constexpr std::uint32_t kMaxNameLength = 32000;  // exclusive bound
constexpr std::size_t kCopyBufferSize = 5u * 1024u * 1024u;

constexpr std::uint64_t kFlagConsultSilentRegistry = 1;

// Group and entry names with a meaning.
extern const char16_t kMainGroupName[];      // "!!!53AAED7C-68E7-413C-A5FD-D9F76477D66A"
extern const char16_t kFlatGroupName[];      // "!!!E8FF0748-2339-49f9-9A79-824D7561736C"
extern const char16_t kSettingsEntryName[];  // "Settings.ini"
extern const char16_t kCabinetEntryName[];   // "E8FF0748-2339-49f9-9A79-824D7561736C.cab"

enum class GroupKind { Main, Flat, Other };
GroupKind ClassifyGroup(std::u16string_view name);

struct PackageEntry {
    std::u16string name;
    std::uint64_t size = 0;
    std::uint64_t offset = 0;         // absolute in the program file once opened
    std::uint64_t lastWriteTime = 0;  // FILETIME as one 64-bit value

    // The time is applied to the extracted file only when both halves are set.
    bool HasLastWriteTime() const {
        return (lastWriteTime & 0xFFFFFFFFu) != 0 && (lastWriteTime >> 32) != 0;
    }
};

struct PackageGroup {
    std::u16string name;
    std::uint32_t entryCount = 0;
    std::vector<PackageEntry> entries;
};

struct PackageHeader {
    std::uint64_t time1 = 0;
    std::uint64_t time2 = 0;
    std::uint64_t flags = 0;
    std::uint32_t groupCount = 0;
};

struct PackageDirectory {
    std::uint64_t time1 = 0;
    std::uint64_t time2 = 0;
    std::uint64_t flags = 0;
    std::vector<PackageGroup> groups;
};

struct ExtractedFileRecord {
    std::u16string relativePath;
    std::uint64_t size = 0;
    // The SHA-256 of the bytes written, kept for the file that the run is to
    // start (PackageReader::fingerprintPath) and for no other.
    bool fingerprinted = false;
    Sha256Digest digest{};
};

// Header steps: reads the package offset at byte 32 (must be > 0 as a signed
// value), seeks there and reads the 28-byte header (time1 must be non-zero).
// Returns 0, or 0x80040006 for any failure; `packageOffset` and `header` are
// zero on failure. The source is left just after the header.
HResult ReadHeader(ByteSource& source, std::uint64_t& packageOffset, PackageHeader& header);

// Directory steps, continuing right after the header: reads `groupCount`
// groups with their entries, gives every entry its absolute offset (data
// start + running sum across groups) and returns the data start. Returns 0,
// or 0x80040006 for a short read, a name of 32,000 units or more, or a name
// that is unsafe as a path part (IsSafeGroupName, IsSafeEntryName). `directory`
// holds what was read before a failure.
HResult ReadDirectory(ByteSource& source, const PackageHeader& header,
                      PackageDirectory& directory, std::uint64_t& dataStart);

// What keeps a name from being a part of a path that Windows creates as
// named. The packager refuses such names when it packs, and the runner
// refuses them when it reads the directory or expands the cabinet; both use
// the functions below, so the two cannot disagree.
enum class NameFault {
    None,
    Empty,               // no name at all
    Rooted,              // a path that starts with "\" or "/"
    DotsOnly,            // ".", ".." or only dots and spaces: the folder or its parent
    Colon,               // ":": a drive ("C:x") or an alternate data stream ("a:b")
    ControlCharacter,    // a unit below 0x20, or 0x7F
    ReservedCharacter,   // one of < > " / \ | ? *
    TrailingDotOrSpace,  // Windows drops it, so two names would meet on disk
    DeviceName,          // CON, NUL, COM1, ... with or without an extension
    TooLong,             // more than kMaxNameComponentLength units
};

// The longest single file or folder name NTFS and FAT hold, in UTF-16 units.
// The length of the whole path is left to the run: it depends on the folder
// the files go to, which is known only then, and a path too long for the
// system fails where the file is created.
constexpr std::size_t kMaxNameComponentLength = 255;

// One file or folder name. Device names are the ones Windows reserves for
// devices, which it opens whatever the folder: CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0 to
// COM9 and LPT0 to LPT9, with the superscript digits 1, 2 and 3 as well
// (Windows counts them as digits there), compared without regard to case,
// with any extension and with spaces before the extension. Windows 11 no
// longer takes "nul.txt" for the device, but the older systems this program
// runs on do.
NameFault NameComponentFault(std::u16string_view name);

// A relative path: not empty, not rooted, and every part between the
// characters of `separators` passes NameComponentFault. Empty parts
// ("a\\b", a trailing separator) are allowed: Windows folds them away.
// "a:b" and "C:x" fail on the colon, "\\server" on the leading separator.
NameFault RelativePathFault(std::u16string_view path, std::u16string_view separators = u"\\/");

// Entry and group names become path parts of the extracted files. An entry
// name is a single file name (NameComponentFault); a group name is a
// relative path with "\" between its folders ("/" is refused in it).
bool IsSafeEntryName(std::u16string_view name);
bool IsSafeGroupName(std::u16string_view name);

// A relative path inside a cabinet that stays inside the folder it is joined
// to and that Windows creates as named; "/" and "\" both separate parts
// (RelativePathFault).
bool IsSafeRelativePath(std::u16string_view path);

// Serialises the header and directory records (everything before the data
// area). Entry sizes must fit 32 bits and names must be shorter than 32,000
// units; the writer checks both and returns 0x80070057 otherwise.
HResult WriteDirectory(const PackageDirectory& directory, std::vector<std::uint8_t>& out);

// Complements every byte in place (each byte b becomes 255 - b); its own inverse.
void UnscrambleBuffer(void* buffer, std::size_t length);

// Little-endian helpers used by the reader and the packager.
std::uint32_t LoadLE32(const std::uint8_t* p);
std::uint64_t LoadLE64(const std::uint8_t* p);
void AppendLE32(std::vector<std::uint8_t>& out, std::uint32_t value);
void AppendLE64(std::vector<std::uint8_t>& out, std::uint64_t value);

}  // namespace quarry
