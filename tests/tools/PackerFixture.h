// What the tests of create, list, extract and check share: a set of inputs
// in a scratch folder (PackerTest), and packages written straight with the
// directory writer for what create would not produce.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Cabinet.h"
#include "Create.h"
#include "FileTime.h"
#include "IniText.h"
#include "ToolTestSupport.h"
#include "package/PackageFormat.h"

namespace quarry::pack::test {

constexpr std::int64_t kEpoch = 1600000000;  // 2020-09-13 12:26:40 UTC
const char kMessageFile[] = "<MessageInfo><en-US><Message>Go on?</Message></en-US></MessageInfo>";

inline Bytes Complement(Bytes bytes) {
    UnscrambleBuffer(bytes.data(), bytes.size());
    return bytes;
}

inline std::u16string Utf16Text(const Bytes& stored) {
    std::u16string text;
    for (std::size_t i = 2; i + 1 < stored.size(); i += 2) {
        text.push_back(static_cast<char16_t>(stored[i] | (stored[i + 1] << 8)));
    }
    return text;
}

struct CraftedEntry {
    std::u16string name;
    Bytes data;
    std::uint64_t lastWriteTime = 0;
};
struct CraftedGroup {
    std::u16string name;
    std::vector<CraftedEntry> entries;
};

// A package written directly with the shared directory writer, for
// directories that quarrypack create would not produce.
inline void WriteCraftedPackage(const std::string& path, const std::vector<CraftedGroup>& groups) {
    PackageDirectory directory;
    directory.time1 = directory.time2 = FileTimeFromUnix(kEpoch);
    Bytes data;
    for (const CraftedGroup& g : groups) {
        PackageGroup group;
        group.name = g.name;
        for (const CraftedEntry& e : g.entries) {
            PackageEntry entry;
            entry.name = e.name;
            entry.size = e.data.size();
            entry.lastWriteTime = e.lastWriteTime;
            group.entries.push_back(entry);
            data.insert(data.end(), e.data.begin(), e.data.end());
        }
        directory.groups.push_back(group);
    }
    Bytes file = test::MinimalPe();
    const std::uint64_t offset = file.size();
    for (int i = 0; i < 8; ++i) file[32 + i] = static_cast<std::uint8_t>(offset >> (8 * i));
    Bytes records;
    ASSERT_EQ(kResultOk, WriteDirectory(directory, records));
    file.insert(file.end(), records.begin(), records.end());
    file.insert(file.end(), data.begin(), data.end());
    WriteFile(path, file);
}

inline std::size_t CountOf(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

class PackerTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(In("quarry.exe"), test::MinimalPe());
        WriteFile(In("Settings.ini"),
                  "[Package]\r\nProductName=Demo\r\n\r\n[Execution_x86]\r\n"
                  "FileName=setup.exe\r\n");
        WriteFile(In("payload/setup.exe"), "MZ setup");
        WriteFile(In("payload/empty.dat"), Bytes());
        Bytes big(300000);
        for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * i >> 3);
        WriteFile(In("payload/data/big.bin"), big);
        WriteFile(In("payload/data/deep/R\xC3\xA9sum\xC3\xA9.txt"), "accents");
        WriteFile(In("MessageInfo.src.xml"), kMessageFile);
        WriteFile(In("support/readme.txt"), "support");
        WriteFile(In("flat/flat.txt"), "flat file");
        WriteFile(In("drivers/a.sys"), "driver");
        WriteFile(In("drivers/b.inf"), "inf");
        std::filesystem::create_directories(dir_ / "out");
        payloadBytes_ = 8 + 0 + 300000 + 7;
    }

    std::string In(const std::string& name) const { return dir_ / ("in/" + name); }
    std::string Out(const std::string& name = "packed.exe") const { return dir_ / ("out/" + name); }

    CreateOptions Options() const {
        CreateOptions options;
        options.stubPath = In("quarry.exe");
        options.settingsPath = In("Settings.ini");
        options.payloadFolder = In("payload");
        options.outputPath = Out();
        options.messagePath = In("MessageInfo.src.xml");
        options.supportPaths = {In("support/readme.txt")};
        options.flatFolder = In("flat");
        options.groups = {{"Drivers", In("drivers")}, {"data\\Drivers", In("drivers")}};
        options.flags = 0x8000000000000001ull;
        options.time = kEpoch;
        return options;
    }

    std::vector<std::string> CreateArgs(const std::string& output) const {
        return {"create",
                "--stub",
                In("quarry.exe"),
                "--settings",
                In("Settings.ini"),
                "--payload",
                In("payload"),
                "--output",
                output,
                "--message",
                In("MessageInfo.src.xml"),
                "--support",
                In("support/readme.txt"),
                "--flat",
                In("flat"),
                "--group",
                "Drivers=" + In("drivers"),
                "--flags",
                "0x1"};
    }

    // The complemented bytes of a cabinet, made as <stem>.cab, that holds
    // `content` under `member` (libgcab stores whatever name it is given).
    Bytes PackedCabinet(const std::string& stem, const std::u16string& member,
                        const std::string& content) {
        const std::string source = dir_ / (stem + ".txt");
        const std::string cabinet = dir_ / (stem + ".cab");
        WriteFile(source, content);
        WriteFile(cabinet, Bytes());
        EXPECT_TRUE(
            WriteCabinet({{source, member, content.size(), kEpoch}}, Compression::Mszip, cabinet)
                .Ok());
        return Complement(ReadFile(cabinet));
    }

    // <stem>.exe: a package whose cabinet holds `content` under `member`.
    void WriteOneMemberPackage(const std::string& stem, const std::u16string& member,
                               const std::string& content) {
        WriteCraftedPackage(dir_ / (stem + ".exe"),
                            {{kMainGroupName,
                              {{kSettingsEntryName, EncodeUtf16LeWithBom(u"[Package]\r\n")},
                               {kCabinetEntryName, PackedCabinet(stem, member, content)}}}});
    }

    ScratchFolder dir_;
    std::uint64_t payloadBytes_ = 0;
};

}  // namespace quarry::pack::test
