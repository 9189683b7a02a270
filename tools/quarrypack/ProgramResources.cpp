#include "ProgramResources.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "FileIo.h"
#include "IconFile.h"
#include "LittleEndian.h"
#include "Names.h"
#include "Pe.h"
#include "ResourceTree.h"
#include "VersionBlock.h"
#include "common/Text.h"
#include "package/PackageFormat.h"

namespace quarry::pack {

namespace {

constexpr std::size_t kLfanewPosition = 0x3C;
constexpr std::size_t kCoffHeaderSize = 20;
constexpr std::size_t kSectionHeaderSize = 40;
constexpr std::uint32_t kResourceDirectory = 2;
constexpr std::uint32_t kInitializedData = 0x40;  // IMAGE_SCN_CNT_INITIALIZED_DATA
constexpr std::uint64_t kMaxIconFileSize = 16ull * 1024 * 1024;
constexpr std::uint64_t kMaxSectionSize = 64ull * 1024 * 1024;
constexpr std::uint16_t kUsEnglish = 0x0409;
constexpr std::uint16_t kUnicodeCodePage = 1200;

std::uint64_t AlignUp(std::uint64_t value, std::uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

bool PowerOfTwo(std::uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

// Where the resource section is and the header fields that follow its size.
struct ResourceLayout {
    bool present = false;  // a resource data directory entry that is not empty
    bool last = false;     // the last section, by table, address and file offset
    std::size_t sectionHeader = 0;
    std::uint32_t virtualAddress = 0;
    std::uint32_t rawPointer = 0;
    std::uint32_t rawSize = 0;
    std::uint32_t characteristics = 0;
    std::size_t directoryEntry = 0;
    std::uint32_t directoryRva = 0;
    std::size_t optionalHeader = 0;
    std::uint32_t fileAlignment = 0;
    std::uint32_t sectionAlignment = 0;
};

Status ReadResourceLayout(const std::uint8_t* data, std::size_t size, ResourceLayout& layout) {
    layout = ResourceLayout();
    const auto notPe = [](const char* reason) {
        return Status::Error(std::string("not a PE program file (") + reason + ")");
    };
    if (size < 64 || data[0] != 'M' || data[1] != 'Z') return notPe("no MZ header");
    const std::size_t pe = LoadLE32(data + kLfanewPosition);
    if (pe > size || size - pe < 4 + kCoffHeaderSize) return notPe("e_lfanew points outside the file");
    const std::size_t count = Load16(data + pe + 6);
    const std::size_t optionalSize = Load16(data + pe + 20);
    const std::size_t optional = pe + 4 + kCoffHeaderSize;
    const std::size_t table = optional + optionalSize;
    if (table > size || (size - table) / kSectionHeaderSize < count || optionalSize < 2) {
        return notPe("section table outside the file");
    }
    const std::uint16_t magic = Load16(data + optional);
    const std::size_t directories = magic == 0x20B ? 112 : magic == 0x10B ? 96 : 0;
    if (directories == 0) return notPe("unknown optional header");
    // Everything read or written below lies before the directories.
    if (optionalSize < directories) return notPe("optional header too short");
    layout.optionalHeader = optional;
    layout.sectionAlignment = LoadLE32(data + optional + 32);
    layout.fileAlignment = LoadLE32(data + optional + 36);
    const std::uint32_t directoryCount = LoadLE32(data + optional + directories - 4);
    layout.directoryEntry = optional + directories + 8 * kResourceDirectory;
    if (directoryCount <= kResourceDirectory || layout.directoryEntry + 8 > table) return Status();
    layout.directoryRva = LoadLE32(data + layout.directoryEntry);
    if (layout.directoryRva == 0 || LoadLE32(data + layout.directoryEntry + 4) == 0) return Status();
    layout.present = true;

    std::uint64_t highestEnd = 0, highestRaw = 0;
    std::size_t found = count;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* section = data + table + i * kSectionHeaderSize;
        const std::uint64_t address = LoadLE32(section + 12);
        const std::uint64_t virtualSize = std::max(LoadLE32(section + 8), LoadLE32(section + 16));
        const std::uint64_t rawEnd = std::uint64_t{LoadLE32(section + 20)} + LoadLE32(section + 16);
        if (layout.directoryRva >= address && layout.directoryRva < address + virtualSize) found = i;
        if (found != i) {
            highestEnd = std::max(highestEnd, address + virtualSize);
            if (LoadLE32(section + 16) != 0) highestRaw = std::max(highestRaw, rawEnd);
        }
    }
    if (found == count) return Status::Error("its resource directory lies in no section");
    const std::uint8_t* section = data + table + found * kSectionHeaderSize;
    layout.sectionHeader = table + found * kSectionHeaderSize;
    layout.virtualAddress = LoadLE32(section + 12);
    layout.rawSize = LoadLE32(section + 16);
    layout.rawPointer = LoadLE32(section + 20);
    layout.characteristics = LoadLE32(section + 36);
    layout.last = found + 1 == count && highestEnd <= layout.virtualAddress &&
                  highestRaw <= layout.rawPointer;
    return Status();
}

// The values of create's options, checked and in UTF-16.
Status OptionText(const std::optional<std::string>& value, const char* option,
                  std::optional<std::u16string>& text) {
    if (!value) return Status();
    if (!IsValidUtf8(*value)) return Status::Error(std::string(option) + ": not UTF-8");
    text = Utf8ToUtf16(*value);
    return Status();
}

Status OptionVersion(const std::optional<std::string>& value, const char* option,
                     std::optional<VersionNumber>& number) {
    if (!value) return Status();
    VersionNumber parsed;
    if (!ParseVersionNumber(*value, parsed)) {
        return Status::Error(std::string(option) + ": \"" + *value +
                             "\" is not a version of up to four numbers from 0 to 65535");
    }
    number = parsed;
    return Status();
}

struct VersionEdit {
    std::optional<std::u16string> productName, description, company, copyright, fileVersionText,
        productVersionText;
    std::optional<VersionNumber> fileVersion, productVersion;
    std::u16string outputName;

    bool Any() const {
        return productName || description || company || copyright || fileVersion || productVersion;
    }
};

Status EditVersionBlocks(std::vector<Resource>& resources, const VersionEdit& edit) {
    bool found = false;
    for (Resource& resource : resources) {
        if (resource.type != ResourceKey::Id(kResourceVersion)) continue;
        found = true;
        VersionBlock block;
        RETURN_IF_ERROR(VersionBlock::Parse(resource.data.data(), resource.data.size(), block));
        const auto set = [&block](const char16_t* key, const std::optional<std::u16string>& value) {
            if (value) block.SetString(key, *value);
        };
        set(u"ProductName", edit.productName);
        set(u"FileDescription", edit.description ? edit.description : edit.productName);
        set(u"CompanyName", edit.company);
        set(u"LegalCopyright", edit.copyright);
        set(u"FileVersion", edit.fileVersionText);
        set(u"ProductVersion", edit.productVersionText);
        const std::size_t dot = edit.outputName.rfind(u'.');
        block.SetString(u"OriginalFilename", edit.outputName);
        block.SetString(u"InternalName",
                        dot == std::u16string::npos || dot == 0 ? edit.outputName
                                                                : edit.outputName.substr(0, dot));
        if (edit.fileVersion) block.SetFileVersion(*edit.fileVersion);
        if (edit.productVersion) block.SetProductVersion(*edit.productVersion);
        RETURN_IF_ERROR(block.Serialize(resource.data));
    }
    if (!found) {
        Resource resource;
        resource.type = ResourceKey::Id(kResourceVersion);
        resource.name = ResourceKey::Id(1);
        resource.language = ResourceKey::Id(kUsEnglish);
        std::vector<std::uint8_t> empty;
        RETURN_IF_ERROR(VersionBlock::Empty(kUsEnglish, kUnicodeCodePage).Serialize(empty));
        resource.data = std::move(empty);
        resources.push_back(std::move(resource));
        return EditVersionBlocks(resources, edit);
    }
    return Status();
}

std::string VersionText(const VersionNumber& number) {
    return std::to_string(number[0]) + "." + std::to_string(number[1]) + "." +
           std::to_string(number[2]) + "." + std::to_string(number[3]);
}

}  // namespace

std::uint32_t PeChecksum(const std::uint8_t* data, std::size_t size,
                         std::uint64_t checksumPosition) {
    // The field's bytes count as zero, whatever its alignment.
    const auto byte = [&](std::size_t at) -> std::uint32_t {
        const bool inField = at >= checksumPosition && at - checksumPosition < 4;
        return at < size && !inField ? data[at] : 0;
    };
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < size; i += 2) {
        sum += byte(i) | (byte(i + 1) << 8);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return (sum & 0xFFFF) + static_cast<std::uint32_t>(size);
}

Status SetProgramResources(std::vector<std::uint8_t>& stub, const std::string& stubPath,
                           const ProgramResourceOptions& options,
                           const std::u16string& settingsProductName,
                           const std::string& outputName, bool& rewritten) {
    rewritten = false;
    VersionEdit edit;
    RETURN_IF_ERROR(OptionText(options.productName, "--product-name", edit.productName));
    RETURN_IF_ERROR(OptionText(options.description, "--description", edit.description));
    RETURN_IF_ERROR(OptionText(options.company, "--company", edit.company));
    RETURN_IF_ERROR(OptionText(options.copyright, "--copyright", edit.copyright));
    RETURN_IF_ERROR(OptionVersion(options.fileVersion, "--file-version", edit.fileVersion));
    RETURN_IF_ERROR(OptionVersion(options.productVersion, "--product-version", edit.productVersion));
    RETURN_IF_ERROR(OptionText(options.fileVersion, "--file-version", edit.fileVersionText));
    RETURN_IF_ERROR(OptionText(options.productVersion, "--product-version", edit.productVersionText));
    const bool fromSettings = !edit.productName && !settingsProductName.empty();
    if (fromSettings) edit.productName = settingsProductName;
    if (!options.Any() && !fromSettings) return Status();
    if (!IsValidUtf8(outputName)) return Status::FileError(outputName, "file name is not UTF-8");
    edit.outputName = Utf8ToUtf16(outputName);

    ResourceLayout layout;
    RETURN_IF_ERROR(ReadResourceLayout(stub.data(), stub.size(), layout).WithPath(stubPath));
    if (!layout.present) {
        if (!options.Any()) return Status();
        return Status::FileError(stubPath, "has no resource section, so its version block and "
                                           "icon cannot be set");
    }
    if (!layout.last || std::uint64_t{layout.rawPointer} + layout.rawSize != stub.size()) {
        return Status::FileError(stubPath,
                                 "its resource section is not the last section of the file, so "
                                 "its version block and icon cannot be rewritten (link it last: "
                                 "cmake/ResourceSectionLast.cmake)");
    }
    if (layout.directoryRva != layout.virtualAddress) {
        return Status::FileError(stubPath, "its resource directory does not begin its section");
    }
    if (!PowerOfTwo(layout.fileAlignment) || !PowerOfTwo(layout.sectionAlignment) ||
        layout.sectionAlignment < layout.fileAlignment) {
        return Status::FileError(stubPath, "not a PE program file (bad section or file alignment)");
    }

    std::vector<Resource> resources;
    RETURN_IF_ERROR(ParseResourceSection(stub.data() + layout.rawPointer, layout.rawSize,
                                         layout.virtualAddress, resources)
                        .WithPath(stubPath));
    if (edit.Any()) RETURN_IF_ERROR(EditVersionBlocks(resources, edit).WithPath(stubPath));
    if (!options.iconPath.empty()) {
        std::vector<std::uint8_t> file;
        RETURN_IF_ERROR(ReadSmallFile(options.iconPath, kMaxIconFileSize, file));
        std::vector<IconImage> images;
        RETURN_IF_ERROR(ParseIconFile(file, images).WithPath(options.iconPath));
        RETURN_IF_ERROR(ReplaceIcon(resources, images).WithPath(options.iconPath));
    }
    std::vector<std::uint8_t> section;
    RETURN_IF_ERROR(BuildResourceSection(resources, layout.virtualAddress, section).WithPath(stubPath));

    const std::uint64_t rawSize = AlignUp(section.size(), layout.fileAlignment);
    const std::uint64_t imageSize = AlignUp(std::uint64_t{layout.virtualAddress} + section.size(),
                                            layout.sectionAlignment);
    if (imageSize > 0xFFFFFFFFu || std::uint64_t{layout.rawPointer} + rawSize > 0xFFFFFFFFu) {
        return Status::FileError(stubPath, "the new resources do not fit into a program image");
    }
    stub.resize(layout.rawPointer);
    stub.insert(stub.end(), section.begin(), section.end());
    stub.resize(layout.rawPointer + rawSize, 0);

    std::uint8_t* header = stub.data() + layout.sectionHeader;
    Store32(header + 8, static_cast<std::uint32_t>(section.size()));  // VirtualSize
    Store32(header + 16, static_cast<std::uint32_t>(rawSize));        // SizeOfRawData
    std::uint8_t* optional = stub.data() + layout.optionalHeader;
    if ((layout.characteristics & kInitializedData) != 0) {
        Store32(optional + 8, static_cast<std::uint32_t>(LoadLE32(optional + 8) - layout.rawSize + rawSize));
    }
    Store32(optional + 56, static_cast<std::uint32_t>(imageSize));  // SizeOfImage
    Store32(stub.data() + layout.directoryEntry + 4, static_cast<std::uint32_t>(section.size()));
    Store32(optional + 64, PeChecksum(stub.data(), stub.size(), layout.optionalHeader + 64));
    rewritten = true;
    return Status();
}

Status UpdateImageChecksum(int fd, const std::string& path) {
    std::vector<std::uint8_t> buffer(1024 * 1024);
    const ssize_t head = ::pread(fd, buffer.data(), 4096, 0);
    if (head < 0) return Status::FileError(path, ErrnoText(errno));
    PeImage image;
    RETURN_IF_ERROR(ReadPeHeaders(buffer.data(), static_cast<std::size_t>(head), UINT64_MAX, image)
                        .WithPath(path));
    if (image.checksumPosition == 0) return Status::FileError(path, "has no checksum field");
    // Summed block by block; every block but the last has an even length,
    // so words never straddle two.
    std::uint32_t sum = 0;
    std::uint64_t offset = 0;
    for (;;) {
        const ssize_t got = ::pread(fd, buffer.data(), buffer.size(), static_cast<off_t>(offset));
        if (got < 0) {
            if (errno == EINTR) continue;
            return Status::FileError(path, ErrnoText(errno));
        }
        if (got == 0) break;
        // The field lies in the first block, the headers.
        const std::uint64_t position = offset == 0 ? image.checksumPosition : UINT64_MAX;
        // A block's checksum without the length, folded into the running sum.
        const std::uint32_t partial =
            PeChecksum(buffer.data(), static_cast<std::size_t>(got), position) -
            static_cast<std::uint32_t>(got);
        sum += partial;
        sum = (sum & 0xFFFF) + (sum >> 16);
        offset += static_cast<std::uint64_t>(got);
        if (static_cast<std::size_t>(got) % 2 != 0) break;  // only the last read is odd
    }
    std::uint8_t field[4];
    Store32(field, (sum & 0xFFFF) + static_cast<std::uint32_t>(offset));
    if (::pwrite(fd, field, sizeof field, static_cast<off_t>(image.checksumPosition)) != 4) {
        return Status::FileError(path, ErrnoText(errno));
    }
    return Status();
}

void PrintProgramVersion(int fd, std::uint64_t fileSize, std::ostream& out) {
    const auto none = [&out](const std::string& why) { out << "version   none (" << why << ")\n"; };
    std::vector<std::uint8_t> head(static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, 64 * 1024)));
    FileSource source(fd);
    if (!source.Seek(0) || !source.Read(head.data(), head.size())) return none("cannot read the headers");
    ResourceLayout layout;
    const Status status = ReadResourceLayout(head.data(), head.size(), layout);
    if (!status.Ok()) return none(status.Message());
    if (!layout.present) return none("the program file has no resources");
    if (layout.rawSize > kMaxSectionSize || std::uint64_t{layout.rawPointer} + layout.rawSize > fileSize) {
        return none("the resource section lies outside the file");
    }
    std::vector<std::uint8_t> section(layout.rawSize);
    if (!source.Seek(layout.rawPointer) || !source.Read(section.data(), section.size())) {
        return none("cannot read the resource section");
    }
    std::vector<Resource> resources;
    const Status parsed = ParseResourceSection(section.data(), section.size(), layout.virtualAddress, resources);
    if (!parsed.Ok()) return none(parsed.Message());
    const auto found = std::find_if(resources.begin(), resources.end(), [](const Resource& r) {
        return r.type == ResourceKey::Id(kResourceVersion);
    });
    if (found == resources.end()) return none("the program file has no version block");
    VersionBlock block;
    const Status read = VersionBlock::Parse(found->data.data(), found->data.size(), block);
    if (!read.Ok()) return none(read.Message());

    out << "version   file " << VersionText(block.FileVersion()) << ", product "
        << VersionText(block.ProductVersion()) << ", translations";
    const std::vector<std::uint32_t> translations = block.Translations();
    if (translations.empty()) out << " none";
    for (std::uint32_t translation : translations) {
        char text[16];
        std::snprintf(text, sizeof text, " %04x%04x", translation & 0xFFFF, translation >> 16);
        out << text;
    }
    out << "\n";
    char line[64];
    for (const VersionBlock::StringTable& table : block.StringTables()) {
        for (const auto& [key, value] : table.strings) {
            std::snprintf(line, sizeof line, "          %s  %-17s ", Printable(table.key).c_str(),
                          Printable(key).c_str());
            out << line << Printable(value) << "\n";
        }
    }
}

}  // namespace quarry::pack
