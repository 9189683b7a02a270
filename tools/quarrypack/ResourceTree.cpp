#include "ResourceTree.h"

#include <algorithm>
#include <set>

#include "LittleEndian.h"
#include "package/PackageFormat.h"

namespace quarry::pack {

namespace {

constexpr std::size_t kDirectoryHeaderSize = 16;
constexpr std::size_t kDirectoryEntrySize = 8;
constexpr std::size_t kDataEntrySize = 16;
constexpr std::uint32_t kHighBit = 0x80000000u;
constexpr std::size_t kDataAlignment = 8;

Status Bad(const std::string& what) { return Status::Error("resource directory: " + what); }

class SectionReader {
public:
    SectionReader(const std::uint8_t* data, std::size_t size, std::uint32_t rva)
        : data_(data), size_(size), rva_(rva) {}

    // One directory table at `offset`: its entries' keys and targets. A
    // table or data entry reached twice is refused: tables that share
    // their subtables would multiply into more resources than any memory
    // holds.
    Status Table(std::uint32_t offset, std::vector<std::pair<ResourceKey, std::uint32_t>>& entries) {
        if (offset > size_ || size_ - offset < kDirectoryHeaderSize) return Bad("a table lies outside the section");
        if (!seen_.insert(offset).second) return Bad("a table is reached twice");
        const std::uint8_t* table = data_ + offset;
        const std::size_t count = std::size_t{Load16(table + 12)} + Load16(table + 14);
        if ((size_ - offset - kDirectoryHeaderSize) / kDirectoryEntrySize < count) {
            return Bad("a table's entries run past the section");
        }
        entries.clear();
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t* entry = table + kDirectoryHeaderSize + i * kDirectoryEntrySize;
            ResourceKey key;
            RETURN_IF_ERROR(Key(LoadLE32(entry), key));
            entries.emplace_back(std::move(key), LoadLE32(entry + 4));
        }
        return Status();
    }

    Status Data(std::uint32_t offset, Resource& resource) {
        if (offset > size_ || size_ - offset < kDataEntrySize) return Bad("a data entry lies outside the section");
        if (!seen_.insert(offset).second) return Bad("a data entry is reached twice");
        const std::uint8_t* entry = data_ + offset;
        const std::uint32_t rva = LoadLE32(entry);
        const std::uint32_t length = LoadLE32(entry + 4);
        resource.codePage = LoadLE32(entry + 8);
        if (rva < rva_ || rva - rva_ > size_ || size_ - (rva - rva_) < length) {
            return Bad("the data of a resource lies outside the section");
        }
        const std::uint8_t* begin = data_ + (rva - rva_);
        resource.data.assign(begin, begin + length);
        return Status();
    }

private:
    Status Key(std::uint32_t field, ResourceKey& key) {
        if ((field & kHighBit) == 0) {
            if (field > 0xFFFF) return Bad("a numbered entry above 65535");
            key = ResourceKey::Id(static_cast<std::uint16_t>(field));
            return Status();
        }
        const std::uint32_t offset = field & ~kHighBit;
        if (offset > size_ || size_ - offset < 2) return Bad("a name lies outside the section");
        const std::size_t length = Load16(data_ + offset);
        if ((size_ - offset - 2) / 2 < length) return Bad("a name runs past the section");
        key.named = true;
        key.name.resize(length);
        for (std::size_t i = 0; i < length; ++i) key.name[i] = Load16(data_ + offset + 2 + 2 * i);
        return Status();
    }

    const std::uint8_t* data_;
    std::size_t size_;
    std::uint32_t rva_;
    std::set<std::uint32_t> seen_;
};

std::size_t AlignUp(std::size_t value, std::size_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

// One directory table being laid out: its keys and, per key, either the
// index of a subtable or of a resource.
struct Table {
    std::vector<ResourceKey> keys;
    std::vector<std::size_t> targets;
    bool leaves = false;  // targets are resources
    std::size_t offset = 0;
};

}  // namespace

bool ResourceKeyLess(const ResourceKey& a, const ResourceKey& b) {
    if (a.named != b.named) return a.named;
    return a.named ? a.name < b.name : a.id < b.id;
}

Status ParseResourceSection(const std::uint8_t* section, std::size_t size,
                            std::uint32_t sectionRva, std::vector<Resource>& resources) {
    resources.clear();
    SectionReader reader(section, size, sectionRva);
    std::vector<std::pair<ResourceKey, std::uint32_t>> types, names, languages;
    RETURN_IF_ERROR(reader.Table(0, types));
    for (const auto& [type, typeTarget] : types) {
        if ((typeTarget & kHighBit) == 0) return Bad("a type entry without a table");
        RETURN_IF_ERROR(reader.Table(typeTarget & ~kHighBit, names));
        for (const auto& [name, nameTarget] : names) {
            if ((nameTarget & kHighBit) == 0) return Bad("a name entry without a table");
            RETURN_IF_ERROR(reader.Table(nameTarget & ~kHighBit, languages));
            for (const auto& [language, target] : languages) {
                if ((target & kHighBit) != 0) return Bad("more than three levels");
                Resource resource;
                resource.type = type;
                resource.name = name;
                resource.language = language;
                RETURN_IF_ERROR(reader.Data(target, resource));
                resources.push_back(std::move(resource));
            }
        }
    }
    return Status();
}

namespace {

// The resources in directory order; the order of the list is kept among
// equal keys, which are then refused.
std::vector<std::size_t> DirectoryOrder(const std::vector<Resource>& resources) {
    std::vector<std::size_t> order(resources.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const Resource& x = resources[a];
        const Resource& y = resources[b];
        if (x.type != y.type) return ResourceKeyLess(x.type, y.type);
        if (x.name != y.name) return ResourceKeyLess(x.name, y.name);
        return ResourceKeyLess(x.language, y.language);
    });
    return order;
}

// The tables breadth first: the root, the name tables, the language tables.
Status BuildTables(const std::vector<Resource>& resources, const std::vector<std::size_t>& order,
                   std::vector<Table>& tables) {
    tables.assign(1, Table());
    std::vector<std::size_t> nameTables, languageTables;
    for (std::size_t i = 0; i < order.size(); ++i) {
        const Resource& resource = resources[order[i]];
        const Resource* previous = i > 0 ? &resources[order[i - 1]] : nullptr;
        if (!previous || previous->type != resource.type) {
            tables[0].keys.push_back(resource.type);
            tables[0].targets.push_back(nameTables.size());
            nameTables.push_back(0);
            previous = nullptr;
        }
        if (!previous || previous->name != resource.name) {
            languageTables.push_back(0);
            previous = nullptr;
        } else if (previous->language == resource.language) {
            return Status::Error("two resources share a type, a name and a language");
        }
    }
    // Second pass: fill the name and language tables now that their counts
    // are known.
    tables.resize(1 + nameTables.size() + languageTables.size());
    for (std::size_t n = 0; n < nameTables.size(); ++n) tables[0].targets[n] = 1 + n;
    std::size_t typeIndex = 0, languageIndex = 0;
    for (std::size_t i = 0; i < order.size(); ++i) {
        const Resource& resource = resources[order[i]];
        const Resource* previous = i > 0 ? &resources[order[i - 1]] : nullptr;
        const bool newType = !previous || previous->type != resource.type;
        if (newType && previous) ++typeIndex;
        const bool newName = newType || previous->name != resource.name;
        if (newName && previous) ++languageIndex;
        Table& names = tables[1 + typeIndex];
        Table& languages = tables[1 + nameTables.size() + languageIndex];
        if (newName) {
            names.keys.push_back(resource.name);
            names.targets.push_back(1 + nameTables.size() + languageIndex);
        }
        languages.leaves = true;
        languages.keys.push_back(resource.language);
        languages.targets.push_back(order[i]);
    }
    return Status();
}

// Where everything goes: the tables, the data entries, the names, the data.
struct SectionLayout {
    std::vector<std::size_t> dataEntry;
    std::vector<std::pair<const std::u16string*, std::size_t>> names;
    std::vector<std::size_t> dataOffset;
    std::size_t size = 0;
};

Status LayOutSection(const std::vector<Resource>& resources, const std::vector<std::size_t>& order,
                     std::uint32_t sectionRva, std::vector<Table>& tables,
                     SectionLayout& layout) {
    std::size_t offset = 0;
    for (Table& table : tables) {
        table.offset = offset;
        offset += kDirectoryHeaderSize + table.keys.size() * kDirectoryEntrySize;
    }
    std::vector<std::size_t>& dataEntry = layout.dataEntry;
    dataEntry.assign(resources.size(), 0);
    for (std::size_t index : order) {
        dataEntry[index] = offset;
        offset += kDataEntrySize;
    }
    auto& names = layout.names;
    for (const Table& table : tables) {
        for (const ResourceKey& key : table.keys) {
            if (!key.named) continue;
            if (key.name.size() > 0xFFFF) return Status::Error("a resource name is too long");
            names.emplace_back(&key.name, offset);
            offset += 2 + 2 * key.name.size();
        }
    }
    std::vector<std::size_t>& dataOffset = layout.dataOffset;
    dataOffset.assign(resources.size(), 0);
    for (std::size_t index : order) {
        offset = AlignUp(offset, kDataAlignment);
        dataOffset[index] = offset;
        offset += resources[index].data.size();
    }
    if (offset > 0x7FFFFFFF || sectionRva > 0xFFFFFFFFu - offset) {
        return Status::Error("the resources do not fit into a program image");
    }
    layout.size = offset;
    return Status();
}

void WriteSection(const std::vector<Resource>& resources, const std::vector<std::size_t>& order,
                  const std::vector<Table>& tables, const SectionLayout& layout,
                  std::uint32_t sectionRva, std::vector<std::uint8_t>& section) {
    const auto& names = layout.names;
    const auto& dataEntry = layout.dataEntry;
    const auto& dataOffset = layout.dataOffset;
    section.assign(layout.size, 0);
    std::size_t nameIndex = 0;
    for (const Table& table : tables) {
        std::uint16_t namedCount = 0;
        for (const ResourceKey& key : table.keys) namedCount += key.named ? 1 : 0;
        Store16(section.data() + table.offset + 12, namedCount);
        Store16(section.data() + table.offset + 14, static_cast<std::uint16_t>(table.keys.size() - namedCount));
        for (std::size_t k = 0; k < table.keys.size(); ++k) {
            const std::size_t entry = table.offset + kDirectoryHeaderSize + k * kDirectoryEntrySize;
            const ResourceKey& key = table.keys[k];
            Store32(section.data() + entry,
                    key.named ? kHighBit | static_cast<std::uint32_t>(names[nameIndex++].second)
                              : key.id);
            Store32(section.data() + entry + 4,
                    table.leaves ? static_cast<std::uint32_t>(dataEntry[table.targets[k]])
                                 : kHighBit | static_cast<std::uint32_t>(tables[table.targets[k]].offset));
        }
    }
    for (const auto& [name, at] : names) {
        Store16(section.data() + at, static_cast<std::uint16_t>(name->size()));
        for (std::size_t i = 0; i < name->size(); ++i) Store16(section.data() + at + 2 + 2 * i, (*name)[i]);
    }
    for (std::size_t index : order) {
        const Resource& resource = resources[index];
        Store32(section.data() + dataEntry[index], sectionRva + static_cast<std::uint32_t>(dataOffset[index]));
        Store32(section.data() + dataEntry[index] + 4, static_cast<std::uint32_t>(resource.data.size()));
        Store32(section.data() + dataEntry[index] + 8, resource.codePage);
        std::copy(resource.data.begin(), resource.data.end(),
                  section.begin() + static_cast<std::ptrdiff_t>(dataOffset[index]));
    }
}

}  // namespace

Status BuildResourceSection(const std::vector<Resource>& resources, std::uint32_t sectionRva,
                            std::vector<std::uint8_t>& section) {
    const std::vector<std::size_t> order = DirectoryOrder(resources);
    std::vector<Table> tables;
    RETURN_IF_ERROR(BuildTables(resources, order, tables));
    SectionLayout layout;
    RETURN_IF_ERROR(LayOutSection(resources, order, sectionRva, tables, layout));
    WriteSection(resources, order, tables, layout, sectionRva, section);
    return Status();
}

}  // namespace quarry::pack
