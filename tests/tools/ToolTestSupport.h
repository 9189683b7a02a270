// Scratch folders, a minimal PE program file, a runner for the quarrypack
// binary and a reader for the cabinet headers, shared by the packager tests.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/NonCopyable.h"
#include "package/PackageFormat.h"

namespace quarry::pack::test {

// A fresh folder below the temporary folder, removed with everything in it.
class ScratchFolder : quarry::testing::NonCopyable {
public:
    ScratchFolder();
    ~ScratchFolder();

    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

private:
    std::string path_;
};

using Bytes = std::vector<std::uint8_t>;

Bytes ReadFile(const std::string& path);
// Creates missing parent folders.
void WriteFile(const std::string& path, const Bytes& bytes);
void WriteFile(const std::string& path, const std::string& text);
Bytes ToBytes(const std::string& text);
void SetModified(const std::string& path, std::int64_t unixSeconds);
std::int64_t Modified(const std::string& path);

// Every file below `folder`: relative path ("/" between parts) -> content.
std::map<std::string, Bytes> ReadTree(const std::string& folder);

// Every name directly in `folder`, sorted.
std::vector<std::string> ListFolder(const std::string& folder);

// A minimal PE32 program file: DOS header (e_lfanew 0x80), "PE\0\0", a COFF
// header with one section, a 224-byte optional header and one section whose
// raw data ends the file.
Bytes MinimalPe();

struct ToolRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs the built quarrypack with `args`. SOURCE_DATE_EPOCH is removed from
// its environment unless `sourceDateEpoch` is given.
ToolRun RunTool(const std::vector<std::string>& args,
                std::optional<std::string> sourceDateEpoch = std::nullopt);

// A packaged file read back with the shared parser.
struct ParsedPackage {
    std::uint64_t offset = 0;
    std::uint64_t dataStart = 0;
    PackageDirectory directory;
    Bytes file;

    const PackageEntry* Find(std::u16string_view group, std::u16string_view entry) const;
    Bytes Data(const PackageEntry& entry) const;
};
ParsedPackage ParsePackage(const std::string& path);

// The CFFILE records of a cabinet, read straight from its bytes.
struct CabinetFileRecord {
    std::string name;  // raw bytes as stored
    std::uint32_t size = 0;
    std::uint16_t folder = 0, date = 0, time = 0, attributes = 0;
};
struct CabinetHeader {
    std::uint16_t folders = 0;
    std::vector<CabinetFileRecord> files;
};
CabinetHeader ReadCabinetHeader(const Bytes& cabinet);

}  // namespace quarry::pack::test
