// The integrity check's bookkeeping, result codes and log text.
#include "package/ExtractedFilesLog.h"

#include <gtest/gtest.h>

#include "common/Text.h"

namespace quarry {
namespace {

// Runs the check over files "found on disk" in the order given.
struct Check {
    TreeDifferences differences;
    bool match = true;
    HResult code = 0;
};

Check CheckTree(std::vector<ExtractedFileRecord> expected,
          const std::vector<std::pair<std::u16string, std::uint64_t>>& onDisk) {
    Check check;
    ExpectedFiles files(std::move(expected));
    for (const auto& [path, size] : onDisk) {
        if (!RecordFoundFile(files, path, size, check.differences)) check.match = false;
    }
    if (!RecordMissingFiles(files, check.differences)) check.match = false;
    check.code = DifferenceResultCode(check.match, check.differences);
    return check;
}

TEST(ExtractedFilesLog, ResultCodeAndSeverityByFirstNonEmptyList) {
    struct Case {
        const char* name;
        std::vector<ExtractedFileRecord> expected;
        std::vector<std::pair<std::u16string, std::uint64_t>> onDisk;
        std::uint32_t code;
    };
    const Case cases[] = {
        {"clean", {{u"a.txt", 3}, {u"sub\\b.dll", 4}}, {{u"sub\\b.dll", 4}, {u"a.txt", 3}}, 0},
        {"changed .EXE beside text", {{u"SETUP.EXE", 10}, {u"read.txt", 1}},
         {{u"SETUP.EXE", 11}, {u"read.txt", 2}}, 0x8004011F},
        {"changed wins over deleted .sys", {{u"a.txt", 1}, {u"drv.sys", 1}}, {{u"a.txt", 2}},
         0x80040110},
        {"deleted .cab", {{u"x.cab", 1}, {u"y.txt", 1}}, {{u"y.txt", 1}}, 0x8004012C},
        {"created without extension", {}, {{u"README", 5}}, 0x80040130},
        {"created .ini", {}, {{u"sub\\a.ini", 5}, {u"b", 1}}, 0x8004013B},
        {"a dot in a folder name only", {}, {{u"dir.exe\\file", 1}}, 0x80040130},
        {"case-insensitive paths", {{u"sub\\data.bin", 7}}, {{u"SUB\\DATA.BIN", 7}}, 0},
    };
    for (const Case& c : cases) {
        const Check check = CheckTree(c.expected, c.onDisk);
        EXPECT_EQ(c.code, static_cast<std::uint32_t>(check.code)) << c.name;
        EXPECT_EQ(c.code == 0, check.match) << c.name;
    }
    // A mismatch with nothing listed: an enumeration that failed.
    EXPECT_EQ(0x80040100u, static_cast<std::uint32_t>(DifferenceResultCode(false, {})));
}

TEST(ExtractedFilesLog, ListsSizesAndKeepsTheOrderOfEachList) {
    const Check check =
        CheckTree({{u"a.txt", 100}, {u"sub\\gone.txt", 7}, {u"b.txt", 5}, {u"c\\gone2.txt", 9}},
            {{u"new1", 3}, {u"a.txt", 90}, {u"b.txt", 6}, {u"new2", 4}});
    ASSERT_EQ(2u, check.differences.changed.size());
    EXPECT_EQ(-10, check.differences.changed[0].size);  // shrunk
    EXPECT_EQ(u"a.txt", check.differences.changed[0].relativePath);
    EXPECT_EQ(1, check.differences.changed[1].size);
    ASSERT_EQ(2u, check.differences.deleted.size());
    EXPECT_EQ(u"sub\\gone.txt", check.differences.deleted[0].relativePath);
    EXPECT_EQ(7, check.differences.deleted[0].size);
    EXPECT_EQ(u"c\\gone2.txt", check.differences.deleted[1].relativePath);
    ASSERT_EQ(2u, check.differences.created.size());
    EXPECT_EQ(u"new1", check.differences.created[0].relativePath);
    EXPECT_EQ(u"new2", check.differences.created[1].relativePath);
}

TEST(ExtractedFilesLog, EachRecordMatchesOneFileFirstRecordFirst) {
    // Two records of one path (a writable item also shipped in the payload):
    // the first found takes the first record, a second file of that path is
    // then compared with the second record.
    ExpectedFiles files({{u"log.txt", 5}, {u"other", 1}, {u"LOG.TXT", 0}});
    std::uint64_t size = 99;
    ASSERT_TRUE(files.Take(u"Log.txt", size));
    EXPECT_EQ(5u, size);
    ASSERT_TRUE(files.Take(u"log.txt", size));
    EXPECT_EQ(0u, size);
    EXPECT_FALSE(files.Take(u"log.txt", size));
    ASSERT_EQ(1u, files.Remaining().size());
    EXPECT_EQ(u"other", files.Remaining()[0].relativePath);
}

TEST(ExtractedFilesLog, ScalesToManyFiles) {
    // A lookup per file: 100,000 records must not cost a scan each.
    std::vector<ExtractedFileRecord> records;
    std::vector<std::pair<std::u16string, std::uint64_t>> onDisk;
    for (int i = 0; i < 100000; ++i) {
        const std::u16string path =
            u"dir" + Ascii(std::to_string(i % 100)) + u"\\file" + Ascii(std::to_string(i));
        records.push_back({path, static_cast<std::uint64_t>(i)});
        onDisk.emplace_back(path, i);
    }
    const Check check = CheckTree(std::move(records), onDisk);
    EXPECT_TRUE(check.match);
}

TEST(ExtractedFilesLog, LogTextLinesInOrder) {
    EXPECT_EQ(u"Package:\t123456\tC:\\Users\\me\\Update.exe\r\nSignature:\tfalse\t\"\"\r\n",
              FormatLogHeader(123456, u"C:\\Users\\me\\Update.exe", false, u""));
    EXPECT_EQ(u"Package:\t1\tx\r\nSignature:\ttrue\t\"Norvik Corporation\"\r\n",
              FormatLogHeader(1, u"x", true, u"Norvik Corporation"));
    TreeDifferences differences;
    differences.created.push_back({4, u"added.dll"});
    differences.changed.push_back({-10, u"sub\\setup.exe"});
    differences.deleted.push_back({7, u"gone.txt"});
    EXPECT_EQ(u"\r\nFolder:\tC:\\Temp\\QuarryTool\\{G}\\Package\\\r\n"
              u"ErrorCode:\t0x8004011f\r\n"
              u"Changed:\t-10\tsub\\setup.exe\r\n"
              u"Deleted:\t7\tgone.txt\r\n"
              u"Created:\t4\tadded.dll\r\n",
              FormatLogBlock(u"C:\\Temp\\QuarryTool\\{G}\\Package\\", MakeResult(0x8004011F),
                             differences));
    EXPECT_EQ(u"ExtractedFiles_20260102T030405.006.log",
              ExtractedFilesLogName(2026, 1, 2, 3, 4, 5, 6));
}

}  // namespace
}  // namespace quarry
