#include "common/TreeEntry.h"

#include <gtest/gtest.h>

namespace quarry {
namespace {

constexpr std::uint32_t kNone = kAttributesUnknown;
constexpr std::uint32_t kDir = kAttributeDirectory;
constexpr std::uint32_t kFile = 0x20;  // archive
constexpr std::uint32_t kDirLink = kAttributeDirectory | kAttributeReparsePoint;
constexpr std::uint32_t kFileLink = kAttributeReparsePoint | kFile;

TEST(TreeEntry, JudgesByTheHandleAndNeverTrustsAFollowedLink) {
    struct Case {
        const char* what;
        std::uint32_t handle, listed, byPath;
        TreeEntryKind kind;
        bool handleIsEntry;
    };
    const Case cases[] = {
        {"not opened", kNone, kDir, kDir, TreeEntryKind::Unknown, false},
        {"folder", kDir, kDir, kDir, TreeEntryKind::Folder, true},
        {"file", kFile, kFile, kFile, TreeEntryKind::File, true},
        {"folder without listing", kDir, kNone, kNone, TreeEntryKind::Folder, true},
        {"link opened itself", kDirLink, kDirLink, kDirLink, TreeEntryKind::Link, true},
        {"file link opened itself", kFileLink, kFile, kFileLink, TreeEntryKind::Link, true},
        // Listed as a folder, a link by the time it was opened: the handle
        // is the link itself on Windows.
        {"swapped, link opened", kDirLink, kDir, kDirLink, TreeEntryKind::Link, true},
        // Wine opens what a Unix link points at: only the listing or the
        // query by path shows the link.
        {"followed, listing shows it", kDir, kDirLink, kDir, TreeEntryKind::Link, false},
        {"followed, path shows it", kFile, kFile, kFileLink, TreeEntryKind::Link, false},
        {"followed, both show it", kDir, kDirLink, kDirLink, TreeEntryKind::Link, false},
        // A folder put where a file was listed is a folder of its own.
        {"file swapped for folder", kDir, kFile, kDir, TreeEntryKind::Folder, true},
    };
    for (const Case& c : cases) {
        const TreeEntryJudgement judgement = JudgeTreeEntry(c.handle, c.listed, c.byPath);
        EXPECT_EQ(c.kind, judgement.kind) << c.what;
        EXPECT_EQ(c.handleIsEntry, judgement.handleIsEntry) << c.what;
    }
}

}  // namespace
}  // namespace quarry
