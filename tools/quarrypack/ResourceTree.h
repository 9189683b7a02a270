// A program's resources as the resource section stores them: a three-level
// directory (type, name, language) over data entries. ParseResourceSection
// reads a section into a flat list of resources; BuildResourceSection lays
// one out again for a section at a given address. The data of every
// resource is carried as bytes and written back unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Status.h"

namespace quarry::pack {

// Standard resource types.
constexpr std::uint16_t kResourceIcon = 3;
constexpr std::uint16_t kResourceGroupIcon = 14;
constexpr std::uint16_t kResourceVersion = 16;

// A directory entry's key: a 16-bit number or a string.
struct ResourceKey {
    bool named = false;
    std::uint16_t id = 0;
    std::u16string name;

    static ResourceKey Id(std::uint16_t id) { return ResourceKey{false, id, {}}; }
    bool operator==(const ResourceKey& other) const {
        return named == other.named && (named ? name == other.name : id == other.id);
    }
    bool operator!=(const ResourceKey& other) const { return !(*this == other); }
};

// The order of a directory's entries that the loader's binary search
// expects: named ones first by their code units, then numbered ones by
// number.
bool ResourceKeyLess(const ResourceKey& a, const ResourceKey& b);

struct Resource {
    ResourceKey type;
    ResourceKey name;
    ResourceKey language;
    std::uint32_t codePage = 0;
    std::vector<std::uint8_t> data;
};

// Reads the resource directory at the start of `section`, whose first byte
// is loaded at `sectionRva`; the data entries' addresses are relative to the
// image, so each must lie inside [sectionRva, sectionRva + size); no table
// or data entry may be reached twice. Errors name what is out of place
// ("resource directory: ...").
Status ParseResourceSection(const std::uint8_t* section, std::size_t size,
                            std::uint32_t sectionRva, std::vector<Resource>& resources);

// The section bytes for `resources` loaded at `sectionRva`: the directory
// tables (breadth first), the data entries, the names, then each resource's
// data on an 8-byte boundary. Entries of a directory are in ResourceKeyLess
// order. Keys that repeat within one directory are refused.
Status BuildResourceSection(const std::vector<Resource>& resources, std::uint32_t sectionRva,
                            std::vector<std::uint8_t>& section);

}  // namespace quarry::pack
