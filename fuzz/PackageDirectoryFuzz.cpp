// Feeds arbitrary program images to the package header and directory
// parser. Whatever the bytes, the parser must return a result without
// crashing, reading out of bounds or allocating without bound, and a
// directory it accepts must hold only safe names and offsets inside a
// consistent layout.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "package/PackageFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quarry;
    MemorySource source(data, size);
    std::uint64_t packageOffset = 0;
    PackageHeader header;
    if (Failed(ReadHeader(source, packageOffset, header))) return 0;
    PackageDirectory directory;
    std::uint64_t dataStart = 0;
    if (Failed(ReadDirectory(source, header, directory, dataStart))) return 0;

    if (directory.groups.size() != header.groupCount) std::abort();
    std::uint64_t expected = dataStart;
    for (const PackageGroup& group : directory.groups) {
        if (!IsSafeGroupName(group.name) || group.entries.size() != group.entryCount) std::abort();
        for (const PackageEntry& entry : group.entries) {
            if (!IsSafeEntryName(entry.name) || entry.offset != expected) std::abort();
            expected += entry.size;
        }
    }
    // What the parser accepted, the writer writes back byte for byte.
    std::vector<std::uint8_t> records;
    if (Failed(WriteDirectory(directory, records))) std::abort();
    if (records.size() != dataStart - packageOffset) std::abort();
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (records[i] != data[packageOffset + i]) std::abort();
    }
    return 0;
}
