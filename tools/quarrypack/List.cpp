#include "List.h"

#include <cinttypes>
#include <cstdio>

#include "FileTime.h"
#include "Names.h"
#include "PackageFile.h"
#include "ProgramResources.h"
#include "common/Text.h"
#include "package/PackageLayout.h"

namespace quarry::pack {

namespace {

std::string Hex(std::uint64_t value, int digits) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%0*" PRIx64, digits, value);
    return text;
}

const char* RoleName(GroupKind kind) {
    if (kind == GroupKind::Main) return "main";
    return kind == GroupKind::Flat ? "flat" : "named";
}

// One line for each folder of the packed cabinet: its compression.
Status PrintPackedFolders(const OpenedPackage& package, const PackageEntry& entry,
                          std::ostream& out) {
    std::vector<CabinetFolderListing> folders;
    RETURN_IF_ERROR(ListPackedFolders(package, entry, folders));
    for (std::size_t i = 0; i < folders.size(); ++i) {
        out << "  folder " << i + 1 << ": " << folders[i].compression << ", " << folders[i].blocks
            << (folders[i].blocks == 1 ? " data block\n" : " data blocks\n");
    }
    return Status();
}

// The files inside the payload cabinet `entry`.
Status ListCabinetMembers(const OpenedPackage& package, const std::string& path,
                          const PackageEntry& entry, std::ostream& out) {
    std::vector<CabinetListing> members;
    RETURN_IF_ERROR(ListPackedCabinet(package, entry, members).WithPath(path));
    std::uint64_t total = 0;
    for (const CabinetListing& member : members) total += member.size;
    out << "\npayload cabinet (" << members.size()
        << (members.size() == 1 ? " file, " : " files, ") << total << " bytes)\n";
    RETURN_IF_ERROR(PrintPackedFolders(package, entry, out).WithPath(path));
    if (members.empty()) return Status();
    char line[128];
    std::snprintf(line, sizeof line, "  %12s  %-23s  %s\n", "size", "time", "name");
    out << line;
    for (const CabinetListing& member : members) {
        const std::string time = FormatFileTimeUtc(FileTimeFromUnix(member.time)).substr(0, 19) +
                                 (member.utc ? " UTC" : " loc");
        std::snprintf(line, sizeof line, "  %12" PRIu32 "  %-23s  ", member.size, time.c_str());
        out << line << Printable(member.name) << "\n";
    }
    return Status();
}

}  // namespace

Status ListPackage(const std::string& path, std::ostream& out) {
    OpenedPackage package;
    RETURN_IF_ERROR(OpenPackage(path, package));
    const PackageDirectory& directory = package.directory;
    out << "package   " << path << "\n"
        << "offset    " << package.offset << " (" << Hex(package.offset, 8) << ")\n"
        << "data      " << package.dataStart << " to " << package.dataEnd << "\n"
        << "time1     " << FormatFileTimeUtc(directory.time1) << " (" << Hex(directory.time1, 16)
        << ")\n"
        << "time2     " << FormatFileTimeUtc(directory.time2) << " (" << Hex(directory.time2, 16)
        << ")\n"
        << "flags     " << Hex(directory.flags, 16) << "\n";
    if ((directory.flags & kFlagConsultSilentRegistry) != 0) {
        out << "          bit 0: consult SilentExecution registry value\n";
    }
    if ((directory.flags & ~kFlagConsultSilentRegistry) != 0) {
        out << "          other bits: not used by the runner\n";
    }
    PeImage image;
    const Status pe = ReadProgramHeaders(package, image);
    out << "signature ";
    if (!pe.Ok()) {
        out << "unknown (" << pe.Message() << ")\n";
    } else if (image.certificateSize == 0) {
        out << "none (the program file is not signed)\n";
    } else {
        out << "a certificate table of " << image.certificateSize << " bytes at offset "
            << image.certificateOffset << " (present; check verifies it)\n";
    }
    PrintProgramVersion(package.fd.Get(), package.fileSize, out);
    out << "groups    " << directory.groups.size() << "\n";

    char line[128];
    for (const PackageGroup& group : directory.groups) {
        out << "\ngroup " << Printable(group.name) << " (" << RoleName(ClassifyGroup(group.name))
            << ", " << group.entries.size() << (group.entries.size() == 1 ? " entry" : " entries")
            << ")\n";
        if (group.entries.empty()) continue;
        std::snprintf(line, sizeof line, "  %12s  %12s  %-23s  %s\n", "size", "offset",
                      "last write", "name");
        out << line;
        for (const PackageEntry& entry : group.entries) {
            std::snprintf(line, sizeof line, "  %12" PRIu64 "  %12" PRIu64 "  %-23s  ", entry.size,
                          entry.offset, FormatFileTimeUtc(entry.lastWriteTime).c_str());
            out << line << Printable(entry.name) << "\n";
        }
    }

    for (const PackageGroup& group : directory.groups) {
        if (const PackageEntry* cabinet = GroupPayloadCabinet(group)) {
            RETURN_IF_ERROR(ListCabinetMembers(package, path, *cabinet, out));
        }
    }
    return Status();
}

}  // namespace quarry::pack
