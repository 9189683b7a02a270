// quarrypack create: the runner program followed by a package made of a
// settings file, a payload folder and groups; and the checks on those
// inputs without packing them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Cabinet.h"
#include "Check.h"
#include "ProgramResources.h"
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
    // The program file's version block and icon (SetProgramResources).
    ProgramResourceOptions resources;
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
// The stub's version block and icon are set first (ProgramResources.h), and
// then the checksum of the finished file.
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

}  // namespace quarry::pack
