#include "package/ExtractedFilesLog.h"

#include <algorithm>
#include <cstdio>

#include "common/Text.h"

namespace quarry {

namespace {

int ExtensionSeverity(const std::u16string& path) {
    struct Rank {
        const char16_t* extension;
        int value;
    };
    static constexpr Rank kRanks[] = {
        {u".exe", 15}, {u".dll", 14}, {u".sys", 13}, {u".cab", 12}, {u".ini", 11}};
    const std::size_t dot = path.rfind(u'.');
    const std::size_t slash = path.rfind(u'\\');
    if (dot == std::u16string::npos || (slash != std::u16string::npos && dot < slash)) return 0;
    const std::u16string_view extension = std::u16string_view(path).substr(dot);
    for (const Rank& rank : kRanks) {
        if (EqualsNoCase(extension, rank.extension)) return rank.value;
    }
    return 0;
}

std::u16string Number(std::int64_t value) { return Ascii(std::to_string(value)); }

void AppendLines(std::u16string& text, const char16_t* label,
                 const std::vector<FileDifference>& list) {
    for (const FileDifference& difference : list) {
        text += label;
        text += u":\t" + Number(difference.size) + u"\t" + difference.relativePath + u"\r\n";
    }
}

}  // namespace

std::size_t ExpectedFiles::FoldedHash::operator()(std::u16string_view path) const {
    std::size_t hash = 2166136261u;  // FNV-1a over the folded units
    for (const char16_t c : path) {
        hash ^= static_cast<std::size_t>(FoldCase(c));
        hash *= 16777619u;
    }
    return hash;
}

bool ExpectedFiles::FoldedEqual::operator()(std::u16string_view a, std::u16string_view b) const {
    return EqualsNoCase(a, b);
}

ExpectedFiles::ExpectedFiles(std::vector<ExtractedFileRecord> records)
    : records_(std::move(records)), taken_(records_.size(), false), next_(records_.size(), kNone) {
    byPath_.reserve(records_.size());
    for (std::size_t i = 0; i < records_.size(); ++i) {
        Chain& chain = byPath_[records_[i].relativePath];
        if (chain.first == kNone) {
            chain.first = i;
        } else {
            next_[chain.last] = i;
        }
        chain.last = i;
    }
}

bool ExpectedFiles::Take(std::u16string_view relativePath, std::uint64_t& recordedSize) {
    const auto found = byPath_.find(relativePath);
    if (found == byPath_.end() || found->second.first == kNone) return false;
    const std::size_t index = found->second.first;
    found->second.first = next_[index];
    taken_[index] = true;
    recordedSize = records_[index].size;
    return true;
}

std::vector<ExtractedFileRecord> ExpectedFiles::Remaining() const {
    std::vector<ExtractedFileRecord> remaining;
    for (std::size_t i = 0; i < records_.size(); ++i) {
        if (!taken_[i]) remaining.push_back(records_[i]);
    }
    return remaining;
}

bool RecordFoundFile(ExpectedFiles& expected, std::u16string_view relativePath,
                     std::uint64_t sizeOnDisk, TreeDifferences& differences) {
    std::uint64_t recorded = 0;
    if (!expected.Take(relativePath, recorded)) {
        differences.created.push_back(
            {static_cast<std::int64_t>(sizeOnDisk), std::u16string(relativePath)});
        return false;
    }
    if (sizeOnDisk == recorded) return true;
    differences.changed.push_back(
        {static_cast<std::int64_t>(sizeOnDisk - recorded), std::u16string(relativePath)});
    return false;
}

bool RecordMissingFiles(const ExpectedFiles& expected, TreeDifferences& differences) {
    const std::vector<ExtractedFileRecord> remaining = expected.Remaining();
    for (const ExtractedFileRecord& record : remaining) {
        differences.deleted.push_back({static_cast<std::int64_t>(record.size),
                                       record.relativePath});
    }
    return remaining.empty();
}

int DifferenceSeverity(const std::vector<FileDifference>& differences) {
    int severity = 0;
    for (const FileDifference& difference : differences) {
        severity = std::max(severity, ExtensionSeverity(difference.relativePath));
    }
    return severity;
}

HResult DifferenceResultCode(bool match, const TreeDifferences& differences) {
    if (match) return kResultOk;
    if (!differences.changed.empty()) {
        return kResultTreeFileChanged + DifferenceSeverity(differences.changed);
    }
    if (!differences.deleted.empty()) {
        return kResultTreeFileDeleted + DifferenceSeverity(differences.deleted);
    }
    if (!differences.created.empty()) {
        return kResultTreeFileCreated + DifferenceSeverity(differences.created);
    }
    return kResultTreeMismatch;
}

std::u16string FormatLogHeader(std::uint64_t programSize, const std::u16string& programPath,
                               bool signatureVerifies, const std::u16string& signerName) {
    return u"Package:\t" + Number(static_cast<std::int64_t>(programSize)) + u"\t" + programPath +
           u"\r\n" + u"Signature:\t" + (signatureVerifies ? u"true" : u"false") + u"\t\"" +
           signerName + u"\"\r\n";
}

std::u16string FormatLogBlock(const std::u16string& folder, HResult code,
                              const TreeDifferences& differences) {
    char hex[16];
    std::snprintf(hex, sizeof(hex), "0x%08x", static_cast<unsigned>(code));
    std::u16string text = u"\r\nFolder:\t" + folder + u"\r\nErrorCode:\t" + Ascii(hex) + u"\r\n";
    AppendLines(text, u"Changed", differences.changed);
    AppendLines(text, u"Deleted", differences.deleted);
    AppendLines(text, u"Created", differences.created);
    return text;
}

std::u16string ExtractedFilesLogName(int year, int month, int day, int hour, int minute,
                                     int second, int millisecond) {
    char name[64];
    std::snprintf(name, sizeof(name), "ExtractedFiles_%04d%02d%02dT%02d%02d%02d.%03d.log", year,
                  month, day, hour, minute, second, millisecond);
    return Ascii(name);
}

}  // namespace quarry
