// Everything quarrypack create decides before it writes a byte: the stub,
// the settings as stored, the payload's members and every group with the
// source of each entry's bytes. Planning refuses what the runner could not
// write: unsafe or doubled names, groups over payload files or folders.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "Cabinet.h"
#include "Create.h"
#include "FileIo.h"
#include "Status.h"
#include "package/PackageFormat.h"

namespace quarry::pack {

constexpr std::uint64_t kMaxEntrySize = 0xFFFFFFFFull;  // the directory stores 32 bits

// Where an entry's bytes come from when the package is written.
struct EntryData {
    std::string path;  // a file, or empty for `bytes`
    const std::vector<std::uint8_t>* bytes = nullptr;
    bool scrambled = false;  // the cabinet: complemented
};

struct GroupPlan {
    PackageGroup group;
    std::vector<EntryData> data;
    std::set<std::u16string> foldedNames;
};

// Everything create decides before it writes a byte.
struct PackagePlan {
    std::vector<std::uint8_t> stub;
    FileInfo stubInfo;
    std::u16string settings;         // as stored
    std::u16string settingsAsGiven;  // as read, for the checks' line numbers
    bool totalFileSizeAdded = false;
    std::vector<std::uint8_t> settingsBytes;
    std::vector<std::uint8_t> messageBytes;
    std::vector<CabinetMember> members;
    std::uint64_t payloadBytes = 0;
    // Folded paths below the destination: the payload's files, and the
    // folders that the payload and the named groups create.
    std::set<std::u16string> payloadFiles;
    std::set<std::u16string> folders;
    std::vector<GroupPlan> groups;  // the main group first
    std::size_t cabinetIndex = 0;
};

// Plans the package of `options`; the stub is read and checked only when
// `needStub` (check on the inputs needs none). The cabinet entry, when there
// is a payload, is planned with size 0 and no path: the caller fills both in
// once the cabinet exists.
Status PlanPackage(const CreateOptions& options, bool needStub, PackagePlan& plan);

// Writes one planned entry's bytes to `out`; a file whose size changed
// since planning fails.
Status WriteEntryData(const EntryData& data, const PackageEntry& entry, int out,
                      const std::string& outPath, std::vector<std::uint8_t>& buffer);

}  // namespace quarry::pack
