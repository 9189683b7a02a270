// The Authenticode signature of a signed program file, checked the way
// Windows checks the file's own part of it: the digest over the file (all
// bytes up to the certificate table, without the header's checksum and the
// security directory entry) must equal the digest the signature carries,
// and the signature must be made over that digest by the certificate it
// names. Whether that certificate is trusted is for Windows to decide; it
// is not looked at here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Pe.h"
#include "Status.h"

namespace quarry::pack {

struct SignatureReport {
    std::string digestAlgorithm;  // "SHA256", "SHA1", ...
    std::string signer;           // the signing certificate's common name
    // Each reason the signature does not hold; empty when it verifies.
    std::vector<std::string> problems;
};

// Checks the signature of the program file open as `fd` (`fileSize` bytes),
// whose headers gave `image` with a certificate table. A file that cannot be
// read is an error; everything wrong with the signature itself ends up in
// `report.problems`.
Status CheckAuthenticode(int fd, std::uint64_t fileSize, const PeImage& image,
                         SignatureReport& report);

}  // namespace quarry::pack
