// The three operations of quarrypack: create a packaged program, list a
// package's directory, extract a package the way the runner does.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "Cabinet.h"
#include "Check.h"
#include "Status.h"

namespace quarry::pack {

struct NamedGroupSource {
    std::string name;    // UTF-8; "\" separates subfolders below the destination
    std::string folder;  // its files become the group's entries
};

struct CreateOptions {
    std::string stubPath;       // the runner program, unpacked
    std::string settingsPath;   // Settings.ini in UTF-8 or UTF-16 with BOM
    std::string payloadFolder;  // becomes the cabinet
    std::string outputPath;
    std::string messagePath;                // stored as MessageInfo.xml; empty for none
    std::vector<std::string> supportPaths;  // more files of the main group
    std::string flatFolder;                 // its files form the flat group; empty for none
    std::vector<NamedGroupSource> groups;
    std::uint64_t flags = 0;
    Compression compression = Compression::Mszip;
    unsigned lzxWindowBits = kDefaultLzxWindowBits;  // with Compression::Lzx
    PackProgress progress;                           // hears how packing the payload goes
    std::int64_t time = 0;  // package time stamp (time1, time2), Unix seconds
    // When set (SOURCE_DATE_EPOCH), no stored file time is later than this,
    // so that the same inputs give the same bytes.
    std::optional<std::int64_t> clampSeconds;
    bool strict = false;  // warnings of the checks refuse as errors do
    bool force = false;   // nothing the checks find refuses (they still report)
};

struct CreateSummary {
    std::size_t payloadFiles = 0;
    std::uint64_t payloadBytes = 0;
    std::uint64_t cabinetBytes = 0;  // as stored; 0 without a cabinet
    std::uint64_t outputBytes = 0;
};

// Writes the stub followed by the package to `outputPath`, with the package
// offset in bytes 32..39. The output appears only when everything succeeded:
// it is written to a temporary file beside it and renamed at the end.
//
// Main group: Settings.ini (stored as UTF-16LE with byte-order mark, with
// "TotalFileSize=<payload bytes>" added to [Package] when that key is
// missing), the cabinet (complemented; left out when the payload folder
// holds no file), MessageInfo.xml, the support files. Then the flat group,
// then the named groups in the given order. Entry times are the files'
// modification times.
//
// Before anything is written: an output that is one of the inputs (the same
// file, or inside an input folder) is refused, and the checks of Check.h run
// on the inputs; their findings go to `findings`, and errors (with
// `strict`, warnings too) refuse the package.
Status CreatePackage(const CreateOptions& options, std::vector<Finding>* findings = nullptr,
                     CreateSummary* summary = nullptr);

// The checks on create's inputs without packing them (no stub needed).
Status CheckSources(const CreateOptions& options, std::vector<Finding>& findings);

// The checks on a packed program, read as list and extract read it: the
// package's place in the file (every entry inside it and ahead of any
// certificate table, no bytes that belong to nothing), the payload
// cabinet's data blocks against their checksums, the Authenticode signature
// where there is one (the file's digest, as Windows computes it, against
// the signed one), and its Settings.ini and MessageInfo.xml against its
// payload and groups. A file that cannot be read as a package at all is an
// error; the rest are findings. `notes`, when given, gets one line each on
// the cabinet and the signature (also when there is none).
Status CheckPackedProgram(const std::string& path, std::vector<Finding>& findings,
                          std::vector<std::string>* notes = nullptr);

// Prints the header, whether the file carries a signature, every group
// with its entries, and the files inside the payload cabinet. Names are
// printed with their control characters escaped (Printable).
Status ListPackage(const std::string& path, std::ostream& out);

// Writes every entry below `folder` as the runner does: main group to
// Support/, flat group to Package/, named groups to Package/<name>/; the
// cabinet is unscrambled, expanded into Package/ and its copy deleted.
// Every file is created new and no symbolic link is followed below `folder`
// (nor `folder` itself when it is one): a name that exists already, a
// folder that is a link or a file that would replace one fails the command.
// Folders that exist as real folders are used.
Status ExtractPackage(const std::string& path, const std::string& folder);

}  // namespace quarry::pack
