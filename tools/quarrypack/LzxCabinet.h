// The payload cabinet with LZX folders, written without libgcab (which
// writes MSZIP only). The members are split, in order and whole, into
// folders that are compressed on up to two threads; each folder restarts
// the decoder's window, so folders are made no smaller than needed to keep
// both threads busy.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Cabinet.h"
#include "Status.h"

namespace quarry::pack {

// The payload bytes of each folder: members are added to a folder until it
// holds `target` bytes, where `target` splits payloads above 8 MiB into at
// least two folders and is at most 32 MiB. Returns the index of each
// folder's first member.
std::vector<std::size_t> PlanLzxFolders(const std::vector<CabinetMember>& members);

// Writes the cabinet of `members` with LZX folders of a 2^windowBits-byte
// window into the existing file at `cabinetPath` (replacing its content).
// `progress`, when set, hears after each folder how many payload bytes are
// compressed and into how many cabinet bytes.
Status WriteLzxCabinet(const std::vector<CabinetMember>& members, unsigned windowBits,
                       const std::string& cabinetPath, const PackProgress& progress);

}  // namespace quarry::pack
