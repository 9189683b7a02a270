#include "Cabinet.h"

#include <libgcab.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <map>
#include <memory>
#include <utility>

#include "FileIo.h"
#include "FileTime.h"
#include "LzxCabinet.h"
#include "Names.h"
#include "common/Text.h"
#include "package/PackageFormat.h"

namespace quarry::pack {

namespace {

namespace fs = std::filesystem;

// An owned GObject reference. Move-only.
template <typename T>
class GRef {
public:
    GRef() = default;
    explicit GRef(T* object) : object_(object) {}
    GRef(GRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    GRef& operator=(GRef&& other) noexcept {
        if (this != &other) {
            Reset();
            object_ = std::exchange(other.object_, nullptr);
        }
        return *this;
    }
    GRef(const GRef&) = delete;
    GRef& operator=(const GRef&) = delete;
    ~GRef() { Reset(); }

    T* Get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    void Reset() {
        if (object_ != nullptr) g_object_unref(object_);
        object_ = nullptr;
    }

private:
    T* object_ = nullptr;
};

struct GDateTimeUnref {
    void operator()(GDateTime* value) const { g_date_time_unref(value); }
};
struct GSListFree {
    void operator()(GSList* list) const { g_slist_free(list); }
};
using GDateTimePtr = std::unique_ptr<GDateTime, GDateTimeUnref>;

// Collects a GError and turns it into the message of a Status.
class ErrorSlot {
public:
    GError** Out() { return &error_; }
    ~ErrorSlot() {
        if (error_ != nullptr) g_error_free(error_);
    }
    Status Fail(const std::string& what) {
        std::string text = what;
        if (error_ != nullptr) text += std::string(": ") + error_->message;
        return Status::Error(text);
    }

private:
    GError* error_ = nullptr;
};

bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Windows-1252 for 0x80..0x9F; the five unassigned bytes map to the control
// characters of the same value, as MultiByteToWideChar does.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::u16string DecodeCp1252(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (char c : text) {
        const unsigned char b = static_cast<unsigned char>(c);
        out.push_back(b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : static_cast<char16_t>(b));
    }
    return out;
}

// A member name as the runner reads it: UTF-8 when flagged 0x80, else
// Windows-1252.
Status DecodeMemberName(const std::string& raw, std::uint32_t attributes, std::u16string& name) {
    if ((attributes & kCabAttributeNameIsUtf8) != 0) {
        if (!IsValidUtf8(raw)) return Status::Error("a cabinet member name flagged UTF-8 is not UTF-8");
        name = Utf8ToUtf16(raw);
    } else {
        name = DecodeCp1252(raw);
    }
    return Status();
}

struct PayloadWalk {
    std::optional<std::int64_t> clampSeconds;
    std::vector<CabinetMember>& members;
    // Folded cabinet path -> (path as found, is a file): Windows names are
    // case-insensitive, so "A.txt" and "a.txt" would be one file there.
    std::map<std::u16string, std::pair<std::u16string, bool>> seen;
    std::uint64_t totalBytes = 0;
};

Status Claim(PayloadWalk& walk, const std::u16string& name, bool isFile,
             const std::string& diskPath) {
    const auto [it, added] = walk.seen.emplace(FoldedKey(name), std::make_pair(name, isFile));
    if (!added && (isFile || it->second.second)) {
        return Status::FileError(diskPath, "its payload path " + Quoted(name) + " and " +
                                               Quoted(it->second.first) +
                                               " name the same file on Windows");
    }
    return Status();
}

Status WalkFolder(PayloadWalk& walk, const fs::path& folder, const std::u16string& prefix) {
    std::error_code error;
    std::vector<fs::path> children;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        children.push_back(it->path());
    }
    if (error) return Status::FileError(folder.string(), error.message());
    std::sort(children.begin(), children.end(), [](const fs::path& a, const fs::path& b) {
        return a.filename().native() < b.filename().native();
    });

    for (const fs::path& child : children) {
        const std::string diskPath = child.string();
        const std::string leaf = child.filename().native();
        if (!IsValidUtf8(leaf)) return Status::FileError(diskPath, "file name is not UTF-8");
        const std::u16string leafName = Utf8ToUtf16(leaf);
        const NameFault fault = NameComponentFault(leafName);
        if (fault != NameFault::None) {
            return Status::FileError(diskPath, NameFaultReason(fault, leafName));
        }
        const std::u16string name = prefix + leafName;

        struct stat linkInfo;
        struct stat info;
        if (::lstat(diskPath.c_str(), &linkInfo) != 0) {
            return Status::FileError(diskPath, ErrnoText(errno));
        }
        if (::stat(diskPath.c_str(), &info) != 0) {
            return Status::FileError(
                diskPath, S_ISLNK(linkInfo.st_mode) ? "broken symbolic link" : ErrnoText(errno));
        }
        if (S_ISDIR(info.st_mode)) {
            if (S_ISLNK(linkInfo.st_mode)) {
                return Status::FileError(diskPath, "symbolic link to a folder (not followed)");
            }
            RETURN_IF_ERROR(Claim(walk, name, false, diskPath));
            RETURN_IF_ERROR(WalkFolder(walk, child, name + u"\\"));
            continue;
        }
        if (!S_ISREG(info.st_mode)) return Status::FileError(diskPath, "not a regular file");

        if (Utf16ToUtf8(name).size() > kMaxCabinetNameBytes) {
            return Status::FileError(diskPath, "payload path is longer than the " +
                                                   std::to_string(kMaxCabinetNameBytes) +
                                                   " bytes a cabinet name can hold");
        }
        const auto size = static_cast<std::uint64_t>(info.st_size);
        walk.totalBytes += size;
        if (walk.totalBytes > kMaxFolderBytes) {
            return Status::FileError(diskPath, "the payload files reach " +
                                                   std::to_string(walk.totalBytes) +
                                                   " bytes here; a cabinet holds at most " +
                                                   std::to_string(kMaxFolderBytes));
        }
        RETURN_IF_ERROR(Claim(walk, name, true, diskPath));
        if (walk.members.size() == kMaxCabinetMembers) {
            return Status::FileError(diskPath, "the payload holds more than " +
                                                   std::to_string(kMaxCabinetMembers) +
                                                   " files, the most a cabinet can hold");
        }
        CabinetMember member;
        member.sourcePath = diskPath;
        member.name = name;
        member.size = size;
        member.time = info.st_mtim.tv_sec;
        if (walk.clampSeconds && member.time > *walk.clampSeconds) member.time = *walk.clampSeconds;
        walk.members.push_back(std::move(member));
    }
    return Status();
}

}  // namespace

Status CollectPayload(const std::string& folder, std::optional<std::int64_t> clampSeconds,
                      std::vector<CabinetMember>& members) {
    members.clear();
    struct stat info;
    if (::stat(folder.c_str(), &info) != 0) return Status::FileError(folder, ErrnoText(errno));
    if (!S_ISDIR(info.st_mode)) return Status::FileError(folder, "not a folder");
    PayloadWalk walk{clampSeconds, members, {}, 0};
    return WalkFolder(walk, fs::path(folder), u"");
}

Status WriteCabinet(const std::vector<CabinetMember>& members, Compression compression,
                    const std::string& cabinetPath, unsigned lzxWindowBits,
                    const PackProgress& progress) {
    if (compression == Compression::Lzx) {
        return WriteLzxCabinet(members, lzxWindowBits, cabinetPath, progress);
    }
    ErrorSlot error;
    GRef<GCabCabinet> cabinet(gcab_cabinet_new());
    GRef<GCabFolder> folder(gcab_folder_new(
        compression == Compression::Mszip ? GCAB_COMPRESSION_MSZIP : GCAB_COMPRESSION_NONE));
    if (!gcab_cabinet_add_folder(cabinet.Get(), folder.Get(), error.Out())) {
        return error.Fail("cannot add a cabinet folder").WithPath(cabinetPath);
    }
    std::uint64_t folderBytes = 0;
    for (const CabinetMember& member : members) {
        folderBytes += member.size;
        if (folderBytes > kMaxFolderBytes) {
            return Status::FileError(member.sourcePath, "the payload is too large for a cabinet");
        }
        // libgcab turns "/" into "\" itself, but the names are built with "\"
        // already so that nothing depends on that.
        const std::string name = Utf16ToUtf8(member.name);
        GRef<GFile> source(g_file_new_for_path(member.sourcePath.c_str()));
        GRef<GCabFile> file(gcab_file_new_with_file(name.c_str(), source.Get()));
        if (!gcab_folder_add_file(folder.Get(), file.Get(), FALSE, nullptr, error.Out())) {
            return error.Fail("cannot add to the cabinet").WithPath(member.sourcePath);
        }
        if (gcab_file_get_size(file.Get()) != member.size) {
            return Status::FileError(member.sourcePath, "changed while packing");
        }
        // Adding reads the date (as UTC, unflagged) and attributes from the
        // file system; ours replace them. libgcab would add 0x80 for a
        // non-ASCII name by itself when writing, but the flag is the
        // runner's only way to know the encoding, so it is set here.
        const DosDateTime date = DosDateTimeFromUnix(member.time);
        GDateTimePtr dateTime(g_date_time_new_utc(date.year, date.month, date.day, date.hour,
                                                  date.minute, date.second));
        gcab_file_set_date_time(file.Get(), dateTime.get());
        std::uint32_t attributes = kCabAttributeArchive | kCabAttributeUtcTime;
        if (!IsAscii(name)) attributes |= kCabAttributeNameIsUtf8;
        gcab_file_set_attributes(file.Get(), attributes);
    }

    // libgcab goes back to the start to finish the header, so the stream
    // must be seekable: open the existing (temporary) file in place.
    GRef<GFile> target(g_file_new_for_path(cabinetPath.c_str()));
    GRef<GFileIOStream> stream(g_file_open_readwrite(target.Get(), nullptr, error.Out()));
    if (!stream) return error.Fail("cannot open").WithPath(cabinetPath);
    GOutputStream* out = g_io_stream_get_output_stream(G_IO_STREAM(stream.Get()));
    if (!g_seekable_truncate(G_SEEKABLE(out), 0, nullptr, error.Out()) ||
        !gcab_cabinet_write_simple(cabinet.Get(), out, nullptr, nullptr, nullptr, error.Out())) {
        return error.Fail("cannot write the cabinet").WithPath(cabinetPath);
    }
    if (!g_io_stream_close(G_IO_STREAM(stream.Get()), nullptr, error.Out())) {
        return error.Fail("cannot write the cabinet").WithPath(cabinetPath);
    }
    return Status();
}

Status ExpandCabinet(const std::string& cabinetPath, const std::string& destination,
                     std::vector<ExpandedFile>& files) {
    files.clear();
    ErrorSlot error;
    GRef<GFile> source(g_file_new_for_path(cabinetPath.c_str()));
    GRef<GFileInputStream> in(g_file_read(source.Get(), nullptr, error.Out()));
    if (!in) return error.Fail("cannot open the cabinet copy " + cabinetPath);
    GRef<GCabCabinet> cabinet(gcab_cabinet_new());
    if (!gcab_cabinet_load(cabinet.Get(), G_INPUT_STREAM(in.Get()), nullptr, error.Out())) {
        return error.Fail("not a readable cabinet");
    }

    // Decide every name before anything is written.
    struct Planned {
        std::string relative;  // below `destination`, "/" between parts
        DosDateTime date;
        bool utc;
    };
    std::vector<Planned> planned;
    GPtrArray* folders = gcab_cabinet_get_folders(cabinet.Get());
    for (guint i = 0; i < folders->len; ++i) {
        auto* folder = static_cast<GCabFolder*>(g_ptr_array_index(folders, i));
        const std::unique_ptr<GSList, GSListFree> list(gcab_folder_get_files(folder));
        for (GSList* node = list.get(); node != nullptr; node = node->next) {
            auto* file = static_cast<GCabFile*>(node->data);
            const char* rawName = gcab_file_get_name(file);
            const std::string raw = rawName != nullptr ? rawName : "";
            const std::uint32_t attributes = gcab_file_get_attributes(file);
            std::u16string name;
            RETURN_IF_ERROR(DecodeMemberName(raw, attributes, name));
            const NameFault fault = RelativePathFault(name);
            if (fault != NameFault::None) {
                return Status::Error("cabinet member " + Quoted(name) +
                                     " refused: " + NameFaultReason(fault, name));
            }
            std::string relative = Utf16ToUtf8(name);
            std::replace(relative.begin(), relative.end(), '\\', '/');
            gcab_file_set_extract_name(file, relative.c_str());

            const GDateTimePtr dateTime(gcab_file_get_date_time(file));
            DosDateTime date{1980, 1, 1, 0, 0, 0};
            if (dateTime) {
                date = DosDateTime{g_date_time_get_year(dateTime.get()),
                                   g_date_time_get_month(dateTime.get()),
                                   g_date_time_get_day_of_month(dateTime.get()),
                                   g_date_time_get_hour(dateTime.get()),
                                   g_date_time_get_minute(dateTime.get()),
                                   g_date_time_get_second(dateTime.get())};
            }
            planned.push_back(Planned{relative, date, (attributes & kCabAttributeUtcTime) != 0});
            files.push_back(ExpandedFile{name, gcab_file_get_size(file)});
        }
    }

    GRef<GFile> target(g_file_new_for_path(destination.c_str()));
    if (!gcab_cabinet_extract_simple(cabinet.Get(), target.Get(), nullptr, nullptr, nullptr,
                                     error.Out())) {
        return error.Fail("cannot expand the cabinet");
    }
    for (const Planned& file : planned) {
        RETURN_IF_ERROR(SetModificationTime(destination + "/" + file.relative,
                                            UnixFromDosDateTime(file.date, file.utc), 0));
    }
    return Status();
}

namespace {

// A cabinet read through `read`.
struct CabinetBytes {
    CabinetReader read;
    void* context;
    std::uint64_t size;

    // `length` bytes at `at`, all of them inside the cabinet.
    bool Get(std::uint64_t at, void* buffer, std::size_t length) const {
        return at + length <= size && read(context, at, buffer, length);
    }

    // CFHEADER: "MSCF", cbCabinet at 8, coffFiles at 16, cFolders at 26,
    // cFiles at 28, flags at 30. False when the cabinet has none.
    bool Header(std::uint8_t (&header)[36]) const {
        return Get(0, header, sizeof header) &&
               std::string_view(reinterpret_cast<const char*>(header), 4) == "MSCF";
    }
};

}  // namespace

Status ListCabinet(CabinetReader read, void* context, std::uint64_t size,
                   std::vector<CabinetListing>& members) {
    members.clear();
    std::uint8_t header[36];
    if (!CabinetBytes{read, context, size}.Header(header)) {
        return Status::Error("the payload cabinet has no cabinet header");
    }
    const std::uint32_t filesOffset = LoadLE32(header + 16);
    const std::uint32_t fileCount = static_cast<std::uint32_t>(header[28] | (header[29] << 8));
    std::uint64_t at = filesOffset;
    for (std::uint32_t i = 0; i < fileCount; ++i) {
        // CFFILE: cbFile, uoffFolderStart, iFolder, date, time, attribs, name.
        std::uint8_t record[16];
        if (at + sizeof record > size || !read(context, at, record, sizeof record)) {
            return Status::Error("the payload cabinet's file records are cut short");
        }
        at += sizeof record;
        std::string raw;
        for (;;) {
            char c = 0;
            if (at >= size || raw.size() > kMaxCabinetNameBytes || !read(context, at, &c, 1)) {
                return Status::Error("a name in the payload cabinet's file records is cut short");
            }
            ++at;
            if (c == '\0') break;
            raw.push_back(c);
        }
        CabinetListing member;
        member.size = LoadLE32(record);
        const unsigned date = record[10] | (record[11] << 8);
        const unsigned time = record[12] | (record[13] << 8);
        const std::uint32_t attributes = record[14] | (record[15] << 8);
        const DosDateTime stamp{static_cast<int>(1980 + (date >> 9)),
                                static_cast<int>((date >> 5) & 0xF),
                                static_cast<int>(date & 0x1F),
                                static_cast<int>(time >> 11),
                                static_cast<int>((time >> 5) & 0x3F),
                                static_cast<int>((time & 0x1F) * 2)};
        member.time = UnixFromDosDateTime(stamp, true);
        member.utc = (attributes & kCabAttributeUtcTime) != 0;
        RETURN_IF_ERROR(DecodeMemberName(raw, attributes, member.name));
        members.push_back(std::move(member));
    }
    return Status();
}

Status ListCabinetFolders(CabinetReader read, void* context, std::uint64_t size,
                          std::vector<CabinetFolderListing>& folders) {
    folders.clear();
    std::uint8_t header[36];
    if (!CabinetBytes{read, context, size}.Header(header)) {
        return Status::Error("the payload cabinet has no cabinet header");
    }
    const unsigned count = header[26] | (header[27] << 8);
    const unsigned flags = header[30] | (header[31] << 8);
    std::uint64_t at = sizeof header;
    unsigned folderReserve = 0;
    if (flags & 0x4) {  // reserved space in the header, folders and data blocks
        std::uint8_t reserve[4];
        if (!read(context, at, reserve, sizeof reserve)) {
            return Status::Error("the payload cabinet's header is cut short");
        }
        at += sizeof reserve + (reserve[0] | (reserve[1] << 8));
        folderReserve = reserve[2];
    }
    for (unsigned i = 0; i < count; ++i) {
        std::uint8_t record[8];
        if (at + sizeof record > size || !read(context, at, record, sizeof record)) {
            return Status::Error("the payload cabinet's folder records are cut short");
        }
        at += sizeof record + folderReserve;
        const unsigned type = record[6] | (record[7] << 8);
        CabinetFolderListing folder;
        folder.blocks = record[4] | (record[5] << 8);
        switch (type & 0xF) {
            case 0: folder.compression = "none"; break;
            case 1: folder.compression = "MSZIP"; break;
            case 2: folder.compression = "Quantum, level " + std::to_string((type >> 4) & 0xF) +
                                         ", window 2^" + std::to_string((type >> 8) & 0x1F); break;
            case 3: folder.compression = "LZX, window 2^" + std::to_string((type >> 8) & 0x1F); break;
            default: folder.compression = "unknown (" + std::to_string(type) + ")"; break;
        }
        folders.push_back(std::move(folder));
    }
    return Status();
}

std::uint32_t CabinetChecksum(const std::uint8_t* data, std::size_t size, std::uint32_t seed) {
    std::uint32_t sum = seed;
    std::size_t at = 0;
    for (; at + 4 <= size; at += 4) sum ^= LoadLE32(data + at);
    std::uint32_t last = 0;
    switch (size - at) {
        case 3:
            last |= static_cast<std::uint32_t>(data[at++]) << 16;
            [[fallthrough]];
        case 2:
            last |= static_cast<std::uint32_t>(data[at++]) << 8;
            [[fallthrough]];
        case 1:
            last |= data[at];
            break;
        default:
            break;
    }
    return sum ^ last;
}

namespace {

// The cabinet entry as CheckCabinetData reads it.
// What the header says about the rest of the cabinet.
struct CabinetLayout {
    unsigned folderCount = 0;
    unsigned fileCount = 0;
    std::uint64_t foldersAt = 0;  // the first folder record
    std::uint64_t filesAt = 0;    // the first file record
    unsigned folderReserve = 0;
    unsigned dataReserve = 0;
};

// False, with the problem recorded, when the rest cannot be read.
bool ReadCabinetLayout(const CabinetBytes& cabinet, std::vector<std::string>& problems,
                       CabinetLayout& layout) {
    constexpr std::uint16_t kFlagPrevious = 0x1;
    constexpr std::uint16_t kFlagNext = 0x2;
    constexpr std::uint16_t kFlagReserve = 0x4;
    std::uint8_t header[36];
    if (!cabinet.Header(header)) {
        problems.push_back("the payload cabinet has no cabinet header");
        return false;
    }
    const std::uint32_t declared = LoadLE32(header + 8);
    if (declared != cabinet.size) {
        problems.push_back("the payload cabinet's header says " + std::to_string(declared) +
                           " bytes, its entry holds " + std::to_string(cabinet.size));
    }
    layout.folderCount = header[26] | (header[27] << 8);
    layout.fileCount = header[28] | (header[29] << 8);
    layout.filesAt = LoadLE32(header + 16);
    const unsigned flags = header[30] | (header[31] << 8);
    if (flags & (kFlagPrevious | kFlagNext)) {
        problems.push_back("the payload cabinet is one of a set; the program expands one cabinet");
        return false;
    }
    layout.foldersAt = sizeof header;
    if (flags & kFlagReserve) {
        std::uint8_t reserve[4];
        if (!cabinet.read(cabinet.context, layout.foldersAt, reserve, sizeof reserve)) {
            problems.push_back("the payload cabinet's header is cut short");
            return false;
        }
        layout.foldersAt += sizeof reserve + (reserve[0] | (reserve[1] << 8));
        layout.folderReserve = reserve[2];
        layout.dataReserve = reserve[3];
    }
    return true;
}

// The data blocks of one folder against their checksums; adds up the
// folder's uncompressed bytes. False when a block lies outside the cabinet.
bool CheckFolderBlocks(const CabinetBytes& cabinet, const CabinetLayout& layout, unsigned folder,
                       const std::uint8_t (&record)[8], std::vector<std::string>& problems,
                       CabinetDataSummary& summary, std::uint64_t& folderBytes) {
    std::vector<std::uint8_t> block;
    std::uint64_t blockAt = LoadLE32(record);
    const unsigned blockCount = record[4] | (record[5] << 8);
    const std::string inFolder = " of folder " + std::to_string(folder + 1);
    // The folder's compression type lies outside every checksum: one the
    // expansion does not know, or "none" with blocks whose data is not
    // their whole content, ends the program's expansion as damaged.
    const unsigned compression = (record[6] | (record[7] << 8)) & 0xF;
    if (compression > 3) {
        problems.push_back("folder " + std::to_string(folder + 1) +
                           " has an unknown compression type: the payload is damaged");
        ++summary.damaged;
    }
    for (unsigned i = 0; i < blockCount; ++i) {
        const std::string name = "data block " + std::to_string(i + 1) + inFolder;
        // CFDATA: csum, cbData, cbUncomp, the reserve, then the data.
        const std::size_t headerSize = 8 + layout.dataReserve;
        block.resize(headerSize);
        if (!cabinet.Get(blockAt, block.data(), headerSize)) {
            problems.push_back(name + " lies outside the cabinet");
            return false;
        }
        const std::uint32_t stored = LoadLE32(block.data());
        const std::size_t dataSize = block[4] | (block[5] << 8);
        const std::size_t uncompressedSize = block[6] | (block[7] << 8);
        folderBytes += uncompressedSize;
        if (compression == 0 && dataSize != uncompressedSize) {
            problems.push_back(name + " holds " + std::to_string(dataSize) + " bytes for " +
                               std::to_string(uncompressedSize) +
                               " in a folder stored without compression: the payload is damaged");
            ++summary.damaged;
        }
        block.resize(headerSize + dataSize);
        if (!cabinet.Get(blockAt + headerSize, block.data() + headerSize, dataSize)) {
            problems.push_back(name + " lies outside the cabinet");
            return false;
        }
        ++summary.blocks;
        if (stored == 0) {
            ++summary.uncheckedBlocks;
        } else if (CabinetChecksum(block.data() + 4, headerSize - 4,
                                   CabinetChecksum(block.data() + headerSize, dataSize, 0)) !=
                   stored) {
            problems.push_back(name + " at cabinet byte " + std::to_string(blockAt) +
                               " does not match its checksum: the payload is damaged");
            ++summary.damaged;
        }
        blockAt += headerSize + dataSize;
    }
    return true;
}

// Every file record inside the uncompressed data of its folder.
void CheckFileRecords(const CabinetBytes& cabinet, const CabinetLayout& layout,
                      const std::vector<std::uint64_t>& folderBytes,
                      std::vector<std::string>& problems) {
    std::uint64_t at = layout.filesAt;
    for (unsigned i = 0; i < layout.fileCount; ++i) {
        std::uint8_t record[16];
        if (!cabinet.Get(at, record, sizeof record)) {
            problems.push_back("the payload cabinet's file records are cut short");
            return;
        }
        at += sizeof record;
        for (char c = 1; c != '\0'; ++at) {
            if (!cabinet.Get(at, &c, 1)) {
                problems.push_back("a name in the payload cabinet's file records is cut short");
                return;
            }
        }
        const std::uint64_t end = std::uint64_t{LoadLE32(record)} + LoadLE32(record + 4);
        const unsigned folder = record[8] | (record[9] << 8);
        if (folder >= layout.folderCount || end > folderBytes[folder]) {
            problems.push_back("file record " + std::to_string(i + 1) +
                               " lies outside its folder's data");
        }
    }
}

}  // namespace

Status CheckCabinetData(CabinetReader read, void* context, std::uint64_t size,
                        std::vector<std::string>& problems, CabinetDataSummary& summary) {
    summary = CabinetDataSummary();
    const CabinetBytes cabinet{read, context, size};
    CabinetLayout layout;
    if (!ReadCabinetLayout(cabinet, problems, layout)) return Status();
    // Uncompressed bytes of each folder, for the file records.
    std::vector<std::uint64_t> folderBytes(layout.folderCount, 0);
    std::uint64_t at = layout.foldersAt;
    for (unsigned folder = 0; folder < layout.folderCount; ++folder) {
        std::uint8_t record[8];
        if (!cabinet.Get(at, record, sizeof record)) {
            problems.push_back("the payload cabinet's folder records are cut short");
            return Status();
        }
        at += sizeof record + layout.folderReserve;
        if (!CheckFolderBlocks(cabinet, layout, folder, record, problems, summary,
                               folderBytes[folder])) {
            return Status();
        }
    }
    CheckFileRecords(cabinet, layout, folderBytes, problems);
    return Status();
}

}  // namespace quarry::pack
