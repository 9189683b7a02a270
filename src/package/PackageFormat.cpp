#include "package/PackageFormat.h"

#include <cstring>

#include "common/Text.h"

namespace quarry {

const char16_t kMainGroupName[] = u"!!!53AAED7C-68E7-413C-A5FD-D9F76477D66A";
const char16_t kFlatGroupName[] = u"!!!E8FF0748-2339-49f9-9A79-824D7561736C";
const char16_t kSettingsEntryName[] = u"Settings.ini";
const char16_t kCabinetEntryName[] = u"E8FF0748-2339-49f9-9A79-824D7561736C.cab";

GroupKind ClassifyGroup(std::u16string_view name) {
    if (EqualsNoCase(name, kMainGroupName)) return GroupKind::Main;
    if (EqualsNoCase(name, kFlatGroupName)) return GroupKind::Flat;
    return GroupKind::Other;
}

std::uint32_t LoadLE32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint64_t LoadLE64(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(LoadLE32(p)) |
           (static_cast<std::uint64_t>(LoadLE32(p + 4)) << 32);
}

void AppendLE32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void AppendLE64(std::vector<std::uint8_t>& out, std::uint64_t value) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

namespace {

bool ReadU32(ByteSource& source, std::uint32_t& value) {
    std::uint8_t bytes[4];
    if (!source.Read(bytes, sizeof bytes)) return false;
    value = LoadLE32(bytes);
    return true;
}

bool ReadU64(ByteSource& source, std::uint64_t& value) {
    std::uint8_t bytes[8];
    if (!source.Read(bytes, sizeof bytes)) return false;
    value = LoadLE64(bytes);
    return true;
}

// Reads a length-prefixed name's text; the length was checked by the caller.
bool ReadName(ByteSource& source, std::uint32_t length, std::u16string& name) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length) * 2);
    if (!bytes.empty() && !source.Read(bytes.data(), bytes.size())) return false;
    name.resize(length);
    for (std::uint32_t i = 0; i < length; ++i) {
        name[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    }
    return true;
}

bool IsDotsAndSpaces(std::u16string_view part) {
    // Windows strips trailing dots and spaces from path parts, so "..." or
    // ". ." would be taken for the folder itself or its parent.
    for (char16_t c : part) {
        if (c != u'.' && c != u' ') return false;
    }
    return true;
}

// The digits, and the superscript 1, 2 and 3 that Windows also takes for
// digits after COM and LPT.
bool IsDeviceDigit(char16_t c) {
    return (c >= u'0' && c <= u'9') || c == u'\u00B9' || c == u'\u00B2' || c == u'\u00B3';
}

bool IsDeviceName(std::u16string_view name) {
    // Windows looks at the part before the first dot, less the spaces
    // that end it: "nul .txt" is the device too.
    std::u16string_view stem = name.substr(0, name.find(u'.'));
    while (!stem.empty() && stem.back() == u' ') stem.remove_suffix(1);
    for (const char16_t* device : {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"}) {
        if (EqualsNoCase(stem, device)) return true;
    }
    return stem.size() == 4 && IsDeviceDigit(stem[3]) &&
           (EqualsNoCase(stem.substr(0, 3), u"COM") || EqualsNoCase(stem.substr(0, 3), u"LPT"));
}

}  // namespace

HResult ReadHeader(ByteSource& source, std::uint64_t& packageOffset, PackageHeader& header) {
    packageOffset = 0;
    header = PackageHeader();
    std::uint64_t offset = 0;
    if (!source.Seek(kPackageOffsetPosition) || !ReadU64(source, offset)) {
        return kResultPackageUnreadable;
    }
    if (static_cast<std::int64_t>(offset) <= 0 || !source.Seek(offset)) {
        return kResultPackageUnreadable;
    }
    PackageHeader read;
    if (!ReadU64(source, read.time1) || read.time1 == 0 || !ReadU64(source, read.time2) ||
        !ReadU64(source, read.flags) || !ReadU32(source, read.groupCount)) {
        return kResultPackageUnreadable;
    }
    packageOffset = offset;
    header = read;
    return kResultOk;
}

HResult ReadDirectory(ByteSource& source, const PackageHeader& header,
                      PackageDirectory& directory, std::uint64_t& dataStart) {
    directory = PackageDirectory();
    directory.time1 = header.time1;
    directory.time2 = header.time2;
    directory.flags = header.flags;
    dataStart = 0;

    std::uint64_t runningOffset = 0;
    for (std::uint32_t g = 0; g < header.groupCount; ++g) {
        PackageGroup group;
        std::uint32_t nameLength = 0;
        if (!ReadU32(source, nameLength) || !ReadU32(source, group.entryCount) ||
            nameLength >= kMaxNameLength || !ReadName(source, nameLength, group.name) ||
            !IsSafeGroupName(group.name)) {
            return kResultPackageUnreadable;
        }
        for (std::uint32_t e = 0; e < group.entryCount; ++e) {
            PackageEntry entry;
            std::uint32_t size = 0;
            if (!ReadU32(source, nameLength) || nameLength >= kMaxNameLength ||
                !ReadU32(source, size) || !ReadName(source, nameLength, entry.name) ||
                !ReadU64(source, entry.lastWriteTime) || !IsSafeEntryName(entry.name)) {
                return kResultPackageUnreadable;
            }
            entry.size = size;
            entry.offset = runningOffset;
            runningOffset += size;
            group.entries.push_back(std::move(entry));
        }
        directory.groups.push_back(std::move(group));
    }

    dataStart = source.Position();
    for (PackageGroup& group : directory.groups) {
        for (PackageEntry& entry : group.entries) entry.offset += dataStart;
    }
    return kResultOk;
}

NameFault NameComponentFault(std::u16string_view name) {
    if (name.empty()) return NameFault::Empty;
    if (IsDotsAndSpaces(name)) return NameFault::DotsOnly;
    if (name.size() > kMaxNameComponentLength) return NameFault::TooLong;
    for (char16_t c : name) {
        if (c < 0x20 || c == 0x7F) return NameFault::ControlCharacter;
        if (c == u':') return NameFault::Colon;
        if (std::u16string_view(u"<>\"/\\|?*").find(c) != std::u16string_view::npos) {
            return NameFault::ReservedCharacter;
        }
    }
    if (name.back() == u'.' || name.back() == u' ') return NameFault::TrailingDotOrSpace;
    if (IsDeviceName(name)) return NameFault::DeviceName;
    return NameFault::None;
}

NameFault RelativePathFault(std::u16string_view path, std::u16string_view separators) {
    if (path.empty()) return NameFault::Empty;
    if (separators.find(path.front()) != std::u16string_view::npos) return NameFault::Rooted;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find_first_of(separators, start);
        if (end == std::u16string_view::npos) end = path.size();
        if (end > start) {
            const NameFault fault = NameComponentFault(path.substr(start, end - start));
            if (fault != NameFault::None) return fault;
        }
        start = end + 1;
    }
    return NameFault::None;
}

bool IsSafeEntryName(std::u16string_view name) {
    return NameComponentFault(name) == NameFault::None;
}

bool IsSafeGroupName(std::u16string_view name) {
    return RelativePathFault(name, u"\\") == NameFault::None;
}

bool IsSafeRelativePath(std::u16string_view path) {
    return RelativePathFault(path) == NameFault::None;
}

HResult WriteDirectory(const PackageDirectory& directory, std::vector<std::uint8_t>& out) {
    out.clear();
    if (directory.groups.size() > 0xFFFFFFFFu) return kResultInvalidArg;
    AppendLE64(out, directory.time1);
    AppendLE64(out, directory.time2);
    AppendLE64(out, directory.flags);
    AppendLE32(out, static_cast<std::uint32_t>(directory.groups.size()));
    auto appendText = [&out](const std::u16string& name) {
        for (char16_t c : name) {
            out.push_back(static_cast<std::uint8_t>(c & 0xFF));
            out.push_back(static_cast<std::uint8_t>(c >> 8));
        }
    };
    for (const PackageGroup& group : directory.groups) {
        if (group.name.size() >= kMaxNameLength || group.entries.size() > 0xFFFFFFFFu) {
            return kResultInvalidArg;
        }
        AppendLE32(out, static_cast<std::uint32_t>(group.name.size()));
        AppendLE32(out, static_cast<std::uint32_t>(group.entries.size()));
        appendText(group.name);
        for (const PackageEntry& entry : group.entries) {
            if (entry.name.size() >= kMaxNameLength || entry.size > 0xFFFFFFFFu) {
                return kResultInvalidArg;
            }
            AppendLE32(out, static_cast<std::uint32_t>(entry.name.size()));
            AppendLE32(out, static_cast<std::uint32_t>(entry.size));
            appendText(entry.name);
            AppendLE64(out, entry.lastWriteTime);
        }
    }
    return kResultOk;
}

namespace {

// 64-byte blocks as eight 64-bit words; memcpy keeps unaligned access legal.
void ComplementBlocksPlain(std::uint8_t* bytes, std::size_t blocks) {
    for (std::size_t b = 0; b < blocks; ++b, bytes += 64) {
        std::uint64_t words[8];
        std::memcpy(words, bytes, sizeof words);
        for (std::uint64_t& w : words) w = ~w;
        std::memcpy(bytes, words, sizeof words);
    }
}

#if defined(__GNUC__) && defined(__i386__)
// The 32-bit build targets processors without SSE2 too; where the processor
// has it, 16-byte vectors complement a 5 MiB chunk several times faster.
typedef std::uint64_t Vector128 __attribute__((vector_size(16)));

__attribute__((target("sse2"))) void ComplementBlocksSse2(std::uint8_t* bytes,
                                                           std::size_t blocks) {
    for (std::size_t b = 0; b < blocks; ++b, bytes += 64) {
        Vector128 v[4];
        std::memcpy(v, bytes, sizeof v);
        for (Vector128& x : v) x = ~x;
        std::memcpy(bytes, v, sizeof v);
    }
}

bool HasSse2() {
    static const bool has = __builtin_cpu_supports("sse2");
    return has;
}
#endif

}  // namespace

void UnscrambleBuffer(void* buffer, std::size_t length) {
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    const std::size_t blocks = length / 64;
#if defined(__GNUC__) && defined(__i386__)
    if (HasSse2()) {
        ComplementBlocksSse2(bytes, blocks);
    } else {
        ComplementBlocksPlain(bytes, blocks);
    }
#else
    ComplementBlocksPlain(bytes, blocks);
#endif
    for (std::size_t i = blocks * 64; i < length; ++i) bytes[i] = static_cast<std::uint8_t>(~bytes[i]);
}

}  // namespace quarry
