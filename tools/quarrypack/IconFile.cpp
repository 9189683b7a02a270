#include "IconFile.h"

#include <algorithm>
#include <set>

#include "LittleEndian.h"
#include "package/PackageFormat.h"

namespace quarry::pack {

namespace {

constexpr std::size_t kDirectoryHeaderSize = 6;
constexpr std::size_t kFileEntrySize = 16;
constexpr std::size_t kGroupEntrySize = 14;
constexpr std::size_t kMaxImages = 256;
const std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

std::uint32_t LoadBE32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

Status NotIcon(const std::string& reason) { return Status::Error("not an icon file (" + reason + ")"); }

// Planes and bits per pixel from the image: a PNG's header (bit depth times
// channels) or a DIB's BITMAPINFOHEADER.
void FillFormat(IconImage& image) {
    const std::vector<std::uint8_t>& d = image.data;
    if (d.size() >= 26 && std::equal(kPngSignature, kPngSignature + 8, d.begin()) &&
        LoadBE32(&d[12]) == 0x49484452u) {  // "IHDR"
        static const std::uint8_t kChannels[7] = {1, 0, 3, 1, 2, 0, 4};
        const std::uint8_t depth = d[24];
        const std::uint8_t colorType = d[25];
        if (image.planes == 0) image.planes = 1;
        if (image.bitCount == 0 && colorType < 7) image.bitCount = static_cast<std::uint16_t>(depth * kChannels[colorType]);
        return;
    }
    if (d.size() >= 16 && LoadLE32(&d[0]) >= 16) {
        if (image.planes == 0) image.planes = Load16(&d[12]);
        if (image.bitCount == 0) image.bitCount = Load16(&d[14]);
    }
}

std::vector<std::uint16_t> GroupIconIds(const std::vector<std::uint8_t>& group) {
    std::vector<std::uint16_t> ids;
    if (group.size() < kDirectoryHeaderSize) return ids;
    const std::size_t count = Load16(&group[4]);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = kDirectoryHeaderSize + i * kGroupEntrySize;
        if (at + kGroupEntrySize > group.size()) break;
        ids.push_back(Load16(&group[at + 12]));
    }
    return ids;
}

}  // namespace

Status ParseIconFile(const std::vector<std::uint8_t>& file, std::vector<IconImage>& images) {
    images.clear();
    if (file.size() < kDirectoryHeaderSize) return NotIcon("shorter than its header");
    if (Load16(&file[0]) != 0 || Load16(&file[2]) != 1) return NotIcon("its header is not that of an icon");
    const std::size_t count = Load16(&file[4]);
    if (count == 0) return NotIcon("it holds no image");
    if (count > kMaxImages) return NotIcon("more than 256 images");
    if ((file.size() - kDirectoryHeaderSize) / kFileEntrySize < count) {
        return NotIcon("its directory runs past the end of the file");
    }
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* entry = &file[kDirectoryHeaderSize + i * kFileEntrySize];
        const std::uint64_t size = LoadLE32(entry + 8);
        const std::uint64_t offset = LoadLE32(entry + 12);
        if (size == 0 || offset > file.size() || file.size() - offset < size) {
            return NotIcon("image " + std::to_string(i + 1) + " lies outside the file");
        }
        IconImage image;
        image.width = entry[0];
        image.height = entry[1];
        image.colors = entry[2];
        image.planes = Load16(entry + 4);
        image.bitCount = Load16(entry + 6);
        image.data.assign(file.begin() + static_cast<std::ptrdiff_t>(offset),
                          file.begin() + static_cast<std::ptrdiff_t>(offset + size));
        FillFormat(image);
        images.push_back(std::move(image));
    }
    return Status();
}

Status ReplaceIcon(std::vector<Resource>& resources, const std::vector<IconImage>& images) {
    if (images.empty() || images.size() > kMaxImages) return Status::Error("an icon needs 1 to 256 images");
    const auto isGroup = [](const Resource& r) { return r.type == ResourceKey::Id(kResourceGroupIcon); };
    // The first group in directory order: named groups come before numbered
    // ones, and numbers go up.
    const Resource* first = nullptr;
    for (const Resource& resource : resources) {
        if (!isGroup(resource)) continue;
        if (first == nullptr || ResourceKeyLess(resource.name, first->name)) first = &resource;
    }
    const ResourceKey groupName = first ? first->name : ResourceKey::Id(1);
    std::vector<ResourceKey> languages;
    std::set<std::uint16_t> dropped, kept;
    for (const Resource& resource : resources) {
        if (!isGroup(resource)) continue;
        const std::vector<std::uint16_t> ids = GroupIconIds(resource.data);
        if (resource.name == groupName) {
            languages.push_back(resource.language);
            dropped.insert(ids.begin(), ids.end());
        } else {
            kept.insert(ids.begin(), ids.end());
        }
    }
    if (languages.empty()) languages.push_back(ResourceKey::Id(0));

    // Out go the group and the images only it named.
    std::set<std::uint16_t> used;
    std::vector<Resource> out;
    for (Resource& resource : resources) {
        if (isGroup(resource) && resource.name == groupName) continue;
        if (resource.type == ResourceKey::Id(kResourceIcon) && !resource.name.named) {
            if (dropped.count(resource.name.id) != 0 && kept.count(resource.name.id) == 0) continue;
            used.insert(resource.name.id);
        }
        out.push_back(std::move(resource));
    }

    std::vector<std::uint16_t> ids;
    for (std::uint32_t id = 1; ids.size() < images.size() && id <= 0xFFFF; ++id) {
        if (used.count(static_cast<std::uint16_t>(id)) == 0) ids.push_back(static_cast<std::uint16_t>(id));
    }
    if (ids.size() < images.size()) return Status::Error("no free icon numbers are left");
    std::vector<std::uint8_t> group;
    Append16(group, 0);
    Append16(group, 1);
    Append16(group, static_cast<std::uint16_t>(images.size()));
    for (std::size_t i = 0; i < images.size(); ++i) {
        const IconImage& image = images[i];
        group.push_back(image.width);
        group.push_back(image.height);
        group.push_back(image.colors);
        group.push_back(0);
        Append16(group, image.planes);
        Append16(group, image.bitCount);
        Append32(group, static_cast<std::uint32_t>(image.data.size()));
        Append16(group, ids[i]);
    }
    // The images in the group's first language; the loader finds an icon
    // by number in any language.
    for (std::size_t i = 0; i < images.size(); ++i) {
        Resource icon;
        icon.type = ResourceKey::Id(kResourceIcon);
        icon.name = ResourceKey::Id(ids[i]);
        icon.language = languages.front();
        icon.data = images[i].data;
        out.push_back(std::move(icon));
    }
    for (const ResourceKey& language : languages) {
        Resource resource;
        resource.type = ResourceKey::Id(kResourceGroupIcon);
        resource.name = groupName;
        resource.language = language;
        resource.data = group;
        out.push_back(std::move(resource));
    }
    resources = std::move(out);
    return Status();
}

}  // namespace quarry::pack
