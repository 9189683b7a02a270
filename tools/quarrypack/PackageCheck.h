// quarrypack check on a packed program.
#pragma once

#include <string>
#include <vector>

#include "Check.h"
#include "Status.h"

namespace quarry::pack {

// The checks on a packed program, read as list and extract read it: the
// package's place in the file (every entry inside it and ahead of any
// certificate table, no bytes that belong to nothing), the payload
// cabinet's data blocks against their checksums, the Authenticode signature
// where there is one (the file's digest, as Windows computes it, against
// the signed one), and its Settings.ini and MessageInfo.xml against its
// payload and groups. A file that cannot be read as a package at all is an
// error; the rest are findings. `notes`, when given, gets one line each on
// the cabinet and the signature (also when there is none).
Status CheckPackedProgram(const std::string& path, std::vector<Finding>& findings,
                          std::vector<std::string>* notes = nullptr);

}  // namespace quarry::pack
