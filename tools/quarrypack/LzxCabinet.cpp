#include "LzxCabinet.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <new>
#include <thread>
#include <utility>

#include "FileIo.h"
#include "FileTime.h"
#include "common/Text.h"
#include "package/LzxEncoder.h"

namespace quarry::pack {

namespace {

constexpr std::uint64_t kSplitAbove = 8ull << 20;
constexpr std::uint64_t kMaxFolderTarget = 32ull << 20;
constexpr std::size_t kHeaderBytes = 36;
constexpr std::size_t kFolderRecordBytes = 8;
constexpr std::size_t kFileRecordBytes = 16;
constexpr std::size_t kDataHeaderBytes = 8;

void Put16(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

struct FolderResult {
    Status status;
    std::uint64_t inputBytes = 0;
    std::vector<std::uint8_t> blocks;  // the CFDATA records, checksummed
    std::size_t blockCount = 0;
};

// Reads the members [first, last) one after another into `data`.
Status ReadMembers(const std::vector<CabinetMember>& members, std::size_t first, std::size_t last,
                   std::vector<std::uint8_t>& data) {
    std::uint64_t total = 0;
    for (std::size_t i = first; i < last; ++i) total += members[i].size;
    // The encoder works in this vector and adds a few bytes past the end.
    data.reserve(total + 8);
    for (std::size_t i = first; i < last; ++i) {
        const CabinetMember& member = members[i];
        UniqueFd fd;
        std::uint64_t size = 0;
        RETURN_IF_ERROR(OpenForReading(member.sourcePath, fd, size));
        if (size != member.size) return Status::FileError(member.sourcePath, "changed while packing");
        const std::size_t at = data.size();
        data.resize(at + size);
        for (std::size_t done = 0; done < size;) {
            const ssize_t got = ::read(fd.Get(), data.data() + at + done,
                                       std::min<std::size_t>(size - done, 1 << 24));
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) return Status::FileError(member.sourcePath, ErrnoText(errno));
            if (got == 0) return Status::FileError(member.sourcePath, "changed while packing");
            done += static_cast<std::size_t>(got);
        }
    }
    return Status();
}

void CompressFolder(const std::vector<CabinetMember>& members, std::size_t first, std::size_t last,
                    unsigned windowBits, FolderResult& result) {
    std::vector<std::uint8_t> data;
    result.status = ReadMembers(members, first, last, data);
    if (!result.status.Ok()) return;
    result.inputBytes = data.size();
    LzxSettings settings;
    settings.windowBits = windowBits;
    LzxStream stream;
    LzxCompress(std::move(data), settings, stream);

    std::size_t from = 0;
    std::uint64_t left = result.inputBytes;
    for (std::size_t end : stream.frameEnds) {
        const std::size_t size = end - from;
        const auto expanded = static_cast<std::uint32_t>(std::min<std::uint64_t>(left, kLzxFrameSize));
        if (size > kLzxMaxFrameBytes) {
            result.status = Status::Error("an LZX frame grew beyond what a cabinet data block holds");
            return;
        }
        // CFDATA: csum, cbData, cbUncomp, data; the checksum covers the data,
        // then the two counts.
        std::uint8_t counts[4] = {static_cast<std::uint8_t>(size), static_cast<std::uint8_t>(size >> 8),
                                  static_cast<std::uint8_t>(expanded),
                                  static_cast<std::uint8_t>(expanded >> 8)};
        const std::uint32_t sum =
            CabinetChecksum(counts, sizeof counts, CabinetChecksum(stream.bytes.data() + from, size, 0));
        Put32(result.blocks, sum);
        result.blocks.insert(result.blocks.end(), counts, counts + sizeof counts);
        result.blocks.insert(result.blocks.end(), stream.bytes.begin() + static_cast<std::ptrdiff_t>(from),
                             stream.bytes.begin() + static_cast<std::ptrdiff_t>(end));
        ++result.blockCount;
        left -= expanded;
        from = end;
    }
}

}  // namespace

std::vector<std::size_t> PlanLzxFolders(const std::vector<CabinetMember>& members) {
    std::uint64_t total = 0;
    for (const CabinetMember& member : members) total += member.size;
    const std::uint64_t target =
        total <= kSplitAbove ? total : std::min(kMaxFolderTarget, (total + 1) / 2);
    std::vector<std::size_t> starts;
    std::uint64_t filled = 0;
    for (std::size_t i = 0; i < members.size(); ++i) {
        // An empty file stays with the folder before it, so that no folder
        // is empty but that of an empty payload.
        if (starts.empty() || (filled >= target && members[i].size != 0)) {
            starts.push_back(i);
            filled = 0;
        }
        filled += members[i].size;
    }
    return starts;
}

namespace {

// Compresses each folder of `starts` into `results`, on two threads where
// there are two folders and two processors.
void CompressFolders(const std::vector<CabinetMember>& members,
                     const std::vector<std::size_t>& starts, unsigned windowBits,
                     const PackProgress& progress, std::vector<FolderResult>& results) {
    std::uint64_t total = 0;
    for (const CabinetMember& member : members) total += member.size;
    results.assign(starts.size(), FolderResult());
    std::atomic<std::size_t> next{0};
    std::mutex progressLock;
    std::uint64_t done = 0;
    std::uint64_t packed = 0;
    auto work = [&]() {
        for (std::size_t f = next++; f < starts.size(); f = next++) {
            const std::size_t last = f + 1 < starts.size() ? starts[f + 1] : members.size();
            // An exception may not leave a thread: running out of memory
            // fails the folder like any other error.
            try {
                CompressFolder(members, starts[f], last, windowBits, results[f]);
            } catch (const std::bad_alloc&) {
                results[f].status = Status::Error("out of memory while compressing the payload");
            }
            if (!progress) continue;
            const std::lock_guard<std::mutex> hold(progressLock);
            done += results[f].inputBytes;
            packed += results[f].blocks.size();
            progress(done, total, packed);
        }
    };
    const unsigned threads = static_cast<unsigned>(
        std::min<std::size_t>(starts.size(), std::max(1u, std::min(2u, std::thread::hardware_concurrency()))));
    std::vector<std::thread> workers;
    for (unsigned t = 1; t < threads; ++t) workers.emplace_back(work);
    work();
    for (std::thread& worker : workers) worker.join();
}

// The CFFILE records: each member's size, offset in its folder, folder,
// time and name.
std::vector<std::uint8_t> FileRecords(const std::vector<CabinetMember>& members,
                                      const std::vector<std::size_t>& starts) {
    std::vector<std::uint8_t> files;
    std::uint64_t offset = 0;
    for (std::size_t f = 0, i = 0; i < members.size(); ++i) {
        if (f + 1 < starts.size() && i == starts[f + 1]) {
            ++f;
            offset = 0;
        }
        const CabinetMember& member = members[i];
        const DosDateTime date = DosDateTimeFromUnix(member.time);
        const std::string name = Utf16ToUtf8(member.name);
        std::uint32_t attributes = kCabAttributeArchive | kCabAttributeUtcTime;
        if (std::any_of(name.begin(), name.end(), [](char c) { return (c & 0x80) != 0; })) {
            attributes |= kCabAttributeNameIsUtf8;
        }
        Put32(files, static_cast<std::uint32_t>(member.size));
        Put32(files, static_cast<std::uint32_t>(offset));
        Put16(files, static_cast<std::uint32_t>(f));
        Put16(files, static_cast<std::uint32_t>(((date.year - 1980) << 9) | (date.month << 5) | date.day));
        Put16(files, static_cast<std::uint32_t>((date.hour << 11) | (date.minute << 5) | (date.second / 2)));
        Put16(files, attributes);
        files.insert(files.end(), name.begin(), name.end());
        files.push_back(0);
        offset += member.size;
    }
    return files;
}

}  // namespace

Status WriteLzxCabinet(const std::vector<CabinetMember>& members, unsigned windowBits,
                       const std::string& cabinetPath, const PackProgress& progress) {
    if (windowBits < kLzxMinWindowBits || windowBits > kLzxMaxWindowBits) {
        return Status::Error("the LZX window must be 2^15 to 2^21 bytes");
    }
    const std::vector<std::size_t> starts = PlanLzxFolders(members);
    std::vector<FolderResult> results;
    CompressFolders(members, starts, windowBits, progress, results);
    for (const FolderResult& result : results) RETURN_IF_ERROR(result.status);

    // CFHEADER, the CFFOLDER records, the CFFILE records, then each folder's
    // data blocks.
    const std::vector<std::uint8_t> files = FileRecords(members, starts);
    const std::size_t filesAt = kHeaderBytes + kFolderRecordBytes * starts.size();
    std::uint64_t size = filesAt + files.size();
    std::vector<std::uint8_t> head;
    head.reserve(filesAt);
    for (const FolderResult& result : results) size += result.blocks.size();
    if (size > 0xFFFFFFFFull) return Status::FileError(cabinetPath, "the cabinet would reach 4 GiB");
    head.insert(head.end(), {'M', 'S', 'C', 'F', 0, 0, 0, 0});
    Put32(head, static_cast<std::uint32_t>(size));
    Put32(head, 0);
    Put32(head, static_cast<std::uint32_t>(filesAt));
    Put32(head, 0);
    head.push_back(3);  // version 1.3
    head.push_back(1);
    Put16(head, static_cast<std::uint32_t>(starts.size()));
    Put16(head, static_cast<std::uint32_t>(members.size()));
    Put16(head, 0);  // flags: no reserve, not part of a set
    Put16(head, 0);  // set ID
    Put16(head, 0);  // number in the set
    std::uint64_t dataAt = filesAt + files.size();
    for (const FolderResult& result : results) {
        Put32(head, static_cast<std::uint32_t>(dataAt));
        Put16(head, static_cast<std::uint32_t>(result.blockCount));
        Put16(head, LzxCabinetType(windowBits));
        dataAt += result.blocks.size();
    }

    UniqueFd fd(::open(cabinetPath.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.Valid()) return Status::FileError(cabinetPath, ErrnoText(errno));
    RETURN_IF_ERROR(WriteAll(fd.Get(), head.data(), head.size(), cabinetPath));
    RETURN_IF_ERROR(WriteAll(fd.Get(), files.data(), files.size(), cabinetPath));
    for (FolderResult& result : results) {
        RETURN_IF_ERROR(WriteAll(fd.Get(), result.blocks.data(), result.blocks.size(), cabinetPath));
        result.blocks = std::vector<std::uint8_t>();
    }
    return fd.Close(cabinetPath);
}

}  // namespace quarry::pack
