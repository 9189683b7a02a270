// The checks of `quarrypack check` and of `create` before it writes: what a
// packaging engineer can get wrong in Settings.ini and MessageInfo.xml so
// that the package packs but then does nothing, or something else, on
// Windows. Each finding is one line naming the file, the line and the key.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quarry::pack {

enum class Severity { Warning, Error };

struct Finding {
    Severity severity = Severity::Error;
    std::string file;
    int line = 0;      // 0: the file as a whole
    std::string key;   // the key or element concerned; may be empty
    std::string text;
};

// "FILE:LINE: error: KEY: TEXT" (the line and the key left out when unset).
std::string FormatFinding(const Finding& finding);

// What the checks look at, taken from the inputs of create or read back
// from a packed program.
struct CheckInputs {
    std::string settingsFile;  // the name shown in findings
    std::u16string settingsText;
    // Every file that ends up below the folder the payload goes to (payload,
    // flat group, named groups), as "\"-separated paths, and every folder.
    std::vector<std::u16string> destinationFiles;
    std::vector<std::u16string> destinationFolders;
    std::uint64_t payloadBytes = 0;
    bool totalFileSizeAdded = false;  // create adds TotalFileSize when it is missing
    std::string messageFile;          // empty: the package carries no MessageInfo.xml
    std::vector<std::uint8_t> messageBytes;
    std::optional<bool> programSigned;  // known for a packed program only
};

std::vector<Finding> CheckPackageInputs(const CheckInputs& inputs);

// The known name nearest to `name` when it is close enough to be a typing
// mistake (letter case ignored), or empty.
std::u16string NearestName(std::u16string_view name, const std::vector<std::u16string>& known);

bool HasErrors(const std::vector<Finding>& findings);

// [Package] ProductName of the settings text, read as the program reads it.
std::u16string SettingsProductName(std::u16string_view settingsText);

}  // namespace quarry::pack
