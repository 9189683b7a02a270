// Cabinet expansion through the platform's FDI and PackageReader::ExtractAll,
// over real cabinets made by gcab (see make-test-cabinets.sh) and cabinets
// derived from them by rewriting their header and file records.
#include "package/CabinetExtract.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <functional>
#include <iostream>
#include <thread>

#include "common/Text.h"
#include "common/Unique.h"
#include "common/WinTestSupport.h"
#include "package/PackageReader.h"
#include "package/TestPackage.h"

namespace quarry {
namespace {

using testing::Complemented;
using testing::PackageBuilder;
using testing::Pattern;
using testing::ReadBytes;
using testing::ScratchFolder;
using testing::Utf16;
using testing::Utf16WithBom;
using testing::WriteBytes;

using Bytes = std::vector<std::uint8_t>;

// The folder the build filled with gcab's cabinets, seen through drive Z:.
std::u16string CabinetData(const std::string& name) {
    return testing::WindowsPathOf(std::string(QUARRY_TEST_CABINETS) + "/" + name);
}

Bytes ReadCabinet(const std::string& name) {
    Bytes bytes = ReadBytes(CabinetData(name));
    EXPECT_FALSE(bytes.empty()) << name;
    return bytes;
}

// The payload cabinets' members, as stored ("\" between folders).
std::vector<std::u16string> PayloadMembers() {
    const Bytes list = ReadBytes(CabinetData("files.txt"));
    std::vector<std::u16string> members;
    std::string line;
    for (std::uint8_t b : list) {
        if (b != '\n') {
            line += static_cast<char>(b == '/' ? '\\' : b);
            continue;
        }
        members.push_back(Utf8ToUtf16(line));
        line.clear();
    }
    EXPECT_EQ(6u, members.size());
    return members;
}

Bytes PayloadFile(const std::u16string& member) {
    return ReadBytes(testing::WindowsPathOf(std::string(QUARRY_TEST_CABINETS) + "/payload/") +
                     member);
}

std::uint16_t Load16(const Bytes& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
void Store16(Bytes& b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void Store32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A cabinet taken apart into its header, the set links, the folder and file
// records and the data blocks, and put together again with every offset
// recomputed. Data blocks carry their own checksums; nothing in the records
// does, so names, dates and attributes can be rewritten freely.
struct CabinetImage {
    static constexpr std::size_t kHeaderSize = 36;
    static constexpr std::uint16_t kHasPrevious = 1, kHasNext = 2, kHasReserve = 4;

    struct File {
        std::uint32_t size = 0, folderOffset = 0;
        std::uint16_t folder = 0, date = 0, time = 0, attributes = 0;
        std::string name;  // raw bytes as stored
    };

    Bytes header;
    std::string previousCabinet, previousDisk, nextCabinet, nextDisk;
    std::vector<std::array<std::uint8_t, 8>> folders;
    std::vector<File> files;
    std::uint32_t dataStart = 0;
    Bytes data;

    static std::string ReadString(const Bytes& b, std::size_t& at) {
        std::string text;
        while (b.at(at) != 0) text += static_cast<char>(b[at++]);
        ++at;
        return text;
    }

    explicit CabinetImage(const Bytes& b) {
        header.assign(b.begin(), b.begin() + kHeaderSize);
        const std::uint16_t flags = Load16(b, 30);
        EXPECT_EQ(0, flags & kHasReserve);
        std::size_t at = kHeaderSize;
        if (flags & kHasPrevious) {
            previousCabinet = ReadString(b, at);
            previousDisk = ReadString(b, at);
        }
        if (flags & kHasNext) {
            nextCabinet = ReadString(b, at);
            nextDisk = ReadString(b, at);
        }
        dataStart = 0xFFFFFFFFu;
        for (std::uint16_t i = 0; i < Load16(b, 26); ++i, at += 8) {
            std::array<std::uint8_t, 8> folder;
            std::copy(b.begin() + at, b.begin() + at + 8, folder.begin());
            folders.push_back(folder);
            dataStart = std::min<std::uint32_t>(dataStart, LoadLE32(&b[at]));
        }
        at = LoadLE32(&b[16]);
        for (std::uint16_t i = 0; i < Load16(b, 28); ++i) {
            File file;
            file.size = LoadLE32(&b[at]);
            file.folderOffset = LoadLE32(&b[at + 4]);
            file.folder = Load16(b, at + 8);
            file.date = Load16(b, at + 10);
            file.time = Load16(b, at + 12);
            file.attributes = Load16(b, at + 14);
            at += 16;
            file.name = ReadString(b, at);
            files.push_back(file);
        }
        data.assign(b.begin() + dataStart, b.end());
    }

    Bytes Build() const {
        Bytes out = header;
        std::uint16_t flags = Load16(header, 30) & ~(kHasPrevious | kHasNext);
        auto appendString = [&out](const std::string& text) {
            out.insert(out.end(), text.begin(), text.end());
            out.push_back(0);
        };
        if (!previousCabinet.empty()) {
            flags |= kHasPrevious;
            appendString(previousCabinet);
            appendString(previousDisk);
        }
        if (!nextCabinet.empty()) {
            flags |= kHasNext;
            appendString(nextCabinet);
            appendString(nextDisk);
        }
        Store16(out, 30, flags);
        std::size_t filesSize = 0;
        for (const File& file : files) filesSize += 16 + file.name.size() + 1;
        const std::uint32_t coffFiles = static_cast<std::uint32_t>(out.size() + 8 * folders.size());
        const std::uint32_t newDataStart = static_cast<std::uint32_t>(coffFiles + filesSize);
        for (const auto& folder : folders) {
            const std::size_t at = out.size();
            out.insert(out.end(), folder.begin(), folder.end());
            Store32(out, at, LoadLE32(&folder[0]) - dataStart + newDataStart);
        }
        for (const File& file : files) {
            const std::size_t at = out.size();
            out.resize(at + 16);
            Store32(out, at, file.size);
            Store32(out, at + 4, file.folderOffset);
            Store16(out, at + 8, file.folder);
            Store16(out, at + 10, file.date);
            Store16(out, at + 12, file.time);
            Store16(out, at + 14, file.attributes);
            appendString(file.name);
        }
        out.insert(out.end(), data.begin(), data.end());
        Store32(out, 8, static_cast<std::uint32_t>(out.size()));
        Store32(out, 16, coffFiles);
        Store16(out, 28, static_cast<std::uint32_t>(files.size()));
        return out;
    }
};

// "single-stored.cab" with its one file record rewritten.
Bytes SingleFileCabinet(const std::string& name, std::uint16_t attributes,
                        std::uint16_t date = 0, std::uint16_t time = 0) {
    CabinetImage image(ReadCabinet("single-stored.cab"));
    EXPECT_EQ(1u, image.files.size());
    image.files[0].name = name;
    image.files[0].attributes = attributes;
    if (date != 0) {
        image.files[0].date = date;
        image.files[0].time = time;
    }
    return image.Build();
}

// Everything below `folder`, as relative paths, sorted.
void ListTree(const std::u16string& folder, const std::u16string& prefix,
              std::vector<std::u16string>& out) {
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW(Wide(folder + u"*"), &data);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        const std::u16string name = FromWide(data.cFileName);
        if (name == u"." || name == u"..") continue;
        out.push_back(prefix + name);
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            ListTree(folder + name + u"\\", prefix + name + u"\\", out);
        }
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
    std::sort(out.begin(), out.end());
}
std::vector<std::u16string> Tree(const std::u16string& folder) {
    std::vector<std::u16string> out;
    ListTree(folder, u"", out);
    return out;
}

bool Exists(const std::u16string& path) {
    return ::GetFileAttributesW(Wide(path)) != INVALID_FILE_ATTRIBUTES;
}

bool IsFolder(const std::u16string& path) {
    const DWORD attributes = ::GetFileAttributesW(Wide(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string Narrow(const std::u16string& text) { return Utf16ToUtf8(text); }

// Runs `action` on another thread as soon as `path` exists (or after 20 s,
// so that a fault cannot hang the test).
class WhenFileAppears {
public:
    WhenFileAppears(std::u16string path, std::function<void()> action)
        : thread_([this, path, action] {
              const DWORD start = ::GetTickCount();
              while (!Exists(path) && ::GetTickCount() - start < 20000) ::Sleep(1);
              sawFile = Exists(path);
              action();
          }) {}
    ~WhenFileAppears() { Join(); }
    void Join() {
        if (thread_.joinable()) thread_.join();
    }
    std::atomic<bool> sawFile{false};

private:
    std::thread thread_;
};

// Runs `f` on a thread of its own and, should it still run after 30 s (an
// expansion going round in circles), reports that and ends the process:
// there is no way to stop the thread.
template <typename F>
void WithinThirtySeconds(F f) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
        f();
        done = true;
    });
    for (int i = 0; i < 300 && !done; ++i) ::Sleep(100);
    if (!done) {
        std::fprintf(stderr, "FAILED: still running after 30 s\n");
        std::fflush(stderr);
        ::TerminateProcess(::GetCurrentProcess(), 3);
    }
    worker.join();
}

class CabinetExtractTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(kResultOk, InitializeExtractionSlot());
        destination = folder / u"out\\";
        ASSERT_TRUE(::CreateDirectoryW(Wide(destination), nullptr));
    }
    // Writes the cabinet into the scratch folder and expands it.
    HResult ExpandBytes(const Bytes& cabinet, std::vector<ExtractedFileRecord>* records = nullptr,
                        const std::u16string& name = u"test.cab") {
        EXPECT_TRUE(WriteBytes(folder / name, cabinet));
        CExtract extract(files);
        EXPECT_EQ(kResultOk, extract.Create());
        const HResult expanded = extract.Expand(folder / name, destination, nullptr);
        if (records) *records = extract.ExtractedFiles();
        return expanded;
    }
    ScratchFolder folder;
    std::u16string destination;
    CabinetFileFunctions files;
};

TEST_F(CabinetExtractTest, ExpandsMszipAndStoredCabinetsByteForByte) {
    const std::vector<std::u16string> members = PayloadMembers();
    for (const char* cabinet : {"payload-mszip.cab", "payload-stored.cab"}) {
        SCOPED_TRACE(cabinet);
        const std::u16string target = folder / Utf16(cabinet) + u".out\\";
        ASSERT_TRUE(::CreateDirectoryW(Wide(target), nullptr));
        CExtract extract;
        ASSERT_EQ(kResultOk, extract.Create());
        // The folder may come without its "\".
        ASSERT_EQ(kResultOk, extract.Expand(CabinetData(cabinet),
                                            target.substr(0, target.size() - 1), nullptr));

        const std::vector<ExtractedFileRecord>& records = extract.ExtractedFiles();
        ASSERT_EQ(members.size(), records.size());
        for (std::size_t i = 0; i < members.size(); ++i) {
            SCOPED_TRACE(Narrow(members[i]));
            const Bytes expected = PayloadFile(members[i]);
            EXPECT_EQ(members[i], records[i].relativePath);
            EXPECT_EQ(expected.size(), records[i].size);
            EXPECT_TRUE(expected == ReadBytes(target + members[i]));
        }
        // Two folder levels were created for "docs\guide\chapter.txt", and the
        // name flagged as UTF-8 kept its non-ASCII characters.
        EXPECT_TRUE(IsFolder(target + u"docs\\guide"));
        EXPECT_TRUE(Exists(target + u"Gr\u00FC\u00DFe-\u540D\u524D.txt"));
        EXPECT_EQ(0u, ReadBytes(target + u"empty.txt").size());
        EXPECT_TRUE(Exists(target + u"empty.txt"));
    }
}

// The expansion fails with the first reason a step met: the error of the
// file system for a folder level that is a file or a destination that is
// not there, and a refusal of its own for no destination at all.
TEST_F(CabinetExtractTest, FailsWithTheReasonOfTheFirstFailedStep) {
    ASSERT_TRUE(WriteBytes(destination + u"docs", {'x'}));
    const struct {
        const char* what;
        std::u16string destination;
        HResult expected;
    } cases[] = {
        {"a file where a folder goes", destination, ResultFromWin32(ERROR_ALREADY_EXISTS)},
        {"missing destination", destination + u"missing\\", ResultFromWin32(ERROR_PATH_NOT_FOUND)},
        {"no destination", u"", kResultInvalidArg},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CExtract extract;
        ASSERT_EQ(kResultOk, extract.Create());
        EXPECT_EQ(c.expected, extract.Expand(CabinetData("payload-stored.cab"), c.destination,
                                             nullptr));
    }
}

// Every file is created new: one already there was not written by this
// run, or is a second name in the cabinet for the same file, and is left as
// it is.
TEST_F(CabinetExtractTest, RefusesANameThatIsThereAlreadyAndLeavesItAlone) {
    const std::u16string inTheWay = destination + u"readme.txt";
    ASSERT_TRUE(WriteBytes(inTheWay, Pattern(5000, 9)));
    ASSERT_TRUE(::SetFileAttributesW(Wide(inTheWay), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(ResultFromWin32(ERROR_FILE_EXISTS), ExpandBytes(ReadCabinet("payload-stored.cab")));
    EXPECT_EQ(Pattern(5000, 9), ReadBytes(inTheWay));
    ::SetFileAttributesW(Wide(inTheWay), FILE_ATTRIBUTE_NORMAL);
}

// The same bytes name different files depending on the UTF-8 flag.
TEST_F(CabinetExtractTest, DecodesNamesAsUtf8WhenFlaggedElseInTheAnsiCodePage) {
    const std::string raw = "caf\xC3\xA9.txt";
    wchar_t ansi[64] = {};
    ASSERT_GT(::MultiByteToWideChar(CP_ACP, 0, raw.c_str(), -1, ansi, 64), 0);
    const std::u16string ansiName = FromWide(ansi);
    ASSERT_NE(u"caf\u00E9.txt", ansiName) << "the ANSI code page must not be UTF-8 here";

    struct Case {
        std::uint16_t attributes;
        std::u16string expected;
    } cases[] = {{0xA0, u"caf\u00E9.txt"}, {0x20, ansiName}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.attributes);
        testing::RemoveTree(destination);
        ASSERT_TRUE(::CreateDirectoryW(Wide(destination), nullptr));
        std::vector<ExtractedFileRecord> records;
        ASSERT_EQ(kResultOk, ExpandBytes(SingleFileCabinet(raw, c.attributes), &records));
        EXPECT_EQ(std::vector<std::u16string>{c.expected}, Tree(destination));
        ASSERT_EQ(1u, records.size());
        EXPECT_EQ(c.expected, records[0].relativePath);
        EXPECT_EQ(7u, records[0].size);
    }
}

// Records every attribute change of an expansion, by path or through the
// open file's handle (no path), and passes it on; the handle call can be
// made to fail, as it does where the system has none.
struct AttributeCall {
    std::u16string path;
    DWORD attributes;
};
std::vector<AttributeCall> gAttributeCalls;
BOOL WINAPI RecordAttributes(LPCWSTR path, DWORD attributes) {
    gAttributeCalls.push_back({FromWide(path), attributes});
    return ::SetFileAttributesW(path, attributes);
}
BOOL RecordBasicInformation(HANDLE file, const FILETIME* time, DWORD attributes) {
    gAttributeCalls.push_back({u"", attributes});
    return SetBasicInformationByHandle(file, time, attributes);
}
BOOL RefuseBasicInformation(HANDLE, const FILETIME*, DWORD) { return FALSE; }

// CTest runs this test with TZ=Asia/Kolkata (UTC+5:30, no daylight saving),
// so that local time and UTC differ under Wine; in UTC, as on hosted
// Windows runners, it cannot tell the two apart and is skipped.
TEST_F(CabinetExtractTest, TakesStoredTimesAsLocalUnlessFlaggedUtc) {
    TIME_ZONE_INFORMATION zone;
    ::GetTimeZoneInformation(&zone);
    if (zone.Bias == 0) GTEST_SKIP() << "needs a time zone other than UTC (TZ=Asia/Kolkata)";

    // 2015-06-15 10:20:30 in DOS form.
    const std::uint16_t date = ((2015 - 1980) << 9) | (6 << 5) | 15;
    const std::uint16_t time = (10 << 11) | (20 << 5) | (30 / 2);
    SYSTEMTIME stamp = {2015, 6, 0, 15, 10, 20, 30, 0};
    FILETIME asUtc;
    ASSERT_TRUE(::SystemTimeToFileTime(&stamp, &asUtc));
    const std::uint64_t utc = (static_cast<std::uint64_t>(asUtc.dwHighDateTime) << 32) |
                              asUtc.dwLowDateTime;
    // UTC = local time + bias (minutes).
    const std::uint64_t fromLocal = utc + static_cast<std::int64_t>(zone.Bias) * 60 * 10000000;

    for (bool byHandle : {true, false}) {
        SCOPED_TRACE(byHandle ? "by handle" : "by SetFileTime");
        if (!byHandle) files.setBasicInformation = RefuseBasicInformation;
        ASSERT_EQ(kResultOk, ExpandBytes(SingleFileCabinet("local.txt", 0x20, date, time)));
        EXPECT_EQ(fromLocal, testing::LastWriteTime(destination + u"local.txt"));
        ASSERT_EQ(kResultOk, ExpandBytes(SingleFileCabinet("utc.txt", 0x120, date, time)));
        EXPECT_EQ(utc, testing::LastWriteTime(destination + u"utc.txt"));
        // Every expansion creates its files new.
        ::DeleteFileW(Wide(destination + u"local.txt"));
        ::DeleteFileW(Wide(destination + u"utc.txt"));
    }
}

TEST_F(CabinetExtractTest, KeepsOnlyReadOnlyHiddenSystemAndArchiveAttributes) {
    struct Case {
        const char* name;
        std::uint16_t stored;
        DWORD kept;
    } cases[] = {
        {"all.txt", 0x01 | 0x02 | 0x04 | 0x20 | 0x40 | 0x80 | 0x100, 0x27},
        {"hidden.txt", 0x02 | 0x40, FILE_ATTRIBUTE_HIDDEN},
        {"readonly.txt", 0x01 | 0x100, FILE_ATTRIBUTE_READONLY},
        {"archive.txt", 0x20 | 0x80, FILE_ATTRIBUTE_ARCHIVE},
        {"none.txt", 0x40, 0},
    };
    files.setFileAttributes = RecordAttributes;
    for (bool byHandle : {true, false}) {
        files.setBasicInformation =
            byHandle ? RecordBasicInformation : RefuseBasicInformation;
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (byHandle ? " by handle" : " by path"));
            gAttributeCalls.clear();
            const std::u16string path = destination + Utf16(c.name);
            ASSERT_EQ(kResultOk, ExpandBytes(SingleFileCabinet(c.name, c.stored)));
            // A new file is opened as it is and given what it keeps as it is
            // finished: through its handle, or by path once closed.
            ASSERT_EQ(1u, gAttributeCalls.size());
            EXPECT_EQ(byHandle ? u"" : path, gAttributeCalls.back().path);
            EXPECT_EQ(c.kept, gAttributeCalls.back().attributes);

            // Wine reports every regular file as archived, so only the other
            // three can be checked on the file itself.
            const DWORD attributes = ::GetFileAttributesW(Wide(path));
            ASSERT_NE(INVALID_FILE_ATTRIBUTES, attributes);
            EXPECT_EQ(c.kept & 0x07u, attributes & 0x07u);
            ::SetFileAttributesW(Wide(path), FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileW(Wide(path));  // the next round creates it new
        }
    }
}

TEST_F(CabinetExtractTest, RefusesNamesThatLeaveTheDestinationBeforeCreatingAnything) {
    const char* names[] = {"..\\evil.txt", "C:\\x",  "\\abs",         "\\\\srv\\s\\x",
                           "/abs",         "a\\..\\..\\evil.txt", "sub/../../evil.txt",
                           "D:evil.txt",   "sub\\.\\evil.txt"};
    for (const char* name : names) {
        for (std::uint16_t attributes : {0x20, 0xA0}) {
            SCOPED_TRACE(std::string(name) + (attributes & 0x80 ? " (UTF-8)" : ""));
            EXPECT_EQ(kResultPackageUnreadable, ExpandBytes(SingleFileCabinet(name, attributes)));
            EXPECT_TRUE(Tree(destination).empty());
            EXPECT_EQ((std::vector<std::u16string>{u"out", u"test.cab"}), Tree(folder.Path()));
        }
    }
    EXPECT_FALSE(Exists(u"C:\\x"));
    EXPECT_FALSE(Exists(u"\\abs"));
}

// "set-first.cab" and "set-second.cab" chained into a set of two.
std::array<Bytes, 2> ChainedSet() {
    CabinetImage first(ReadCabinet("set-first.cab"));
    CabinetImage second(ReadCabinet("set-second.cab"));
    first.nextCabinet = "set-second.cab";
    second.previousCabinet = "set-first.cab";
    Store16(second.header, 34, 1);  // iCabinet
    return {first.Build(), second.Build()};
}

TEST_F(CabinetExtractTest, ExpandsEveryCabinetOfASetFromTheSameFolder) {
    const std::array<Bytes, 2> set = ChainedSet();
    ASSERT_TRUE(WriteBytes(folder / u"set-second.cab", set[1]));

    std::vector<ExtractedFileRecord> records;
    ASSERT_EQ(kResultOk, ExpandBytes(set[0], &records, u"set-first.cab"));
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ(u"first.txt", records[0].relativePath);
    EXPECT_EQ(u"second.txt", records[1].relativePath);
    EXPECT_EQ(ReadBytes(destination + u"second.txt").size(), records[1].size);
    EXPECT_EQ((std::vector<std::u16string>{u"first.txt", u"second.txt"}), Tree(destination));
}

// A set of stored cabinets written from scratch, whose one folder runs on
// from each cabinet into the next: the file that crosses a boundary is listed
// in both, as continued to the next and as continued from the previous one.
struct SpanningFile {
    std::string name;
    Bytes data;
};

std::vector<Bytes> SpanningCabinetSet(const std::vector<SpanningFile>& files,
                                      const std::vector<std::uint32_t>& splits,
                                      const std::vector<std::string>& names) {
    constexpr std::uint16_t kContinuedFromPrevious = 0xFFFD, kContinuedToNext = 0xFFFE,
                            kContinuedBoth = 0xFFFF;
    Bytes folderData;
    std::vector<std::uint32_t> starts;
    for (const SpanningFile& file : files) {
        starts.push_back(static_cast<std::uint32_t>(folderData.size()));
        folderData.insert(folderData.end(), file.data.begin(), file.data.end());
    }
    std::vector<std::uint32_t> bounds{0};
    bounds.insert(bounds.end(), splits.begin(), splits.end());
    bounds.push_back(static_cast<std::uint32_t>(folderData.size()));

    std::vector<Bytes> cabinets;
    for (std::size_t c = 0; c + 1 < bounds.size(); ++c) {
        const std::uint32_t begin = bounds[c], end = bounds[c + 1];
        Bytes out(CabinetImage::kHeaderSize, 0);
        out[0] = 'M'; out[1] = 'S'; out[2] = 'C'; out[3] = 'F';
        out[24] = 3; out[25] = 1;             // version 1.3
        Store16(out, 26, 1);                  // one folder
        Store16(out, 32, 0x1234);             // set id
        Store16(out, 34, static_cast<std::uint32_t>(c));
        std::uint16_t flags = 0;
        auto appendString = [&out](const std::string& text) {
            out.insert(out.end(), text.begin(), text.end());
            out.push_back(0);
        };
        if (c > 0) {
            flags |= CabinetImage::kHasPrevious;
            appendString(names[c - 1]);
            appendString("");
        }
        if (c + 2 < bounds.size()) {
            flags |= CabinetImage::kHasNext;
            appendString(names[c + 1]);
            appendString("");
        }
        Store16(out, 30, flags);
        const std::size_t folderRecord = out.size();
        out.resize(out.size() + 8);
        Store16(out, folderRecord + 4, 1);  // one data block, stored
        Store32(out, 16, static_cast<std::uint32_t>(out.size()));
        std::uint16_t count = 0;
        for (std::size_t f = 0; f < files.size(); ++f) {
            const std::uint32_t fileBegin = starts[f];
            const std::uint32_t fileEnd = fileBegin + static_cast<std::uint32_t>(files[f].data.size());
            if (fileEnd <= begin || fileBegin >= end) continue;
            const bool fromPrevious = fileBegin < begin, toNext = fileEnd > end;
            const std::size_t at = out.size();
            out.resize(at + 16);
            Store32(out, at, static_cast<std::uint32_t>(files[f].data.size()));
            Store32(out, at + 4, fileBegin);
            Store16(out, at + 8, fromPrevious && toNext ? kContinuedBoth
                                 : fromPrevious         ? kContinuedFromPrevious
                                 : toNext               ? kContinuedToNext
                                                        : 0);
            Store16(out, at + 10, 0x5A21);  // 2025-01-01
            Store16(out, at + 14, 0x20);
            appendString(files[f].name);
            ++count;
        }
        Store16(out, 28, count);
        Store32(out, folderRecord, static_cast<std::uint32_t>(out.size()));
        const std::size_t block = out.size();
        out.resize(block + 8);  // checksum 0: not computed
        Store16(out, block + 4, end - begin);
        Store16(out, block + 6, end - begin);
        out.insert(out.end(), folderData.begin() + begin, folderData.begin() + end);
        Store32(out, 8, static_cast<std::uint32_t>(out.size()));
        cabinets.push_back(out);
    }
    return cabinets;
}

// Whatever the platform's decompressor makes of a file that crosses from one
// cabinet into the next, the set either comes out whole, each file as
// announced, or the expansion fails: a file missing from a set that
// "succeeded" would pass as a complete payload.
TEST_F(CabinetExtractTest, AFileAcrossTwoCabinetsComesOutWholeOrTheSetFails) {
    const std::vector<SpanningFile> files = {{"alpha.txt", Pattern(1000, 1)},
                                             {"bravo.bin", Pattern(3000, 2)},
                                             {"charlie.txt", Pattern(500, 3)}};
    const std::vector<std::string> names = {"span1.cab", "span2.cab", "span3.cab"};
    // The split inside bravo.bin, then once more inside it for a file that
    // runs through a whole cabinet.
    for (const std::vector<std::uint32_t>& splits :
         {std::vector<std::uint32_t>{2000}, std::vector<std::uint32_t>{1500, 3000}}) {
        SCOPED_TRACE(splits.size());
        testing::RemoveTree(destination);
        ASSERT_TRUE(::CreateDirectoryW(Wide(destination), nullptr));
        const std::vector<Bytes> set = SpanningCabinetSet(files, splits, names);
        for (std::size_t c = 1; c < set.size(); ++c) {
            ASSERT_TRUE(WriteBytes(folder / Utf16(names[c]), set[c]));
        }
        std::vector<ExtractedFileRecord> records;
        bool expanded = false;
        WithinThirtySeconds(
            [&] { expanded = Succeeded(ExpandBytes(set[0], &records, u"span1.cab")); });
        // For the record: Wine's FDI fails the set at the crossing file.
        std::cout << "[ spanning ] " << splits.size() << " split(s): "
                  << (expanded ? "expanded whole" : "expansion failed") << "\n";
        if (!expanded) continue;
        ASSERT_EQ(files.size(), records.size());
        for (const SpanningFile& file : files) {
            EXPECT_EQ(file.data, ReadBytes(destination + Utf16(file.name))) << file.name;
        }
    }
    // Started at the second cabinet, the crossing file is announced as
    // continued from a cabinet that no pass expanded: the set fails.
    testing::RemoveTree(destination);
    ASSERT_TRUE(::CreateDirectoryW(Wide(destination), nullptr));
    const std::vector<Bytes> set = SpanningCabinetSet(files, {2000}, names);
    WithinThirtySeconds([&] {
        EXPECT_EQ(kResultPackageUnreadable, ExpandBytes(set[1], nullptr, u"span2.cab"));
    });
}

// A set that names itself would never end; one whose next cabinet lies in
// another folder is not a set this folder holds.
TEST_F(CabinetExtractTest, RefusesASetThatLoopsOrLeavesTheFolder) {
    ASSERT_TRUE(WriteBytes(folder / u"set-second.cab", ReadCabinet("set-second.cab")));
    for (const char* next : {"set-first.cab", "SET-FIRST.CAB", "..\\set-second.cab",
                             "out\\..\\set-second.cab"}) {
        SCOPED_TRACE(next);
        testing::RemoveTree(destination);
        ASSERT_TRUE(::CreateDirectoryW(Wide(destination), nullptr));
        CabinetImage first(ReadCabinet("set-first.cab"));
        first.nextCabinet = next;
        WithinThirtySeconds(
            [&] {
                EXPECT_EQ(kResultPackageUnreadable,
                          ExpandBytes(first.Build(), nullptr, u"set-first.cab"));
            });
        EXPECT_FALSE(Exists(destination + u"second.txt"));
    }
}

TEST_F(CabinetExtractTest, DamagedCabinetsFail) {
    const Bytes stored = ReadCabinet("payload-stored.cab");
    const Bytes mszip = ReadCabinet("payload-mszip.cab");
    Bytes badSignature = mszip;
    badSignature[0] = 'X';
    Bytes truncated = mszip;
    truncated.resize(truncated.size() / 2);
    Bytes flipped = stored;
    flipped[CabinetImage(stored).dataStart + 5000] ^= 0x01;
    const struct {
        const char* what;
        const Bytes& cabinet;
    } cases[] = {{"bad signature", badSignature},
                 {"cut in half", truncated},
                 {"data block checksum", flipped}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // Each case starts empty: a file left by the one before would fail
        // the expansion before the damage is reached.
        testing::RemoveTree(destination);
        ASSERT_TRUE(::CreateDirectoryW(Wide(destination), nullptr));
        EXPECT_EQ(kResultPackageUnreadable, ExpandBytes(c.cabinet));
    }
    CExtract extract;
    ASSERT_EQ(kResultOk, extract.Create());
    EXPECT_EQ(kResultFileNotFound, extract.Expand(folder / u"missing.cab", destination, nullptr));
}

// FDI only calls back at file boundaries, so the cancel takes effect at the
// close of "big.bin" (64 MiB): the file must be gone, the one after it never
// started.
TEST_F(CabinetExtractTest, CancelOrAbortDuringExpansionDeletesTheUnfinishedFile) {
    ASSERT_TRUE(WriteBytes(folder / u"big.cab", ReadCabinet("big-mszip.cab")));
    for (bool useEvent : {true, false}) {
        SCOPED_TRACE(useEvent ? "cancel event" : "Abort");
        testing::RemoveTree(destination);
        ASSERT_TRUE(::CreateDirectoryW(Wide(destination), nullptr));
        UniqueHandle cancel(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        ASSERT_TRUE(cancel);
        CExtract extract;
        ASSERT_EQ(kResultOk, extract.Create());
        WhenFileAppears watcher(destination + u"big.bin", [&] {
            if (useEvent) {
                ::SetEvent(cancel.Get());
            } else {
                extract.Abort();
            }
        });
        EXPECT_EQ(kResultAbort, extract.Expand(folder / u"big.cab", destination, cancel.Get()));
        watcher.Join();
        EXPECT_TRUE(watcher.sawFile);
        EXPECT_TRUE(Tree(destination).empty());
        EXPECT_TRUE(extract.ExtractedFiles().empty());
    }
}

TEST_F(CabinetExtractTest, CancelBeforeTheStartWritesNothing) {
    UniqueHandle cancel(::CreateEventW(nullptr, TRUE, TRUE, nullptr));
    ASSERT_TRUE(WriteBytes(folder / u"test.cab", ReadCabinet("payload-stored.cab")));
    CExtract extract;
    ASSERT_EQ(kResultOk, extract.Create());
    EXPECT_EQ(kResultAbort, extract.Expand(folder / u"test.cab", destination, cancel.Get()));
    EXPECT_TRUE(Tree(destination).empty());
}

TEST_F(CabinetExtractTest, OneExpanderPerThreadAtATime) {
    ASSERT_TRUE(WriteBytes(folder / u"test.cab", ReadCabinet("single-stored.cab")));
    CExtract first;
    ASSERT_EQ(kResultOk, first.Create());
    {
        CExtract second;
        EXPECT_EQ(kResultPackageUnreadable, second.Create());
        EXPECT_EQ(kResultPackageUnreadable,
                  second.Expand(folder / u"test.cab", destination, nullptr));
    }
    // The refused one left the active one registered.
    EXPECT_EQ(kResultOk, first.Expand(folder / u"test.cab", destination, nullptr));
    EXPECT_EQ(1u, first.ExtractedFiles().size());
    EXPECT_EQ(kResultPackageUnreadable, first.Create());

    // Another thread has a slot of its own.
    HResult otherThread = kResultFail;
    std::thread([&] {
        CExtract other;
        otherThread = other.Create();
    }).join();
    EXPECT_EQ(kResultOk, otherThread);
}

TEST_F(CabinetExtractTest, SlotIsFreeAgainAfterTheExpanderIsGone) {
    { CExtract first; ASSERT_EQ(kResultOk, first.Create()); }
    CExtract next;
    EXPECT_EQ(kResultOk, next.Create());
}

TEST_F(CabinetExtractTest, WithoutASlotEveryExpansionFails) {
    ReleaseExtractionSlot();
    {
        CExtract extract;
        EXPECT_EQ(kResultPackageUnreadable, extract.Create());
    }
    ASSERT_EQ(kResultOk, InitializeExtractionSlot());
    CExtract extract;
    EXPECT_EQ(kResultOk, extract.Create());
}

// ExtractAll over packages built in memory.
class PackageExtractTest : public testing::ExtractionFoldersTest {
protected:
    // Opens the package and loads its settings, as the worker does first.
    void Open(const PackageBuilder& builder) {
        ASSERT_EQ(kResultOk, reader.Open(builder.Write(folder), support));
        ASSERT_EQ(kResultOk, reader.LoadSettings());
    }
    static PackageBuilder WithSettings(std::int64_t totalFileSize = 1000) {
        PackageBuilder builder;
        builder.AddGroup(kMainGroupName)
            .Add(kSettingsEntryName,
                 Utf16WithBom(u"[Package]\r\nProductName=Extract Test\r\nTotalFileSize=" +
                              Utf16(std::to_string(totalFileSize)) + u"\r\n"));
        return builder;
    }
    std::u16string CabinetCopy() const { return support + kCabinetEntryName; }

    PackageReader reader;
};

TEST_F(PackageExtractTest, WritesEveryGroupAndExpandsTheCabinetIntoTheDestination) {
    const Bytes cabinet = ReadCabinet("payload-mszip.cab");
    PackageBuilder builder = WithSettings(1000);
    builder.Add(kCabinetEntryName, Complemented(cabinet)).Add(u"MessageInfo.xml", Pattern(300, 1));
    builder.AddGroup(kFlatGroupName).Add(u"setup.exe", Pattern(7000, 2));
    builder.AddGroup(u"Drivers").Add(u"a.sys", Pattern(70000, 3)).Add(u"empty.bin", {});
    Open(builder);

    ASSERT_EQ(kResultOk, reader.ExtractAll(destination, nullptr));
    EXPECT_EQ(destination, reader.destinationFolder);

    const std::vector<std::u16string> members = PayloadMembers();
    std::vector<ExtractedFileRecord> expected;
    for (const std::u16string& member : members) {
        const Bytes bytes = PayloadFile(member);
        EXPECT_TRUE(bytes == ReadBytes(destination + member)) << Narrow(member);
        expected.push_back({member, bytes.size()});
    }
    expected.push_back({u"setup.exe", 7000});
    expected.push_back({u"Drivers\\a.sys", 70000});
    expected.push_back({u"Drivers\\empty.bin", 0});
    ASSERT_EQ(expected.size(), reader.destinationFiles.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(expected[i].relativePath, reader.destinationFiles[i].relativePath) << i;
        EXPECT_EQ(expected[i].size, reader.destinationFiles[i].size) << i;
    }
    EXPECT_EQ(builder.contents[4], ReadBytes(destination + u"Drivers\\a.sys"));
    EXPECT_EQ(builder.contents[3], ReadBytes(destination + u"setup.exe"));

    // The main group went to the Support folder, the cabinet's copy is gone.
    EXPECT_EQ((std::vector<std::u16string>{u"MessageInfo.xml", u"Settings.ini"}), Tree(support));
    ASSERT_EQ(2u, reader.supportFiles.size());
    EXPECT_EQ(u"Settings.ini", reader.supportFiles[0].relativePath);
    EXPECT_EQ(u"MessageInfo.xml", reader.supportFiles[1].relativePath);
    EXPECT_EQ(300u, reader.supportFiles[1].size);

    // Total: TotalFileSize + the cabinet; done: the cabinet and the entries
    // outside the main group, not the expansion, not the support files.
    std::uint64_t done = 0, total = 0;
    reader.GetProgress(done, total);
    EXPECT_EQ(1000u + cabinet.size(), total);
    EXPECT_EQ(cabinet.size() + 7000u + 70000u, done);
}

TEST_F(PackageExtractTest, SettingsOnlyPackageWritesNothingAndSucceeds) {
    Open(WithSettings(4321));
    reader.SetProgress(77, 88);
    ASSERT_EQ(kResultOk, reader.ExtractAll(destination, nullptr));
    EXPECT_TRUE(Tree(destination).empty());
    EXPECT_TRUE(reader.destinationFiles.empty());
    EXPECT_EQ(1u, reader.supportFiles.size());
    std::uint64_t done = 0, total = 0;
    reader.GetProgress(done, total);
    EXPECT_EQ(0u, done);
    EXPECT_EQ(4321u, total);
}

TEST_F(PackageExtractTest, CabinetNamedEntryOutsideTheMainGroupIsCopiedPlain) {
    const Bytes cabinet = ReadCabinet("payload-stored.cab");
    PackageBuilder builder = WithSettings(10);
    builder.AddGroup(kFlatGroupName).Add(kCabinetEntryName, cabinet);
    builder.AddGroup(u"Extra").Add(kCabinetEntryName, Pattern(100, 4));
    Open(builder);
    ASSERT_EQ(kResultOk, reader.ExtractAll(destination, nullptr));

    EXPECT_EQ((std::vector<std::u16string>{u"E8FF0748-2339-49f9-9A79-824D7561736C.cab", u"Extra",
                                           u"Extra\\E8FF0748-2339-49f9-9A79-824D7561736C.cab"}),
              Tree(destination));
    EXPECT_TRUE(cabinet == ReadBytes(destination + kCabinetEntryName));
    EXPECT_EQ(Pattern(100, 4), ReadBytes(destination + u"Extra\\" + kCabinetEntryName));
    ASSERT_EQ(2u, reader.destinationFiles.size());
    EXPECT_EQ(kCabinetEntryName, reader.destinationFiles[0].relativePath);
    EXPECT_EQ(u"Extra\\" + std::u16string(kCabinetEntryName),
              reader.destinationFiles[1].relativePath);
    std::uint64_t done = 0, total = 0;
    reader.GetProgress(done, total);
    EXPECT_EQ(10u, total);
    EXPECT_EQ(cabinet.size() + 100u, done);
}

TEST_F(PackageExtractTest, CancelSeenAtAGroupOrEntryBoundaryStops) {
    PackageBuilder builder = WithSettings();
    builder.Add(u"MessageInfo.xml", Pattern(10, 1));
    builder.AddGroup(kFlatGroupName)
        .Add(u"first.bin", Pattern(5 * kCopyBufferSize, 5))
        .Add(u"second.bin", Pattern(10, 6));
    builder.AddGroup(u"Later").Add(u"later.bin", Pattern(10, 7));
    Open(builder);

    UniqueHandle cancel(::CreateEventW(nullptr, TRUE, TRUE, nullptr));
    EXPECT_EQ(kResultAbort, reader.ExtractAll(destination, cancel.Get()));
    EXPECT_TRUE(Tree(destination).empty());
    EXPECT_EQ((std::vector<std::u16string>{u"Settings.ini"}), Tree(support));

    // Cancelled while "first.bin" is copied: the copy finishes, the next
    // entry and the next group are not started.
    ::ResetEvent(cancel.Get());
    WhenFileAppears watcher(destination + u"first.bin", [&] { ::SetEvent(cancel.Get()); });
    EXPECT_EQ(kResultAbort, reader.ExtractAll(destination, cancel.Get()));
    watcher.Join();
    EXPECT_EQ((std::vector<std::u16string>{u"first.bin"}), Tree(destination));
    EXPECT_TRUE(builder.contents[2] == ReadBytes(destination + u"first.bin"));
}

TEST_F(PackageExtractTest, CancelDuringExpansionYieldsAbortWithoutAnUnfinishedFile) {
    PackageBuilder builder = WithSettings();
    builder.Add(kCabinetEntryName, Complemented(ReadCabinet("big-mszip.cab")));
    Open(builder);
    UniqueHandle cancel(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    WhenFileAppears watcher(destination + u"big.bin", [&] { ::SetEvent(cancel.Get()); });
    EXPECT_EQ(kResultAbort, reader.ExtractAll(destination, cancel.Get()));
    watcher.Join();
    EXPECT_TRUE(watcher.sawFile);
    EXPECT_TRUE(Tree(destination).empty());
    EXPECT_TRUE(reader.destinationFiles.empty());
}

TEST_F(PackageExtractTest, BusyOrMissingSlotFailsAsUnreadable) {
    PackageBuilder builder = WithSettings();
    builder.Add(kCabinetEntryName, Complemented(ReadCabinet("payload-stored.cab")));
    Open(builder);
    {
        CExtract active;
        ASSERT_EQ(kResultOk, active.Create());
        EXPECT_EQ(kResultPackageUnreadable, reader.ExtractAll(destination, nullptr));
    }
    EXPECT_TRUE(Tree(destination).empty());
    EXPECT_FALSE(Exists(CabinetCopy()));

    ReleaseExtractionSlot();
    EXPECT_EQ(kResultPackageUnreadable, reader.ExtractAll(destination, nullptr));
    ASSERT_EQ(kResultOk, InitializeExtractionSlot());
    EXPECT_TRUE(Tree(destination).empty());

    // With the slot free again the same package expands.
    EXPECT_EQ(kResultOk, reader.ExtractAll(destination, nullptr));
    EXPECT_FALSE(Exists(CabinetCopy()));
}

TEST_F(PackageExtractTest, UnsafeCabinetNameFailsWithNothingCreated) {
    PackageBuilder builder = WithSettings();
    builder.Add(kCabinetEntryName, Complemented(SingleFileCabinet("..\\evil.txt", 0x20)));
    Open(builder);
    EXPECT_EQ(kResultPackageUnreadable, reader.ExtractAll(destination, nullptr));
    EXPECT_TRUE(Tree(destination).empty());
    EXPECT_FALSE(Exists(folder / u"evil.txt"));
    EXPECT_TRUE(reader.destinationFiles.empty());
}

TEST_F(PackageExtractTest, CabinetNamesWindowsWouldNotCreateAsNamedFailAsUnreadable) {
    // The names quarrypack refuses when it packs: "setup.exe." would land on
    // "setup.exe", "a:b" in a stream of "a", "CON" on the console.
    const std::string names[] = {"setup.exe.", "sub\\trailing ", "setup.exe:evil",
                                 "CON",        "sub\\nul.txt",   "lpt1.log",
                                 "a\x01b.txt", "a|b.txt",         std::string(256, 'n')};
    for (const std::string& name : names) {
        for (std::uint16_t attributes : {0x20, 0xA0}) {
            SCOPED_TRACE(name + (attributes & 0x80 ? " (UTF-8)" : ""));
            // Each round starts from empty folders, as a run does.
            for (const std::u16string& emptied : {support, destination}) {
                testing::RemoveTree(emptied);
                ASSERT_TRUE(::CreateDirectoryW(Wide(emptied), nullptr));
            }
            PackageBuilder builder = WithSettings();
            builder.Add(kCabinetEntryName, Complemented(SingleFileCabinet(name, attributes)));
            // A reader of its own, so that the package file is closed again
            // before the next round writes it.
            PackageReader round;
            ASSERT_EQ(kResultOk, round.Open(builder.Write(folder), support));
            ASSERT_EQ(kResultOk, round.LoadSettings());
            EXPECT_EQ(kResultPackageUnreadable, round.ExtractAll(destination, nullptr));
            EXPECT_TRUE(Tree(destination).empty());
            EXPECT_TRUE(round.destinationFiles.empty());
        }
    }
}

TEST_F(PackageExtractTest, DamagedCabinetFailsAndNoCopyOfItIsWritten) {
    Bytes damaged = ReadCabinet("payload-mszip.cab");
    damaged.resize(damaged.size() / 2);
    PackageBuilder builder = WithSettings();
    builder.Add(kCabinetEntryName, Complemented(damaged));
    Open(builder);
    EXPECT_EQ(kResultPackageUnreadable, reader.ExtractAll(destination, nullptr));
    EXPECT_EQ((std::vector<std::u16string>{u"Settings.ini"}), Tree(support));
    EXPECT_TRUE(reader.destinationFiles.empty());
}

// The progress done as each file is finished, taken through the seam that
// every written file passes before it is closed.
PackageReader* gProgressReader = nullptr;
std::vector<std::uint64_t> gProgressAtFiles;
BOOL RecordProgress(HANDLE file, const FILETIME* time, DWORD attributes) {
    std::uint64_t done = 0, total = 0;
    gProgressReader->GetProgress(done, total);
    gProgressAtFiles.push_back(done);
    return SetBasicInformationByHandle(file, time, attributes);
}

TEST_F(PackageExtractTest, ProgressMovesWithTheCabinetBytesTheExpansionReads) {
    const Bytes cabinet = ReadCabinet("payload-stored.cab");
    PackageBuilder builder = WithSettings(0);
    builder.Add(kCabinetEntryName, Complemented(cabinet));
    Open(builder);
    reader.cabinetFileFunctions.setBasicInformation = RecordProgress;
    gProgressReader = &reader;
    gProgressAtFiles.clear();
    ASSERT_EQ(kResultOk, reader.ExtractAll(destination, nullptr));

    // After the first file the headers and its data were read, not the whole
    // cabinet; later files see more of it; at the end all of it counts.
    ASSERT_EQ(PayloadMembers().size(), gProgressAtFiles.size());
    EXPECT_GT(gProgressAtFiles.front(), 0u);
    EXPECT_LT(gProgressAtFiles.front(), cabinet.size() / 2);
    EXPECT_GT(gProgressAtFiles.back(), gProgressAtFiles.front());
    EXPECT_TRUE(std::is_sorted(gProgressAtFiles.begin(), gProgressAtFiles.end()));
    std::uint64_t done = 0, total = 0;
    reader.GetProgress(done, total);
    EXPECT_EQ(cabinet.size(), done);
    EXPECT_EQ(cabinet.size(), total);
}

// The next cabinet of a set is a main group entry; written to the Support
// folder before the expansion, even when it comes after the cabinet entry.
TEST_F(PackageExtractTest, CabinetSetContinuesFromAnEntryInTheSupportFolder) {
    const std::array<Bytes, 2> set = ChainedSet();
    PackageBuilder builder = WithSettings();
    builder.Add(kCabinetEntryName, Complemented(set[0])).Add(u"set-second.cab", set[1]);
    Open(builder);
    ASSERT_EQ(kResultOk, reader.ExtractAll(destination, nullptr));

    EXPECT_EQ((std::vector<std::u16string>{u"first.txt", u"second.txt"}), Tree(destination));
    ASSERT_EQ(2u, reader.destinationFiles.size());
    EXPECT_EQ(u"second.txt", reader.destinationFiles[1].relativePath);
    EXPECT_EQ((std::vector<std::u16string>{u"Settings.ini", u"set-second.cab"}), Tree(support));
    ASSERT_EQ(2u, reader.supportFiles.size());
    EXPECT_EQ(u"set-second.cab", reader.supportFiles[1].relativePath);
}

TEST_F(PackageExtractTest, GroupFolderIsCreatedOneLevelDeepOnly) {
    PackageBuilder builder = WithSettings();
    builder.AddGroup(u"Tools").Add(u"a.txt", Pattern(3, 1));
    builder.AddGroup(u"Tools\\Sub").Add(u"b.txt", Pattern(3, 2));
    builder.AddGroup(u"Missing\\Sub").Add(u"c.txt", Pattern(3, 3));
    Open(builder);
    EXPECT_EQ(kResultFolderNotCreated, reader.ExtractAll(destination, nullptr));
    EXPECT_EQ((std::vector<std::u16string>{u"Tools", u"Tools\\Sub", u"Tools\\Sub\\b.txt",
                                           u"Tools\\a.txt"}),
              Tree(destination));
    ASSERT_EQ(2u, reader.destinationFiles.size());
    EXPECT_EQ(u"Tools\\Sub\\b.txt", reader.destinationFiles[1].relativePath);
}

TEST_F(PackageExtractTest, EntryCopyFailureStopsWithItsCode) {
    PackageBuilder builder = WithSettings();
    builder.AddGroup(kFlatGroupName)
        .Add(u"setup.exe", Pattern(3, 1))
        .Add(u"next.txt", Pattern(3, 2));
    Open(builder);
    // A folder where the file should go: the name is taken.
    ASSERT_TRUE(::CreateDirectoryW(Wide(destination + u"setup.exe"), nullptr));
    EXPECT_EQ(kResultPackageUnreadable, reader.ExtractAll(destination, nullptr));
    EXPECT_FALSE(Exists(destination + u"next.txt"));
}

}  // namespace
}  // namespace quarry

namespace quarry {
namespace {

// Two names of the package for one file: the second is refused, the first
// file keeps its bytes.
TEST_F(PackageExtractTest, SecondNameForTheSameFileFailsAsUnreadable) {
    PackageBuilder twoEntries = WithSettings();
    twoEntries.AddGroup(kFlatGroupName).Add(u"setup.exe", Pattern(70, 1));
    twoEntries.AddGroup(kFlatGroupName).Add(u"SETUP.EXE", Pattern(70, 2));
    PackageBuilder entryAndCabinet = WithSettings();
    entryAndCabinet.Add(kCabinetEntryName, Complemented(ReadCabinet("payload-stored.cab")));
    entryAndCabinet.AddGroup(kFlatGroupName).Add(u"README.TXT", Pattern(70, 3));
    const struct {
        const char* name;
        PackageBuilder* builder;
        std::u16string file;
        Bytes kept;
    } cases[] = {
        {"two entries", &twoEntries, u"setup.exe", Pattern(70, 1)},
        {"an entry after a cabinet member", &entryAndCabinet, u"readme.txt",
         PayloadFile(u"readme.txt")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder run;
        const std::u16string target = run / u"Package\\";
        ASSERT_TRUE(::CreateDirectoryW(Wide(run / u"Support"), nullptr));
        ASSERT_TRUE(::CreateDirectoryW(Wide(target), nullptr));
        PackageReader fresh;
        ASSERT_EQ(kResultOk, fresh.Open(c.builder->Write(run), run / u"Support\\"));
        ASSERT_EQ(kResultOk, fresh.LoadSettings());
        EXPECT_EQ(kResultPackageUnreadable, fresh.ExtractAll(target, nullptr));
        EXPECT_EQ(c.kept, ReadBytes(target + c.file));
    }
}

std::u16string ReadLog(const std::u16string& path) {
    const Bytes bytes = ReadBytes(path);
    std::u16string text;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
        text += static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
    }
    return text;
}

// The file the run starts is fingerprinted as written, whether it came from
// the cabinet or from an entry. Held, nobody may write it or rename it or
// its folder; a same-size rewrite made before the hold is caught and
// logged, and so is a file the package never wrote.
TEST_F(PackageExtractTest, LaunchFileIsHeldAndAChangeOfItsContentIsCaught) {
    const struct {
        std::u16string file;
        std::u16string folderToRename;  // empty: the file itself
        HResult changed;
    } cases[] = {
        {u"setup.exe", u"", static_cast<HResult>(0x8004011Fu)},
        {u"docs\\guide\\chapter.txt", u"docs", static_cast<HResult>(0x80040110u)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.file));
        ScratchFolder run;
        const std::u16string target = run / u"Package\\";
        ASSERT_TRUE(::CreateDirectoryW(Wide(run / u"Support"), nullptr));
        ASSERT_TRUE(::CreateDirectoryW(Wide(target), nullptr));
        PackageBuilder builder = WithSettings();
        builder.Add(kCabinetEntryName, Complemented(ReadCabinet("payload-mszip.cab")));
        builder.AddGroup(kFlatGroupName).Add(u"setup.exe", Pattern(7000, 2));
        PackageReader fresh;
        ASSERT_EQ(kResultOk, fresh.Open(builder.Write(run), run / u"Support\\"));
        ASSERT_EQ(kResultOk, fresh.LoadSettings());
        fresh.fingerprintPath = c.file;
        ASSERT_EQ(kResultOk, fresh.ExtractAll(target, nullptr));
        const std::u16string log = run / u"check.log";

        std::vector<UniqueFile> held;
        ASSERT_EQ(kResultOk, fresh.HoldLaunchFile(c.file, log, u"C:\\p.exe", 1, held));
        EXPECT_FALSE(held.empty());
        const std::u16string path = target + c.file;
        UniqueFile writer(::CreateFileW(Wide(path), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_FALSE(writer);
        const std::u16string moved = c.folderToRename.empty() ? path : target + c.folderToRename;
        EXPECT_FALSE(::MoveFileW(Wide(moved), Wide(moved + u"-planted")));
        EXPECT_FALSE(Exists(log));
        held.clear();

        Bytes bytes = ReadBytes(path);
        bytes[bytes.size() / 2] ^= 0x5A;
        ASSERT_TRUE(WriteBytes(path, bytes));
        EXPECT_EQ(c.changed, fresh.HoldLaunchFile(c.file, log, u"C:\\p.exe", 1, held));
        EXPECT_TRUE(held.empty());
        EXPECT_NE(std::u16string::npos, ReadLog(log).find(u"Changed:\t0\t" + c.file + u"\r\n"));

        EXPECT_EQ(static_cast<HResult>(0x8004013Fu),
                  fresh.HoldLaunchFile(u"other.exe", log, u"C:\\p.exe", 1, held));
    }
}

}  // namespace
}  // namespace quarry
