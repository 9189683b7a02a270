// How a walk that must never follow a link judges a name it found in a
// folder, from the attributes three sources give: the handle it opened
// without following reparse points, the folder listing, and a query by
// path. No windows.h: built and tested natively too.
#pragma once

#include <cstdint>

namespace quarry {

constexpr std::uint32_t kAttributeReadOnly = 0x1;
constexpr std::uint32_t kAttributeDirectory = 0x10;
constexpr std::uint32_t kAttributeReparsePoint = 0x400;
constexpr std::uint32_t kAttributesUnknown = 0xFFFFFFFF;  // INVALID_FILE_ATTRIBUTES

enum class TreeEntryKind { Folder, File, Link, Unknown };

struct TreeEntryJudgement {
    TreeEntryKind kind = TreeEntryKind::Unknown;
    // True when the handle is the entry itself and may be acted on (deleted,
    // given a DACL). False for a link that the platform opened by following
    // it: the handle is then what the link points at, which is not ours.
    bool handleIsEntry = false;
};

// `handle` is the attributes of the handle opened with
// FILE_FLAG_OPEN_REPARSE_POINT, `listed` those of the listing, `byPath`
// those of a query by path made after the open; kAttributesUnknown for a
// source that gave none.
// - No handle: Unknown.
// - The handle is a reparse point: a Link, the handle being the link.
// - The listing or the path query shows a reparse point while the handle
//   does not: a Link whose handle is its target. Windows always opens the
//   link itself; Wine follows a Unix symbolic link whatever the flag says,
//   and only its listing and path queries show the link.
// - Otherwise a Folder or a File as the handle says.
TreeEntryJudgement JudgeTreeEntry(std::uint32_t handle, std::uint32_t listed, std::uint32_t byPath);

}  // namespace quarry
