// The integrity check and its log over a real package extracted into real
// folders, then changed behind the reader's back.
#include "package/ExtractedFilesLog_win.h"

#include <gtest/gtest.h>

#include <string>

#include "common/Text.h"
#include "common/WinFile.h"
#include "common/WinTestSupport.h"
#include "package/CabinetExtract.h"
#include "package/PackageReader.h"
#include "package/TestPackage.h"
#include "workflow/Folders.h"

namespace quarry {
namespace {

using testing::ReadBytes;
using testing::WriteBytes;

std::u16string WorkflowPackage(const std::u16string& name) {
    return testing::WindowsPathOf(QUARRY_TEST_DATA) + u"\\workflow\\" + name;
}

std::u16string LogText(const std::u16string& path) {
    const std::vector<std::uint8_t> bytes = ReadBytes(path);
    std::u16string text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        text += static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
    }
    return text;
}

bool Exists(const std::u16string& path) {
    return ::GetFileAttributesW(Wide(path)) != INVALID_FILE_ATTRIBUTES;
}

class ExtractedFilesLogWinTest : public testing::ExtractionFoldersTest {
protected:
    void SetUp() override {
        ExtractionFoldersTest::SetUp();
        if (HasFatalFailure()) return;
        program = WorkflowPackage(u"basic.exe");
        ASSERT_EQ(kResultOk, reader.Open(program, support));
        ASSERT_EQ(kResultOk, reader.LoadSettings());
        ASSERT_EQ(kResultOk, reader.ExtractAll(destination, nullptr));
        log = folder / u"ExtractedFiles_20260101T000000.000.log";
    }
    HResult Check(int mode) {
        return reader.WriteExtractedFilesLog(mode, log, program, GetFileSize64(program));
    }
    std::u16string program, log;
    PackageReader reader;
};

TEST_F(ExtractedFilesLogWinTest, CleanTreeWritesNoLog) {
    EXPECT_EQ(kResultOk, Check(0));
    EXPECT_EQ(kResultOk, Check(1));
    EXPECT_FALSE(Exists(log));
    // Empty folders, added, take no part.
    ASSERT_TRUE(::CreateDirectoryW(Wide(destination + u"new-empty"), nullptr));
    EXPECT_EQ(kResultOk, Check(0));
}

// A file changed in the destination and one added to the Support folder: two
// codes, one header, two blocks, in UTF-16LE with a byte-order mark.
TEST_F(ExtractedFilesLogWinTest, ChangeAndAdditionGiveOneHeaderAndTwoBlocks) {
    std::vector<std::uint8_t> blob = ReadBytes(destination + u"sub\\blob.bin");
    ASSERT_FALSE(blob.empty());
    blob.resize(blob.size() - 10);
    ASSERT_TRUE(WriteBytes(destination + u"SUB\\BLOB.BIN", blob));
    ASSERT_TRUE(WriteBytes(support + u"planted.dll", {1, 2}));

    EXPECT_EQ(MakeResult(0x80040110), Check(0));
    EXPECT_EQ(MakeResult(0x8004013E), Check(1));

    const std::vector<std::uint8_t> bytes = ReadBytes(log);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(0xFF, bytes[0]);
    EXPECT_EQ(0xFE, bytes[1]);
    const std::u16string expected =
        u"\xFEFF" u"Package:\t" + Ascii(std::to_string(GetFileSize64(program))) + u"\t" +
        program + u"\r\nSignature:\tfalse\t\"\"\r\n" + u"\r\nFolder:\t" + destination +
        u"\r\nErrorCode:\t0x80040110\r\nChanged:\t-10\tsub\\blob.bin\r\n" + u"\r\nFolder:\t" +
        support + u"\r\nErrorCode:\t0x8004013e\r\nCreated:\t2\tplanted.dll\r\n";
    EXPECT_EQ(Utf16ToUtf8(expected), Utf16ToUtf8(LogText(log)));
}

// A file missing from a subfolder is listed with its subfolder path, after
// the whole tree was visited.
TEST_F(ExtractedFilesLogWinTest, MissingFileInASubfolderIsDeleted) {
    const std::u16string nested = destination + u"sub\\deeper\\data.txt";
    const std::uint64_t size = ReadBytes(nested).size();
    ASSERT_TRUE(::DeleteFileW(Wide(nested)));
    TreeDifferences differences;
    ExpectedFiles expected(reader.destinationFiles);
    EXPECT_FALSE(CompareFolderTree(destination, destination, expected, differences));
    EXPECT_TRUE(differences.changed.empty());
    EXPECT_TRUE(differences.created.empty());
    ASSERT_EQ(1u, differences.deleted.size());
    EXPECT_EQ(u"sub\\deeper\\data.txt", differences.deleted[0].relativePath);
    EXPECT_EQ(static_cast<std::int64_t>(size), differences.deleted[0].size);
    // The reader's own list is not consumed by a check.
    EXPECT_EQ(MakeResult(0x80040120), Check(0));
}

}  // namespace
}  // namespace quarry
