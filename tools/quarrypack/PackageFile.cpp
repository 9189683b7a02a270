#include "PackageFile.h"

#include <algorithm>

#include "Names.h"

namespace quarry::pack {

const char16_t kMessageEntryName[] = u"MessageInfo.xml";

namespace {

// Reads the complemented cabinet entry in blocks for ListCabinet.
struct CabinetWindow {
    int fd = -1;
    std::uint64_t base = 0;
    std::uint64_t size = 0;
    std::uint64_t blockStart = 0;
    std::vector<std::uint8_t> block;

    static bool Read(void* context, std::uint64_t offset, void* buffer, std::size_t length) {
        auto& self = *static_cast<CabinetWindow*>(context);
        auto* out = static_cast<std::uint8_t*>(buffer);
        while (length > 0) {
            if (offset < self.blockStart || offset >= self.blockStart + self.block.size()) {
                if (offset >= self.size) return false;
                const std::size_t want =
                    static_cast<std::size_t>(std::min<std::uint64_t>(64 * 1024, self.size - offset));
                self.block.resize(want);
                FileSource source(self.fd);
                if (!source.Seek(self.base + offset) || !source.Read(self.block.data(), want)) {
                    self.block.clear();
                    return false;
                }
                UnscrambleBuffer(self.block.data(), want);
                self.blockStart = offset;
            }
            const std::size_t at = static_cast<std::size_t>(offset - self.blockStart);
            const std::size_t take = std::min(length, self.block.size() - at);
            std::copy(self.block.begin() + static_cast<std::ptrdiff_t>(at),
                      self.block.begin() + static_cast<std::ptrdiff_t>(at + take), out);
            out += take;
            offset += take;
            length -= take;
        }
        return true;
    }
};

CabinetWindow WindowOn(const OpenedPackage& package, const PackageEntry& entry) {
    CabinetWindow window;
    window.fd = package.fd.Get();
    window.base = entry.offset;
    window.size = entry.size;
    return window;
}

}  // namespace

Status OpenPackage(const std::string& path, OpenedPackage& package) {
    RETURN_IF_ERROR(OpenForReading(path, package.fd, package.fileSize));
    FileSource source(package.fd.Get());
    std::uint8_t field[8];
    if (!source.Seek(kPackageOffsetPosition) || !source.Read(field, sizeof field)) {
        return Status::FileError(path, "too short to hold a package");
    }
    const std::uint64_t offset = LoadLE64(field);
    if (offset == 0) return Status::FileError(path, "holds no package (bytes 32 to 39 are zero)");
    if (static_cast<std::int64_t>(offset) < 0 || offset >= package.fileSize) {
        return Status::FileError(path, "damaged package: its offset " + std::to_string(offset) +
                                           " lies outside the file");
    }
    PackageHeader header;
    if (Failed(ReadHeader(source, package.offset, header))) {
        return Status::FileError(path,
                                 "damaged package: the header is cut short or its time "
                                 "stamp is zero");
    }
    if (Failed(ReadDirectory(source, header, package.directory, package.dataStart))) {
        return Status::FileError(path,
                                 "damaged package: the directory is cut short, has a name "
                                 "of 32,000 units or more, or an unsafe name");
    }
    package.dataEnd = package.dataStart;
    for (const PackageGroup& group : package.directory.groups) {
        for (const PackageEntry& entry : group.entries) package.dataEnd += entry.size;
    }
    if (package.dataEnd > package.fileSize) {
        return Status::FileError(path, "damaged package: the entries' data end at byte " +
                                           std::to_string(package.dataEnd) +
                                           ", after the end "
                                           "of the file (" +
                                           std::to_string(package.fileSize) + " bytes)");
    }
    return Status();
}

// The program file's PE headers, from the start of the file.
Status ReadProgramHeaders(const OpenedPackage& package, PeImage& image) {
    std::vector<std::uint8_t> head(
        static_cast<std::size_t>(std::min<std::uint64_t>(package.fileSize, 1024 * 1024)));
    FileSource source(package.fd.Get());
    if (!source.Seek(0) || !source.Read(head.data(), head.size())) {
        return Status::Error("cannot read the program headers");
    }
    return ReadPeHeaders(head.data(), head.size(), package.fileSize, image);
}

// A small entry read into memory, unscrambled when asked.
Status ReadEntry(const OpenedPackage& package, const std::string& path, const PackageEntry& entry,
                 bool scrambled, std::uint64_t limit, std::vector<std::uint8_t>& bytes) {
    if (entry.size > limit) {
        return Status::FileError(path, Quoted(entry.name) + " is larger than " +
                                           std::to_string(limit) + " bytes");
    }
    bytes.resize(static_cast<std::size_t>(entry.size));
    FileSource source(package.fd.Get());
    if (!source.Seek(entry.offset) || !source.Read(bytes.data(), bytes.size())) {
        return Status::FileError(path, "cannot read " + Quoted(entry.name));
    }
    if (scrambled) UnscrambleBuffer(bytes.data(), bytes.size());
    return Status();
}

Status ListPackedFolders(const OpenedPackage& package, const PackageEntry& entry,
                         std::vector<CabinetFolderListing>& folders) {
    CabinetWindow window = WindowOn(package, entry);
    return ListCabinetFolders(&CabinetWindow::Read, &window, entry.size, folders);
}

Status ListPackedCabinet(const OpenedPackage& package, const PackageEntry& entry,
                         std::vector<CabinetListing>& members) {
    CabinetWindow window = WindowOn(package, entry);
    return ListCabinet(&CabinetWindow::Read, &window, entry.size, members);
}

Status CheckPackedCabinet(const OpenedPackage& package, const PackageEntry& entry,
                          std::vector<std::string>& problems, CabinetDataSummary& summary) {
    CabinetWindow window = WindowOn(package, entry);
    return CheckCabinetData(&CabinetWindow::Read, &window, entry.size, problems, summary);
}

}  // namespace quarry::pack
