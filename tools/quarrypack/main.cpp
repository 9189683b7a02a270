// quarrypack: makes, checks, lists and extracts packages for quarry.exe.
// Exit status: 0 success, 1 failure (one line on stderr, or the check's
// error lines), 2 usage error.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <iostream>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "Create.h"
#include "Extract.h"
#include "FileIo.h"
#include "FileTime.h"
#include "List.h"
#include "PackageCheck.h"
#include "VersionBlock.h"

namespace {

using quarry::pack::Status;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

const char kCreateUsage[] =
    "Usage:\n"
    "  quarrypack create --stub FILE --settings FILE --payload DIR --output FILE\n"
    "                    [--message FILE] [--support FILE]... [--flat DIR]\n"
    "                    [--group NAME=DIR]... [--flags N] [--time SECONDS]\n"
    "                    [--compression mszip|lzx[:N]|none] [--strict]\n"
    "                    [--product-name TEXT] [--description TEXT] [--company TEXT]\n"
    "                    [--copyright TEXT] [--file-version A.B.C.D]\n"
    "                    [--product-version A.B.C.D] [--icon FILE.ico]\n"
    "\n"
    "create   checks its inputs as check does (errors refuse, warnings are printed),\n"
    "         then writes the stub (quarry.exe) followed by a package:\n"
    "  --stub FILE          the unpacked, unsigned runner program\n"
    "  --settings FILE      Settings.ini: UTF-8 (with or without byte-order mark) or\n"
    "                       UTF-16 with byte-order mark; stored as UTF-16LE. When\n"
    "                       [Package] has no TotalFileSize, the payload's size is added\n"
    "  --payload DIR        the folder tree put into the payload cabinet\n"
    "  --output, -o FILE    the packaged program to write\n"
    "  --message FILE       stored as MessageInfo.xml in the main group\n"
    "  --support FILE       another file of the main group (repeatable)\n"
    "  --flat DIR           DIR's files, written straight into the destination folder\n"
    "  --group NAME=DIR     DIR's files, written into subfolder NAME (repeatable;\n"
    "                       \"\\\" separates levels of NAME)\n"
    "  --flags N            64-bit header flags, decimal or 0x hex; bit 0: consult the\n"
    "                       SilentExecution registry value\n"
    "  --time SECONDS       package time stamp as Unix seconds (default: now, or\n"
    "                       SOURCE_DATE_EPOCH)\n"
    "  --compression KIND   mszip (default), lzx (smaller, slower to pack; lzx:N for a\n"
    "                       window of 2^N bytes, N from 15 to 21, default 21) or none\n"
    "  --strict             warnings of the checks refuse the package too\n"
    "  --force              write the package whatever the checks find (for testing\n"
    "                       how quarry.exe handles broken settings)\n"
    "  The program file's version block (Explorer's details, the consent prompt; its\n"
    "  product name captions the program's start-up boxes) and icon:\n"
    "  --product-name TEXT  ProductName; default: [Package] ProductName, if given\n"
    "  --description TEXT   FileDescription (default: the product name)\n"
    "  --company TEXT       CompanyName\n"
    "  --copyright TEXT     LegalCopyright\n"
    "  --file-version V     FileVersion, string and number (1 to 4 parts, each 0-65535)\n"
    "  --product-version V  ProductVersion, string and number\n"
    "  --icon FILE.ico      the program's icon, with every image of FILE.ico\n"
    "  Once the version block changes, OriginalFilename and InternalName follow the\n"
    "  output's name. The stub's resource section must be its last section.\n"
    "  SOURCE_DATE_EPOCH    when set, the time stamp and the latest stored file time,\n"
    "                       for byte-identical output from the same inputs\n"
    "  The output must not be one of the inputs nor lie inside an input folder.\n";

const char kCheckUsage[] =
    "Usage:\n"
    "  quarrypack check [--strict] FILE\n"
    "  quarrypack check [--strict] --settings FILE --payload DIR [--message FILE]\n"
    "                   [--flat DIR] [--group NAME=DIR]...\n"
    "\n"
    "check    reads a packed program (or the inputs of create) and prints one line per\n"
    "         finding: FILE:LINE: error|warning: KEY: what is wrong. Exit status 1 when\n"
    "         there are errors (with --strict, also for warnings), else 0.\n"
    "         A packed program is read as list and extract read it, and more: every\n"
    "         entry must lie inside the file and ahead of any certificate table, every\n"
    "         data block of the payload cabinet must match its checksum, and a\n"
    "         signature's digest must match the file as Windows computes it (a line\n"
    "         says whether the file is signed; certificate trust is not checked).\n";

const char kUsage[] =
    "Usage:\n"
    "  quarrypack create --stub FILE --settings FILE --payload DIR --output FILE ...\n"
    "  quarrypack check [--strict] FILE | [--strict] --settings FILE --payload DIR ...\n"
    "  quarrypack list FILE\n"
    "  quarrypack extract FILE DIR\n"
    "  quarrypack --help | --version | COMMAND --help\n"
    "\n";

const char kOtherUsage[] =
    "list     prints the package header, whether the file is signed, every group with\n"
    "         its entries and the files inside the payload cabinet; control\n"
    "         characters in names are printed as \\xNN\n"
    "extract  writes the entries as quarry.exe does: DIR/Support/ (main group),\n"
    "         DIR/Package/ (payload and flat group), DIR/Package/NAME/ (groups);\n"
    "         every file is created new, and a symbolic link in DIR's place or\n"
    "         below it fails the command rather than being followed\n";

struct UsageError {
    std::string message;
};

void PrintUsage() {
    std::fputs(kUsage, stdout);
    std::fputs(kCreateUsage + std::string(kCreateUsage).find("create   "), stdout);
    std::fputs(kCheckUsage + std::string(kCheckUsage).find("check    "), stdout);
    std::fputs(kOtherUsage, stdout);
}

bool IsHelp(const std::string& arg) { return arg == "--help" || arg == "-h"; }

// Findings go to stderr for create (its stdout is the summary) and to
// stdout for check.
void PrintFindings(const std::vector<quarry::pack::Finding>& findings, std::FILE* to) {
    for (const quarry::pack::Finding& finding : findings) {
        std::fprintf(to, "%s\n", quarry::pack::FormatFinding(finding).c_str());
    }
}

void Fail(const std::string& message) {
    std::fprintf(stderr, "quarrypack: %s\n", message.c_str());
}

bool ParseFlags(const std::string& text, std::uint64_t& value) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty() || digits.size() > (hex ? 16u : 20u)) return false;
    std::uint64_t result = 0;
    for (char c : digits) {
        unsigned digit = 0;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (hex && c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (hex && c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            return false;
        const std::uint64_t base = hex ? 16 : 10;
        if (result > (UINT64_MAX - digit) / base) return false;
        result = result * base + digit;
    }
    value = result;
    return true;
}

// Walks "--name value" and "--name=value" options.
class Arguments {
public:
    Arguments(int argc, char** argv, int first) : args_(argv + first, argv + argc) {}

    bool Done() const { return index_ >= args_.size(); }

    // True when the current argument is one of the names; `value` receives
    // its value, from after "=" or from the next argument.
    bool Take(const char* longName, const char* shortName, std::string& value) {
        const std::string& arg = args_[index_];
        const std::string name(longName);
        std::string given = arg;
        std::string inlineValue;
        bool hasInline = false;
        const std::size_t equals = arg.find('=');
        if (arg.rfind("--", 0) == 0 && equals != std::string::npos) {
            given = arg.substr(0, equals);
            inlineValue = arg.substr(equals + 1);
            hasInline = true;
        }
        if (given != name && (shortName == nullptr || given != shortName)) return false;
        if (hasInline) {
            value = inlineValue;
        } else if (index_ + 1 < args_.size()) {
            value = args_[++index_];
        } else {
            throw UsageError{"option " + given + " needs a value"};
        }
        ++index_;
        return true;
    }

    const std::string& Current() const { return args_[index_]; }
    void Skip() { ++index_; }

private:
    std::vector<std::string> args_;
    std::size_t index_ = 0;
};

// The options that set the program file's version block and icon.
const char* const kProgramResourceOptions[] = {"--product-name", "--description", "--company",
                                               "--copyright", "--file-version",
                                               "--product-version", "--icon"};

bool IsProgramResourceOption(const std::string& arg) {
    for (const char* name : kProgramResourceOptions) {
        const std::size_t length = std::char_traits<char>::length(name);
        if (arg.compare(0, length, name) == 0 && (arg.size() == length || arg[length] == '=')) {
            return true;
        }
    }
    return false;
}

bool TakeProgramResourceOption(Arguments& args, quarry::pack::ProgramResourceOptions& resources) {
    std::optional<std::string>* const targets[] = {
        &resources.productName, &resources.description, &resources.company,
        &resources.copyright,   &resources.fileVersion, &resources.productVersion};
    std::string value;
    for (std::size_t i = 0; i < std::size(targets); ++i) {
        if (!args.Take(kProgramResourceOptions[i], nullptr, value)) continue;
        quarry::pack::VersionNumber number;
        if (targets[i] == &resources.fileVersion || targets[i] == &resources.productVersion) {
            if (!quarry::pack::ParseVersionNumber(value, number)) {
                throw UsageError{std::string(kProgramResourceOptions[i]) + ": \"" + value +
                                 "\" is not a version of up to four numbers from 0 to 65535"};
            }
        }
        *targets[i] = value;
        return true;
    }
    if (!args.Take("--icon", nullptr, value)) return false;
    if (value.empty()) throw UsageError{"--icon needs a file"};
    resources.iconPath = value;
    return true;
}

std::optional<std::int64_t> SourceDateEpoch() {
    const char* text = std::getenv("SOURCE_DATE_EPOCH");
    if (text == nullptr || *text == '\0') return std::nullopt;
    std::int64_t seconds = 0;
    if (!quarry::pack::ParseUnixSeconds(text, seconds)) {
        throw UsageError{
            "SOURCE_DATE_EPOCH: not a whole number of seconds since 1970 (up to "
            "year 9999)"};
    }
    return seconds;
}

// --compression mszip, none, lzx or lzx:N (the window's bits, 15 to 21).
void ParseCompression(const std::string& value, quarry::pack::CreateOptions& options) {
    if (value == "mszip") {
        options.compression = quarry::pack::Compression::Mszip;
    } else if (value == "none") {
        options.compression = quarry::pack::Compression::None;
    } else if (value == "lzx" || value.rfind("lzx:", 0) == 0) {
        options.compression = quarry::pack::Compression::Lzx;
        const std::string bits = value.size() > 3 ? value.substr(4) : "21";
        if (bits.size() != 2 || bits < "15" || bits > "21") {
            throw UsageError{"--compression: the LZX window \"" + bits +
                             "\" is not a number of bits from 15 to 21"};
        }
        options.lzxWindowBits = static_cast<unsigned>(std::stoi(bits));
    } else {
        throw UsageError{"--compression: \"" + value + "\" is not mszip, lzx[:N] or none"};
    }
}

// The options of create; `checking` accepts only those that check takes.
quarry::pack::CreateOptions ParseCreateOptions(int argc, char** argv, bool checking,
                                               std::optional<std::int64_t>& time,
                                               std::vector<std::string>& positional) {
    quarry::pack::CreateOptions options;
    Arguments args(argc, argv, 2);
    std::string value;
    const char* command = checking ? "check" : "create";
    while (!args.Done()) {
        if (args.Current() == "--strict") {
            options.strict = true;
            args.Skip();
            continue;
        }
        if (!checking && args.Current() == "--force") {
            options.force = true;
            args.Skip();
            continue;
        }
        if (checking && !args.Current().empty() && args.Current()[0] != '-') {
            positional.push_back(args.Current());
            args.Skip();
            continue;
        }
        if (checking && (args.Current().rfind("--stub", 0) == 0 ||
                         args.Current().rfind("--output", 0) == 0 || args.Current() == "-o" ||
                         args.Current().rfind("--flags", 0) == 0 ||
                         args.Current().rfind("--time", 0) == 0 ||
                         args.Current().rfind("--compression", 0) == 0 ||
                         IsProgramResourceOption(args.Current()))) {
            throw UsageError{std::string(command) + ": " + args.Current() +
                             " belongs to create"};
        }
        if (args.Take("--stub", nullptr, options.stubPath) ||
            args.Take("--settings", nullptr, options.settingsPath) ||
            args.Take("--payload", nullptr, options.payloadFolder) ||
            args.Take("--output", "-o", options.outputPath) ||
            args.Take("--message", nullptr, options.messagePath) ||
            args.Take("--flat", nullptr, options.flatFolder)) {
            continue;
        }
        if (TakeProgramResourceOption(args, options.resources)) continue;
        if (args.Take("--support", nullptr, value)) {
            options.supportPaths.push_back(value);
        } else if (args.Take("--group", nullptr, value)) {
            const std::size_t equals = value.find('=');
            if (equals == std::string::npos || equals == 0 || equals + 1 == value.size()) {
                throw UsageError{"--group takes NAME=DIR, not \"" + value + "\""};
            }
            options.groups.push_back({value.substr(0, equals), value.substr(equals + 1)});
        } else if (args.Take("--flags", nullptr, value)) {
            if (!ParseFlags(value, options.flags)) {
                throw UsageError{"--flags: \"" + value + "\" is not a 64-bit number"};
            }
        } else if (args.Take("--time", nullptr, value)) {
            std::int64_t seconds = 0;
            if (!quarry::pack::ParseUnixSeconds(value, seconds)) {
                throw UsageError{"--time: \"" + value + "\" is not a Unix time in seconds"};
            }
            time = seconds;
        } else if (args.Take("--compression", nullptr, value)) {
            ParseCompression(value, options);
        } else {
            throw UsageError{std::string(command) + ": unknown argument \"" + args.Current() +
                             "\""};
        }
    }
    return options;
}

int Create(int argc, char** argv) {
    std::optional<std::int64_t> time;
    std::vector<std::string> positional;
    quarry::pack::CreateOptions options = ParseCreateOptions(argc, argv, false, time, positional);
    const struct {
        const std::string& value;
        const char* name;
    } required[] = {{options.stubPath, "--stub"},
                    {options.settingsPath, "--settings"},
                    {options.payloadFolder, "--payload"},
                    {options.outputPath, "--output"}};
    for (const auto& r : required) {
        if (r.value.empty()) throw UsageError{std::string("create: ") + r.name + " is required"};
    }

    options.clampSeconds = SourceDateEpoch();
    if (time)
        options.time = *time;
    else if (options.clampSeconds)
        options.time = *options.clampSeconds;
    else
        options.time = static_cast<std::int64_t>(std::time(nullptr));

    // LZX takes a while on a large payload: a terminal sees it go.
    if (options.compression == quarry::pack::Compression::Lzx && ::isatty(2)) {
        options.progress = [](std::uint64_t done, std::uint64_t total, std::uint64_t packed) {
            std::fprintf(stderr, "\rpacking: %llu of %llu MB, ratio %.3f ",
                         static_cast<unsigned long long>(done >> 20),
                         static_cast<unsigned long long>(total >> 20),
                         done == 0 ? 1.0 : static_cast<double>(packed) / static_cast<double>(done));
            if (done == total) std::fputc('\n', stderr);
        };
    }
    std::vector<quarry::pack::Finding> findings;
    quarry::pack::CreateSummary summary;
    const Status status = quarry::pack::CreatePackage(options, &findings, &summary);
    PrintFindings(findings, stderr);
    if (!status.Ok()) {
        Fail(status.Message());
        return kExitFailure;
    }
    std::printf("wrote %s: %zu payload %s, %llu bytes, in a cabinet of %llu bytes (ratio %.3f); "
                "%llu bytes in all\n",
                options.outputPath.c_str(), summary.payloadFiles,
                summary.payloadFiles == 1 ? "file" : "files",
                static_cast<unsigned long long>(summary.payloadBytes),
                static_cast<unsigned long long>(summary.cabinetBytes),
                summary.payloadBytes == 0 ? 1.0
                                          : static_cast<double>(summary.cabinetBytes) /
                                                static_cast<double>(summary.payloadBytes),
                static_cast<unsigned long long>(summary.outputBytes));
    return 0;
}

int Check(int argc, char** argv) {
    std::optional<std::int64_t> time;
    std::vector<std::string> positional;
    const quarry::pack::CreateOptions options =
        ParseCreateOptions(argc, argv, true, time, positional);
    std::vector<quarry::pack::Finding> findings;
    std::vector<std::string> notes;
    Status status;
    if (positional.size() == 1 && options.settingsPath.empty() && options.payloadFolder.empty() &&
        options.messagePath.empty() && options.flatFolder.empty() && options.groups.empty()) {
        status = quarry::pack::CheckPackedProgram(positional[0], findings, &notes);
    } else if (positional.empty() && !options.settingsPath.empty() &&
               !options.payloadFolder.empty()) {
        status = quarry::pack::CheckSources(options, findings);
    } else {
        throw UsageError{"check takes a packed FILE, or --settings and --payload"};
    }
    for (const std::string& note : notes) std::printf("%s\n", note.c_str());
    PrintFindings(findings, stdout);
    std::fflush(stdout);
    if (!status.Ok()) {
        Fail(status.Message());
        return kExitFailure;
    }
    std::size_t errors = 0;
    std::size_t warnings = 0;
    for (const quarry::pack::Finding& finding : findings) {
        (finding.severity == quarry::pack::Severity::Error ? errors : warnings) += 1;
    }
    if (findings.empty()) std::printf("no findings\n");
    return errors != 0 || (options.strict && warnings != 0) ? kExitFailure : 0;
}

int Run(int argc, char** argv) {
    if (argc < 2) throw UsageError{"no command given"};
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        PrintUsage();
        return 0;
    }
    if (command == "--version") {
        std::printf("quarrypack %s\n", QUARRYPACK_VERSION);
        return 0;
    }
    if ((command == "create" || command == "check") && argc == 3 && IsHelp(argv[2])) {
        std::fputs(command == "create" ? kCreateUsage : kCheckUsage, stdout);
        return 0;
    }
    if ((command == "list" || command == "extract") && argc == 3 && IsHelp(argv[2])) {
        PrintUsage();
        return 0;
    }
    if (command == "create") return Create(argc, argv);
    if (command == "check") return Check(argc, argv);
    if (command == "list" || command == "extract") {
        const int wanted = command == "list" ? 3 : 4;
        if (argc != wanted) {
            throw UsageError{command + " takes " + (wanted == 3 ? "FILE" : "FILE DIR")};
        }
        const Status status = command == "list" ? quarry::pack::ListPackage(argv[2], std::cout)
                                                : quarry::pack::ExtractPackage(argv[2], argv[3]);
        std::cout.flush();
        if (!status.Ok()) {
            Fail(status.Message());
            return kExitFailure;
        }
        return 0;
    }
    throw UsageError{"unknown command \"" + command + "\""};
}

}  // namespace

int main(int argc, char** argv) {
    quarry::pack::InstallTempFileCleanup();
    try {
        return Run(argc, argv);
    } catch (const UsageError& error) {
        Fail(error.message + " (see quarrypack --help)");
        return kExitUsage;
    } catch (const std::bad_alloc&) {
        Fail("out of memory");
        return kExitFailure;
    } catch (const std::exception& error) {
        Fail(error.what());
        return kExitFailure;
    }
}
