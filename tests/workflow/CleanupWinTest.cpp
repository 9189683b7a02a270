#include "workflow/Cleanup.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "common/Text.h"
#include "common/Unique.h"
#include "common/WinFile.h"
#include "common/WinTestSupport.h"

namespace quarry {
namespace {

using testing::ScratchFolder;
using testing::WriteBytes;

std::string Narrow(const std::u16string& text) { return Utf16ToUtf8(text); }

// A tree three folders deep with files at every level and an empty folder:
//   root\a.txt, root\b.bin, root\one\c.txt, root\one\two\d.txt,
//   root\one\two\three\e.txt, root\other\f.txt and the empty folder
//   root\empty.
struct Tree {
    explicit Tree(const std::u16string& rootPath) : root(rootPath) {
        for (const char16_t* folder :
             {u"", u"\\one", u"\\one\\two", u"\\one\\two\\three", u"\\other", u"\\empty"}) {
            EXPECT_TRUE(::CreateDirectoryW(Wide(root + folder), nullptr));
        }
        for (const char16_t* file : {u"\\a.txt", u"\\b.bin", u"\\one\\c.txt", u"\\one\\two\\d.txt",
                                     u"\\one\\two\\three\\e.txt", u"\\other\\f.txt"}) {
            files.insert(root + file);
            EXPECT_TRUE(WriteBytes(root + file, {'x', 'y'}));
        }
    }
    std::u16string root;
    std::set<std::u16string> files;
};

bool SetAttributes(const std::u16string& path, DWORD attributes) {
    return ::SetFileAttributesW(Wide(path), attributes) != FALSE;
}

// Turns the empty folder `link` into a junction to `target`. False where the
// file system has no junctions (Wine 8 answers ERROR_NOT_SUPPORTED).
bool MakeJunction(const std::u16string& link, const std::u16string& target) {
    if (!::CreateDirectoryW(Wide(link), nullptr)) return false;
    UniqueFile handle(::CreateFileW(Wide(link), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr));
    if (!handle) return false;
    const std::u16string substitute = u"\\??\\" + target;  // the NT form
    // REPARSE_DATA_BUFFER for a mount point: tag, data length, reserved, then
    // the substitute and print names' offsets and lengths, then both names
    // each ending in a null.
    struct {
        DWORD tag;
        WORD dataLength;
        WORD reserved;
        WORD substituteOffset;
        WORD substituteLength;
        WORD printOffset;
        WORD printLength;
        wchar_t names[MAX_PATH * 2];
    } buffer = {};
    const WORD substituteBytes = static_cast<WORD>(substitute.size() * sizeof(wchar_t));
    buffer.tag = IO_REPARSE_TAG_MOUNT_POINT;
    buffer.substituteLength = substituteBytes;
    buffer.printOffset = static_cast<WORD>(substituteBytes + sizeof(wchar_t));
    std::memcpy(buffer.names, Wide(substitute), substituteBytes);
    buffer.dataLength = static_cast<WORD>(8 + substituteBytes + 2 * sizeof(wchar_t));
    DWORD returned = 0;
    return ::DeviceIoControl(handle.Get(), FSCTL_SET_REPARSE_POINT, &buffer,
                             8 + buffer.dataLength, nullptr, 0, &returned, nullptr) != FALSE;
}

// --- DeleteTree ----------------------------------------------------------------

TEST(Cleanup, DeleteTreeRemovesNestedFoldersAndTheFolderItself) {
    ScratchFolder scratch;
    Tree tree(scratch / u"work");
    EXPECT_TRUE(DeleteTree(tree.root));
    EXPECT_FALSE(PathExists(tree.root));
    // The parent is not touched.
    EXPECT_TRUE(PathExists(scratch.Path()));
}

// Windows XP has neither deletion nor listing by handle: the tree goes by
// name, read-only files and all.
TEST(Cleanup, DeleteTreeWithoutFunctionsByHandleDeletesByName) {
    ScratchFolder scratch;
    Tree tree(scratch / u"work");
    ASSERT_TRUE(SetAttributes(tree.root + u"\\one\\c.txt", FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(DeleteTree(tree.root, LinkSafeFunctions()));
    EXPECT_FALSE(PathExists(tree.root));
}

TEST(Cleanup, DeleteTreeAcceptsATrailingBackslash) {
    ScratchFolder scratch;
    Tree tree(scratch / u"work");
    EXPECT_TRUE(DeleteTree(tree.root + u"\\"));
    EXPECT_FALSE(PathExists(tree.root));
}

TEST(Cleanup, DeleteTreeClearsReadOnlyFilesAtAnyDepth) {
    ScratchFolder scratch;
    Tree tree(scratch / u"work");
    ASSERT_TRUE(SetAttributes(tree.root + u"\\a.txt", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(SetAttributes(tree.root + u"\\one\\two\\d.txt",
                              FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                  FILE_ATTRIBUTE_SYSTEM));
    ASSERT_TRUE(SetAttributes(tree.root + u"\\other\\f.txt",
                              FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
    ASSERT_TRUE(SetAttributes(tree.root + u"\\b.bin", FILE_ATTRIBUTE_HIDDEN));

    EXPECT_TRUE(DeleteTree(tree.root));
    EXPECT_FALSE(PathExists(tree.root));
}

TEST(Cleanup, DeleteTreeLeavesAFileInUseAndTheFoldersAboveIt) {
    ScratchFolder scratch;
    Tree tree(scratch / u"work");
    const std::u16string held = tree.root + u"\\one\\two\\d.txt";
    ASSERT_TRUE(SetAttributes(held, FILE_ATTRIBUTE_READONLY));
    {
        // Open without delete sharing, as a running program holds its files.
        UniqueFile handle(::CreateFileW(Wide(held), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(handle.Valid());

        EXPECT_FALSE(DeleteTree(tree.root));
        EXPECT_TRUE(PathExists(held));
        EXPECT_TRUE(PathExists(tree.root + u"\\one\\two"));
        EXPECT_TRUE(PathExists(tree.root + u"\\one"));
        EXPECT_TRUE(PathExists(tree.root));
        // Everything else went.
        for (const std::u16string& file : tree.files) {
            if (file != held) {
                EXPECT_FALSE(PathExists(file)) << Narrow(file);
            }
        }
        EXPECT_FALSE(PathExists(tree.root + u"\\one\\two\\three"));
        EXPECT_FALSE(PathExists(tree.root + u"\\other"));
        EXPECT_FALSE(PathExists(tree.root + u"\\empty"));
        const DWORD attributes = ::GetFileAttributesW(Wide(held));
        std::cout << "[ held    ] attributes after the failed delete: 0x" << std::hex
                  << attributes << std::dec << "\n";
    }
    // Once released, a second pass takes the rest.
    EXPECT_TRUE(DeleteTree(tree.root));
    EXPECT_FALSE(PathExists(tree.root));
}

TEST(Cleanup, LinkedFoldersAreRemovedButNeitherEmptiedNorWalked) {
    ScratchFolder scratch;
    Tree outside(scratch / u"outside");
    Tree tree(scratch / u"work");
    if (!MakeJunction(tree.root + u"\\link", outside.root)) {
        const DWORD error = ::GetLastError();
        ::RemoveDirectoryW(Wide(tree.root + u"\\link"));
        QUARRY_SKIP_UNDER_WINE("Wine makes no junctions (error " << error << ")");
        FAIL() << "no junction made (error " << error << ")";
    }
    ASSERT_TRUE(PathExists(tree.root + u"\\link\\a.txt"));

    std::set<std::u16string> visited;
    WalkFiles(tree.root, [&](const std::u16string& path, bool) {
        visited.insert(path);
        return true;
    });
    EXPECT_EQ(tree.files, visited);

    EXPECT_TRUE(DeleteTree(tree.root));
    EXPECT_FALSE(PathExists(tree.root));
    for (const std::u16string& file : outside.files) {
        EXPECT_TRUE(PathExists(file)) << Narrow(file);
    }
}

// Symbolic links to a folder of the user's, one of them a level down, and
// on Windows one to a file. Made by make-packages.sh under Wine; here on Windows.
struct LinkedTree {
    std::u16string tree;
    std::u16string user;
    std::vector<std::u16string> links;
    bool Make(const ScratchFolder& scratch) {
        if (testing::RunsUnderWine()) {
            const std::u16string data =
                testing::WindowsPathOf(QUARRY_TEST_DATA) + u"\\workflow\\links\\cleanup\\";
            tree = data + u"tree";
            user = data + u"user";
        } else {
            tree = scratch / u"tree";
            user = scratch / u"user";
            for (const std::u16string& folder : {tree, tree + u"\\sub", user, user + u"\\inner"}) {
                ::CreateDirectoryW(Wide(folder), nullptr);
            }
            WriteBytes(tree + u"\\a.txt", {'a'});
            WriteBytes(tree + u"\\sub\\b.txt", {'b'});
            WriteBytes(user + u"\\mine.txt", {'m'});
            WriteBytes(user + u"\\inner\\deep.txt", {'d'});
            if (!testing::PlantLink(tree + u"\\folderlink", user, true, u"") ||
                !testing::PlantLink(tree + u"\\filelink", user + u"\\mine.txt", false, u"") ||
                !testing::PlantLink(tree + u"\\sub\\deeplink", user, true, u"")) {
                return false;
            }
        }
        links = {tree + u"\\folderlink", tree + u"\\sub\\deeplink"};
        // Wine shows a Unix link to a file as the file itself: no test of
        // it can pass there, and make-packages.sh makes none.
        if (!testing::RunsUnderWine()) links.push_back(tree + u"\\filelink");
        return true;
    }
};

// A link inside the tree is removed as a link, never walked or emptied:
// the user's folder and file it points at are still there afterwards.
TEST(Cleanup, LinksInTheTreeAreNeitherWalkedNorFollowed) {
    QUARRY_SKIP_WITHOUT_PREPARED_LINKS();
    ScratchFolder scratch;
    LinkedTree linked;
    if (!linked.Make(scratch)) {
        GTEST_SKIP() << "no symbolic link could be made: needs the privilege or developer mode";
    }
    for (const std::u16string& link : linked.links) {
        ASSERT_TRUE(testing::IsReparsePoint(link))
            << Narrow(link);
    }

    std::set<std::u16string> visited;
    WalkFiles(linked.tree, [&](const std::u16string& path, bool) {
        visited.insert(path);
        return true;
    });
    EXPECT_EQ((std::set<std::u16string>{linked.tree + u"\\a.txt", linked.tree + u"\\sub\\b.txt"}),
              visited);

    const bool removed = DeleteTree(linked.tree);
    EXPECT_TRUE(PathExists(linked.user + u"\\mine.txt"));
    EXPECT_TRUE(PathExists(linked.user + u"\\inner\\deep.txt"));
    EXPECT_FALSE(PathExists(linked.tree + u"\\a.txt"));
    EXPECT_FALSE(PathExists(linked.tree + u"\\sub\\b.txt"));
    if (testing::RunsUnderWine()) {
        // Wine opens what a Unix link points at whatever the flags say: the
        // links stay, and so do the folders that hold them.
        EXPECT_FALSE(removed);
        for (const std::u16string& link : linked.links) {
            EXPECT_NE(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(Wide(link))) << Narrow(link);
        }
    } else {
        EXPECT_TRUE(removed);
        EXPECT_FALSE(PathExists(linked.tree));
    }
}

// The tree's own top a link: the link goes, what it points at stays.
TEST(Cleanup, DeleteTreeOfALinkRemovesOnlyTheLink) {
    QUARRY_SKIP_UNDER_WINE("Wine cannot open a link without following it");
    ScratchFolder scratch;
    Tree outside(scratch / u"outside");
    if (!testing::PlantLink(scratch / u"link", outside.root, true, u"")) {
        GTEST_SKIP() << "no symbolic link could be made: needs the privilege or developer mode";
    }
    EXPECT_TRUE(DeleteTree(scratch / u"link"));
    EXPECT_FALSE(PathExists(scratch / u"link"));
    for (const std::u16string& file : outside.files) EXPECT_TRUE(PathExists(file)) << Narrow(file);
}

TEST(Cleanup, DeleteTreeOfAMissingFolderFails) {
    ScratchFolder scratch;
    EXPECT_FALSE(DeleteTree(scratch / u"missing"));
    EXPECT_FALSE(DeleteTree(scratch / u"missing\\deeper"));
}

// --- WalkFiles -------------------------------------------------------------------

TEST(Cleanup, WalkVisitsEveryFileAtEveryDepthOnce) {
    ScratchFolder scratch;
    Tree tree(scratch / u"work");
    std::vector<std::u16string> visited;
    const bool result = WalkFiles(tree.root, [&](const std::u16string& path, bool running) {
        EXPECT_TRUE(running);
        visited.push_back(path);
        return true;
    });
    EXPECT_TRUE(result);
    EXPECT_EQ(tree.files.size(), visited.size());
    EXPECT_EQ(tree.files, std::set<std::u16string>(visited.begin(), visited.end()));

    // A trailing backslash gives the same paths.
    std::set<std::u16string> again;
    WalkFiles(tree.root + u"\\", [&](const std::u16string& path, bool) {
        again.insert(path);
        return true;
    });
    EXPECT_EQ(tree.files, again);
}

TEST(Cleanup, WalkOfAnEmptyOrMissingFolderCallsNothing) {
    ScratchFolder scratch;
    int calls = 0;
    const auto count = [&](const std::u16string&, bool) {
        ++calls;
        return false;
    };
    ASSERT_TRUE(::CreateDirectoryW(Wide(scratch / u"empty"), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(Wide(scratch / u"empty\\inner"), nullptr));
    EXPECT_TRUE(WalkFiles(scratch / u"empty", count));
    EXPECT_TRUE(WalkFiles(scratch / u"missing", count));
    EXPECT_EQ(0, calls);
}

TEST(Cleanup, WalkRunningResultTurnsFalseForGood) {
    ScratchFolder scratch;
    Tree tree(scratch / u"work");
    // Whichever file fails, from a deep folder or the top, every file is
    // still visited, and every call after the failure sees false.
    for (const char16_t* failing : {u"\\one\\two\\d.txt", u"\\a.txt", u"\\other\\f.txt"}) {
        const std::u16string failingPath = tree.root + failing;
        SCOPED_TRACE(Narrow(failingPath));
        std::vector<std::pair<std::u16string, bool>> calls;
        const bool result = WalkFiles(tree.root, [&](const std::u16string& path, bool running) {
            calls.emplace_back(path, running);
            return path != failingPath;
        });
        EXPECT_FALSE(result);
        ASSERT_EQ(tree.files.size(), calls.size());
        const auto failed = std::find_if(calls.begin(), calls.end(),
                                         [&](const auto& call) { return call.first == failingPath; });
        ASSERT_NE(calls.end(), failed);
        for (auto call = calls.begin(); call != calls.end(); ++call) {
            SCOPED_TRACE(Narrow(call->first));
            EXPECT_EQ(call <= failed, call->second);
        }
    }
}

TEST(Cleanup, WalkResultStaysFalseWhenALaterFileSucceeds) {
    ScratchFolder scratch;
    Tree tree(scratch / u"work");
    bool failedOnce = false;
    const bool result = WalkFiles(tree.root, [&](const std::u16string&, bool) {
        if (failedOnce) return true;
        failedOnce = true;
        return false;
    });
    EXPECT_TRUE(failedOnce);
    EXPECT_FALSE(result);
}

}  // namespace
}  // namespace quarry
