#include "common/TreeEntry.h"

namespace quarry {

namespace {
bool IsReparsePoint(std::uint32_t attributes) {
    return attributes != kAttributesUnknown && (attributes & kAttributeReparsePoint) != 0;
}
}  // namespace

TreeEntryJudgement JudgeTreeEntry(std::uint32_t handle, std::uint32_t listed,
                                  std::uint32_t byPath) {
    if (handle == kAttributesUnknown) return {TreeEntryKind::Unknown, false};
    if (IsReparsePoint(handle)) return {TreeEntryKind::Link, true};
    if (IsReparsePoint(listed) || IsReparsePoint(byPath)) return {TreeEntryKind::Link, false};
    return {(handle & kAttributeDirectory) ? TreeEntryKind::Folder : TreeEntryKind::File, true};
}

}  // namespace quarry
