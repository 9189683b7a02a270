// The program file's own resources as create sets them: the version block
// that Explorer's details, the consent prompt and deployment tools show
// (and whose ProductName captions the program's start-up boxes), and the
// icon. The stub's resource section is replaced whole, which is possible
// without a Windows tool only when it is the image's last section: the
// section table, SizeOfImage, the resource data directory and, once the
// file is complete, the PE checksum are brought in line with it.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "Status.h"

namespace quarry::pack {

// create's options for the program file, as given (UTF-8). Versions are
// "A.B.C.D" (fewer parts are filled with 0).
struct ProgramResourceOptions {
    std::optional<std::string> productName;
    std::optional<std::string> description;
    std::optional<std::string> company;
    std::optional<std::string> copyright;
    std::optional<std::string> fileVersion;
    std::optional<std::string> productVersion;
    std::string iconPath;  // an .ico file; empty keeps the stub's icon

    bool Any() const {
        return productName || description || company || copyright || fileVersion ||
               productVersion || !iconPath.empty();
    }
};

// Sets the version block and the icon of `stub` (a program file that
// CheckStub accepted, without a package yet).
//
// The product name is the option's, else `settingsProductName` ([Package]
// ProductName) when that is not empty. In every string table of the version
// block (whose languages and code pages stay as the stub has them)
// ProductName, FileDescription (the description, else the product name),
// CompanyName, LegalCopyright, FileVersion and ProductVersion are set where
// given, the fixed file and product versions with their strings, and
// OriginalFilename and InternalName become `outputName` and its name
// without extension. A stub without a version block gets one (US English,
// Unicode). `--icon` replaces the first icon group and its images (every
// image of the file). Every other resource is kept byte for byte.
//
// `rewritten` tells whether anything was changed; the checksum is then for
// UpdateImageChecksum to set once the package is appended. Nothing to set,
// or only a product name from the settings for a stub without any resource
// section (a test stand-in), leaves the stub as it is. Errors name the stub
// or the icon file: a resource section that is not the image's last
// section, a damaged resource directory or version block, an icon file
// that is not one.
Status SetProgramResources(std::vector<std::uint8_t>& stub, const std::string& stubPath,
                           const ProgramResourceOptions& options,
                           const std::u16string& settingsProductName,
                           const std::string& outputName, bool& rewritten);

// The standard PE checksum of a file held in memory: the 16-bit little-endian
// words summed with the carry added back in, the checksum field at
// `checksumPosition` taken as zero, an odd last byte as a word of its own,
// plus the file length.
std::uint32_t PeChecksum(const std::uint8_t* data, std::size_t size,
                         std::uint64_t checksumPosition);

// Computes the checksum of the complete program file open for reading and
// writing at `fd` and stores it in its optional header.
Status UpdateImageChecksum(int fd, const std::string& path);

// For list: "version   ..." lines with the fixed versions, the translations
// and every string of the version block of the program file at `fd`, or one
// line saying why there is none to show.
void PrintProgramVersion(int fd, std::uint64_t fileSize, std::ostream& out);

}  // namespace quarry::pack
