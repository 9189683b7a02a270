#include "PackageCheck.h"

#include <set>

#include "Authenticode.h"
#include "Destination.h"
#include "IniText.h"
#include "Names.h"
#include "PackageFile.h"
#include "common/Text.h"
#include "package/PackageLayout.h"

namespace quarry::pack {

namespace {

constexpr std::uint64_t kCertificateAlignment = 8;  // signing pads the file to this

// Where the package lies in the file: behind the image, every entry's data
// inside the file and ahead of any certificate table, and nothing behind the
// last entry that belongs to nothing (a directory whose sizes were changed
// leaves bytes over, or claims bytes of the certificate table).
void CheckLayout(const OpenedPackage& package, const PeImage& image, const std::string& path,
                 std::vector<Finding>& findings) {
    if (package.offset < image.imageEnd) {
        findings.push_back({Severity::Error, path, 0, "",
                            "the package begins at byte " + std::to_string(package.offset) +
                                ", inside the program image (which ends at byte " +
                                std::to_string(image.imageEnd) + ")"});
    }
    const bool signedFile = image.certificateSize != 0;
    const std::uint64_t end = signedFile ? image.certificateOffset : package.fileSize;
    if (package.dataEnd > end) {
        findings.push_back({Severity::Error, path, 0, "",
                            "the entries' data end at byte " + std::to_string(package.dataEnd) +
                                ", inside the certificate table (at byte " + std::to_string(end) +
                                "): the directory is damaged"});
        return;
    }
    // Signing pads the file to a multiple of 8 before the table.
    const std::uint64_t slack = signedFile ? kCertificateAlignment - 1 : 0;
    if (end - package.dataEnd > slack) {
        findings.push_back({Severity::Error, path, 0, "",
                            std::to_string(end - package.dataEnd) + " bytes after the last "
                            "entry (from byte " + std::to_string(package.dataEnd) +
                                ") belong to no entry: the directory is damaged, or something "
                                "was appended"});
    }
}

// The payload cabinet's data blocks against their checksums.
Status CheckCabinetEntry(const OpenedPackage& package, const PackageEntry& entry,
                         const std::string& path, std::vector<Finding>& findings,
                         std::vector<std::string>* notes) {
    std::vector<std::string> problems;
    CabinetDataSummary summary;
    RETURN_IF_ERROR(CheckPackedCabinet(package, entry, problems, summary).WithPath(path));
    for (const std::string& problem : problems) {
        findings.push_back({Severity::Error, path + ":" + Utf16ToUtf8(kCabinetEntryName), 0, "",
                            problem});
    }
    if (notes) {
        std::string note = "payload cabinet: " + std::to_string(summary.blocks) + " data blocks";
        if (!problems.empty()) {
            note += ", damaged (below)";
        } else if (summary.uncheckedBlocks == 0) {
            note += ", each matching its checksum";
        } else {
            note += ", " + std::to_string(summary.uncheckedBlocks) + " without a checksum";
        }
        notes->push_back(note);
    }
    return Status();
}

// The signature, where there is one.
Status CheckSignature(const OpenedPackage& package, const PeImage& image, const std::string& path,
                      std::vector<Finding>& findings, std::vector<std::string>* notes) {
    if (image.certificateSize == 0) {
        if (notes) notes->push_back("signature: none (the program file is not signed)");
        return Status();
    }
    SignatureReport report;
    RETURN_IF_ERROR(CheckAuthenticode(package.fd.Get(), package.fileSize, image, report).WithPath(path));
    for (const std::string& problem : report.problems) {
        findings.push_back({Severity::Error, path, 0, "", "signature: " + problem});
    }
    if (notes) {
        notes->push_back(report.problems.empty()
                             ? "signature: the " + report.digestAlgorithm +
                                   " digest of the file matches the signed one; signed by " +
                                   (report.signer.empty() ? "an unnamed certificate"
                                                          : "\"" + report.signer + "\"") +
                                   " (whether Windows trusts that certificate is not checked here)"
                             : "signature: does not verify");
    }
    return Status();
}

// The settings file and the message file of the main group, as the
// checks take them.
Status ReadPackedSettings(const OpenedPackage& package, const std::string& path,
                          std::vector<Finding>& findings, CheckInputs& inputs) {
    const PackageEntry* settings = FindMainEntry(package.directory, kSettingsEntryName);
    if (settings == nullptr) {
        return Status::FileError(path, "the package holds no Settings.ini; the program would end "
                                       "with 0x80070002");
    }
    std::vector<std::uint8_t> bytes;
    RETURN_IF_ERROR(ReadEntry(package, path, *settings, false, kMaxSettingsSize, bytes));
    if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xFE) {
        findings.push_back({Severity::Error, inputs.settingsFile, 0, "",
                            "not UTF-16LE with a byte-order mark, the only form the program's "
                            "profile reader reads as Unicode"});
    }
    TextEncoding encoding;
    RETURN_IF_ERROR(DecodeSettingsText(bytes, inputs.settingsText, encoding)
                        .WithPath(inputs.settingsFile));
    const PackageEntry* message = FindMainEntry(package.directory, kMessageEntryName);
    if (message != nullptr) {
        inputs.messageFile = path + ":MessageInfo.xml";
        RETURN_IF_ERROR(ReadEntry(package, path, *message, false, kMaxSettingsSize, inputs.messageBytes));
    }
    return Status();
}

// The payload cabinet checked, and its files and folders added to what
// ends up below the destination.
Status CheckPayload(const OpenedPackage& package, const PackageEntry* cabinet,
                    const std::string& path, std::vector<Finding>& findings,
                    std::vector<std::string>* notes, CheckInputs& inputs,
                    std::set<std::u16string>& folders) {
    if (cabinet == nullptr) return Status();
    RETURN_IF_ERROR(CheckCabinetEntry(package, *cabinet, path, findings, notes));
    std::vector<CabinetListing> members;
    RETURN_IF_ERROR(ListPackedCabinet(package, *cabinet, members).WithPath(path));
    for (const CabinetListing& member : members) {
        inputs.destinationFiles.push_back(member.name);
        inputs.payloadBytes += member.size;
        for (std::u16string& folder : ParentFolders(member.name)) folders.insert(std::move(folder));
    }
    return Status();
}

}  // namespace

Status CheckPackedProgram(const std::string& path, std::vector<Finding>& findings,
                          std::vector<std::string>* notes) {
    OpenedPackage package;
    RETURN_IF_ERROR(OpenPackage(path, package));
    CheckInputs inputs;
    inputs.settingsFile = path + ":Settings.ini";
    PeImage image;
    RETURN_IF_ERROR(ReadProgramHeaders(package, image).WithPath(path));
    inputs.programSigned = image.certificateSize != 0;
    CheckLayout(package, image, path, findings);
    RETURN_IF_ERROR(CheckSignature(package, image, path, findings, notes));

    std::set<std::u16string> folders;
    for (const PackageGroup& group : package.directory.groups) {
        AddGroupFiles(group, inputs.destinationFiles);
        if (ClassifyGroup(group.name) == GroupKind::Other) folders.insert(NormalizedFolder(group.name));
    }
    RETURN_IF_ERROR(ReadPackedSettings(package, path, findings, inputs));
    // The runner expands the payload cabinet of each main group.
    for (const PackageGroup& group : package.directory.groups) {
        RETURN_IF_ERROR(CheckPayload(package, GroupPayloadCabinet(group), path, findings, notes,
                                     inputs, folders));
    }
    inputs.destinationFolders.assign(folders.begin(), folders.end());
    std::vector<Finding> found = CheckPackageInputs(inputs);
    findings.insert(findings.end(), found.begin(), found.end());
    return Status();
}

}  // namespace quarry::pack
