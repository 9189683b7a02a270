// The integrity check of an extracted tree: which files changed size, went
// missing or were added since extraction recorded them, how serious that
// is, and the text of the extracted-files log that lists it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/Result.h"
#include "package/PackageFormat.h"

namespace quarry {

// One difference. Changed: size on disk minus recorded size; deleted: the
// recorded size; created: the size on disk.
struct FileDifference {
    std::int64_t size = 0;
    std::u16string relativePath;
};

struct TreeDifferences {
    std::vector<FileDifference> changed;
    std::vector<FileDifference> deleted;
    std::vector<FileDifference> created;
};

// The expected files of one check. Each record can be taken once: Take finds
// the first record not yet taken whose path equals `relativePath` without
// regard to case, in constant time per call, so a tree of any size is checked
// in one pass.
class ExpectedFiles {
public:
    explicit ExpectedFiles(std::vector<ExtractedFileRecord> records);
    // The lookup holds views of its own records: moved, never copied.
    ExpectedFiles(const ExpectedFiles&) = delete;
    ExpectedFiles& operator=(const ExpectedFiles&) = delete;
    ExpectedFiles(ExpectedFiles&&) = default;
    ExpectedFiles& operator=(ExpectedFiles&&) = default;

    // The record's size, and the record no longer counts as remaining; false
    // when no record of that path is left.
    bool Take(std::u16string_view relativePath, std::uint64_t& recordedSize);

    // The records not taken, in list order.
    std::vector<ExtractedFileRecord> Remaining() const;

private:
    std::vector<ExtractedFileRecord> records_;
    std::vector<bool> taken_;
    // Each path, compared without letter case, to its records in list
    // order: the first not yet taken, chained through `next_`. The keys
    // are views of the paths in `records_`, so a lookup allocates nothing.
    struct FoldedHash {
        std::size_t operator()(std::u16string_view path) const;
    };
    struct FoldedEqual {
        bool operator()(std::u16string_view a, std::u16string_view b) const;
    };
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    std::vector<std::size_t> next_;
    struct Chain {
        std::size_t first = kNone;  // the next record to take
        std::size_t last = kNone;
    };
    std::unordered_map<std::u16string_view, Chain, FoldedHash, FoldedEqual> byPath_;
};

// Records one file found on disk: a changed entry when its recorded size
// differs, a created entry when nothing of that path was expected. True when
// the file is exactly as recorded.
bool RecordFoundFile(ExpectedFiles& expected, std::u16string_view relativePath,
                     std::uint64_t sizeOnDisk, TreeDifferences& differences);

// Moves every record not found on disk to the deleted list, in list order.
// True when there was none.
bool RecordMissingFiles(const ExpectedFiles& expected, TreeDifferences& differences);

// The highest extension value over the list: ".exe" 15, ".dll" 14, ".sys"
// 13, ".cab" 12, ".ini" 11, anything else 0 (letter case does not count). An
// empty list gives 0.
int DifferenceSeverity(const std::vector<FileDifference>& differences);

// 0 when `match`; otherwise 0x80040110, 0x80040120 or 0x80040130 plus the
// severity of the first non-empty list of changed, deleted and created, or
// 0x80040100 when no list holds anything (an enumeration failed).
HResult DifferenceResultCode(bool match, const TreeDifferences& differences);

// The log's first two lines, written only into an empty log: the program
// file's size and path, then whether its signature verifies and its signer.
std::u16string FormatLogHeader(std::uint64_t programSize, const std::u16string& programPath,
                               bool signatureVerifies, const std::u16string& signerName);

// One check's block: the folder (ending in "\"), the result code, then every
// changed, deleted and created file in that order. Lines end in CR LF.
std::u16string FormatLogBlock(const std::u16string& folder, HResult code,
                              const TreeDifferences& differences);

// "ExtractedFiles_YYYYMMDDTHHMMSS.mmm.log" for a local time.
std::u16string ExtractedFilesLogName(int year, int month, int day, int hour, int minute,
                                     int second, int millisecond);

}  // namespace quarry
