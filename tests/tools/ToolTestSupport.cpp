#include "ToolTestSupport.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "common/Text.h"

extern char** environ;

namespace quarry::pack::test {

namespace fs = std::filesystem;

ScratchFolder::ScratchFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/quarrypack-test-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = name.data();
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const Bytes& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

void WriteFile(const std::string& path, const std::string& text) {
    WriteFile(path, ToBytes(text));
}

Bytes ToBytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

void SetModified(const std::string& path, std::int64_t unixSeconds) {
    struct timespec times[2] = {{static_cast<time_t>(unixSeconds), 0},
                                {static_cast<time_t>(unixSeconds), 0}};
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) {
        throw std::runtime_error("utimensat failed on " + path);
    }
}

std::int64_t Modified(const std::string& path) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) throw std::runtime_error("stat failed on " + path);
    return info.st_mtim.tv_sec;
}

std::map<std::string, Bytes> ReadTree(const std::string& folder) {
    std::map<std::string, Bytes> tree;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            tree[fs::relative(entry.path(), folder).string()] = ReadFile(entry.path().string());
        }
    }
    return tree;
}

std::vector<std::string> ListFolder(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

void Put16(Bytes& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint16_t Load16(const Bytes& b, std::size_t at) {
    return static_cast<std::uint16_t>(b.at(at) | (b.at(at + 1) << 8));
}

}  // namespace

Bytes MinimalPe() {
    constexpr std::size_t kPe = 0x80;
    constexpr std::size_t kOptional = kPe + 4 + 20;
    constexpr std::size_t kSection = kOptional + 224;
    constexpr std::size_t kRaw = 0x200;
    Bytes image(kRaw + 0x200, 0);
    image[0] = 'M';
    image[1] = 'Z';
    Put32(image, 0x3C, kPe);
    image[kPe] = 'P';
    image[kPe + 1] = 'E';
    Put16(image, kPe + 4, 0x14C);      // i386
    Put16(image, kPe + 6, 1);          // one section
    Put16(image, kPe + 20, 224);       // optional header size
    Put16(image, kPe + 22, 0x102);     // executable, 32-bit
    Put16(image, kOptional, 0x10B);    // PE32
    Put32(image, kOptional + 92, 16);  // data directories
    std::memcpy(&image[kSection], ".text", 5);
    Put32(image, kSection + 8, 0x200);    // virtual size
    Put32(image, kSection + 12, 0x1000);  // virtual address
    Put32(image, kSection + 16, 0x200);   // SizeOfRawData
    Put32(image, kSection + 20, kRaw);    // PointerToRawData
    for (std::size_t i = kRaw; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7);
    return image;
}

ToolRun RunTool(const std::vector<std::string>& args, std::optional<std::string> sourceDateEpoch) {
    ScratchFolder capture;
    const std::string outPath = capture / "stdout";
    const std::string errPath = capture / "stderr";

    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::strncmp(*e, "SOURCE_DATE_EPOCH=", 18) != 0) env.push_back(*e);
    }
    if (sourceDateEpoch) env.push_back("SOURCE_DATE_EPOCH=" + *sourceDateEpoch);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    std::vector<std::string> all{QUARRYPACK_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw std::runtime_error("cannot start " + all[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ToolRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    const Bytes out = ReadFile(outPath);
    const Bytes err = ReadFile(errPath);
    run.out.assign(out.begin(), out.end());
    run.err.assign(err.begin(), err.end());
    return run;
}

const PackageEntry* ParsedPackage::Find(std::u16string_view group,
                                        std::u16string_view entry) const {
    for (const PackageGroup& g : directory.groups) {
        if (g.name != group) continue;
        for (const PackageEntry& e : g.entries) {
            if (e.name == entry) return &e;
        }
    }
    return nullptr;
}

Bytes ParsedPackage::Data(const PackageEntry& entry) const {
    if (entry.offset + entry.size > file.size()) throw std::runtime_error("entry beyond the file");
    return Bytes(file.begin() + static_cast<std::ptrdiff_t>(entry.offset),
                 file.begin() + static_cast<std::ptrdiff_t>(entry.offset + entry.size));
}

ParsedPackage ParsePackage(const std::string& path) {
    ParsedPackage package;
    package.file = ReadFile(path);
    MemorySource source(package.file.data(), package.file.size());
    PackageHeader header;
    if (ReadHeader(source, package.offset, header) != kResultOk ||
        ReadDirectory(source, header, package.directory, package.dataStart) != kResultOk) {
        throw std::runtime_error("the shared parser refuses " + path);
    }
    return package;
}

CabinetHeader ReadCabinetHeader(const Bytes& cabinet) {
    if (cabinet.size() < 36 || std::memcmp(cabinet.data(), "MSCF", 4) != 0) {
        throw std::runtime_error("not a cabinet");
    }
    CabinetHeader header;
    const std::uint32_t filesOffset = LoadLE32(&cabinet[16]);
    header.folders = Load16(cabinet, 26);
    const std::uint16_t count = Load16(cabinet, 28);
    std::size_t at = filesOffset;
    for (std::uint16_t i = 0; i < count; ++i) {
        CabinetFileRecord record;
        record.size = LoadLE32(&cabinet.at(at));
        record.folder = Load16(cabinet, at + 8);
        record.date = Load16(cabinet, at + 10);
        record.time = Load16(cabinet, at + 12);
        record.attributes = Load16(cabinet, at + 14);
        at += 16;
        while (cabinet.at(at) != 0) record.name.push_back(static_cast<char>(cabinet[at++]));
        ++at;
        header.files.push_back(record);
    }
    return header;
}

}  // namespace quarry::pack::test
