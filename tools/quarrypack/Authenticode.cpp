#include "Authenticode.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <algorithm>
#include <memory>

#include "FileIo.h"
#include "package/PackageFormat.h"

namespace quarry::pack {

namespace {

constexpr std::uint16_t kCertificateTypePkcsSignedData = 2;  // WIN_CERT_TYPE_PKCS_SIGNED_DATA
constexpr std::size_t kCertificateHeaderSize = 8;            // dwLength, wRevision, wCertificateType
constexpr std::uint32_t kMaxCertificateTable = 16 * 1024 * 1024;
const char kIndirectDataOid[] = "1.3.6.1.4.1.311.2.1.4";  // SPC_INDIRECT_DATA_OBJID

template <typename T, void (*Free)(T*)>
struct Freer {
    void operator()(T* p) const { Free(p); }
};
using Pkcs7Ptr = std::unique_ptr<PKCS7, Freer<PKCS7, PKCS7_free>>;
using BioPtr = std::unique_ptr<BIO, Freer<BIO, BIO_free_all>>;
using MdContextPtr = std::unique_ptr<EVP_MD_CTX, Freer<EVP_MD_CTX, EVP_MD_CTX_free>>;
using StorePtr = std::unique_ptr<X509_STORE, Freer<X509_STORE, X509_STORE_free>>;

void FreeSigners(STACK_OF(X509) * signers) { sk_X509_free(signers); }

// One DER element: where its content lies inside the buffer.
struct Der {
    unsigned tag = 0;
    std::size_t contentStart = 0;
    std::size_t contentLength = 0;
    std::size_t End() const { return contentStart + contentLength; }
};

// Reads the element at `at`, which must end by `limit`. Only the short and
// the definite long length forms (DER).
bool ReadDer(const std::uint8_t* data, std::size_t at, std::size_t limit, Der& element) {
    if (at + 2 > limit) return false;
    element.tag = data[at];
    std::size_t length = data[at + 1];
    std::size_t position = at + 2;
    if (length & 0x80) {
        const std::size_t bytes = length & 0x7F;
        if (bytes == 0 || bytes > 4 || position + bytes > limit) return false;
        length = 0;
        for (std::size_t i = 0; i < bytes; ++i) length = (length << 8) | data[position + i];
        position += bytes;
    }
    if (length > limit - position) return false;
    element.contentStart = position;
    element.contentLength = length;
    return true;
}

// SpcIndirectDataContent ::= SEQUENCE { data SpcAttributeTypeAndOptionalValue,
//   messageDigest DigestInfo }, DigestInfo ::= SEQUENCE { AlgorithmIdentifier,
//   OCTET STRING }. Gives the algorithm's object identifier (DER content)
// and the digest.
bool ReadIndirectDigest(const std::uint8_t* data, std::size_t size, std::string& algorithmOid,
                        std::vector<std::uint8_t>& digest) {
    Der content, attribute, digestInfo, algorithm, oid, value;
    if (!ReadDer(data, 0, size, content) || content.tag != 0x30) return false;
    if (!ReadDer(data, content.contentStart, content.End(), attribute) || attribute.tag != 0x30) {
        return false;
    }
    if (!ReadDer(data, attribute.End(), content.End(), digestInfo) || digestInfo.tag != 0x30) {
        return false;
    }
    if (!ReadDer(data, digestInfo.contentStart, digestInfo.End(), algorithm) ||
        algorithm.tag != 0x30 ||
        !ReadDer(data, algorithm.contentStart, algorithm.End(), oid) || oid.tag != 0x06 ||
        !ReadDer(data, algorithm.End(), digestInfo.End(), value) || value.tag != 0x04) {
        return false;
    }
    algorithmOid.assign(reinterpret_cast<const char*>(data + oid.contentStart), oid.contentLength);
    digest.assign(data + value.contentStart, data + value.End());
    return true;
}

// The file's digest as Windows computes it: every byte before the
// certificate table, except the checksum and the security directory entry.
Status DigestFile(int fd, std::uint64_t end, const PeImage& image, const EVP_MD* md,
                  std::vector<std::uint8_t>& digest) {
    struct Range {
        std::uint64_t from, to;
    };
    const std::uint64_t checksum = image.checksumPosition;
    const std::uint64_t security = image.securityEntryPosition;
    const Range ranges[] = {{0, checksum}, {checksum + 4, security}, {security + 8, end}};
    const MdContextPtr context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), md, nullptr) != 1) {
        return Status::Error("cannot start the digest");
    }
    std::vector<std::uint8_t> buffer(1 << 16);
    FileSource source(fd);
    for (const Range& range : ranges) {
        if (!source.Seek(range.from)) return Status::Error("cannot read the program file");
        for (std::uint64_t at = range.from; at < range.to;) {
            const std::size_t take =
                static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), range.to - at));
            if (!source.Read(buffer.data(), take)) return Status::Error("cannot read the program file");
            EVP_DigestUpdate(context.get(), buffer.data(), take);
            at += take;
        }
    }
    unsigned length = 0;
    digest.resize(EVP_MAX_MD_SIZE);
    if (EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1) {
        return Status::Error("cannot finish the digest");
    }
    digest.resize(length);
    return Status();
}

std::string CommonName(X509* certificate) {
    char name[256] = {};
    if (X509_NAME_get_text_by_NID(X509_get_subject_name(certificate), NID_commonName, name,
                                  sizeof name) < 0) {
        return std::string();
    }
    return name;
}

// The signature blob of the certificate table. `found` stays false, with
// the problem in `report`, when the table holds none.
Status ReadSignatureBlob(int fd, std::uint64_t fileSize, const PeImage& image,
                         SignatureReport& report, std::vector<std::uint8_t>& blob, bool& found) {
    found = false;
    const std::uint64_t tableStart = image.certificateOffset;
    const std::uint64_t tableEnd = tableStart + image.certificateSize;
    if (image.checksumPosition == 0 || image.securityEntryPosition == 0 ||
        tableStart < image.securityEntryPosition + 8 || tableEnd > fileSize) {
        report.problems.push_back("the certificate table lies outside the file");
        return Status();
    }
    if (tableEnd != fileSize) {
        report.problems.push_back(std::to_string(fileSize - tableEnd) +
                                  " bytes follow the certificate table; the signature does not "
                                  "cover them");
    }
    if (image.certificateSize < kCertificateHeaderSize ||
        image.certificateSize > kMaxCertificateTable) {
        report.problems.push_back("the certificate table has no room for a signature");
        return Status();
    }
    std::vector<std::uint8_t> table(image.certificateSize);
    FileSource source(fd);
    if (!source.Seek(tableStart) || !source.Read(table.data(), table.size())) {
        return Status::Error("cannot read the certificate table");
    }
    const std::uint32_t length = LoadLE32(table.data());
    const unsigned type = table[6] | (table[7] << 8);
    if (length < kCertificateHeaderSize || length > table.size() ||
        type != kCertificateTypePkcsSignedData) {
        report.problems.push_back("the certificate table holds no PKCS #7 signature");
        return Status();
    }
    blob.assign(table.begin() + kCertificateHeaderSize, table.begin() + length);
    found = true;
    return Status();
}

// The indirect data that an Authenticode signature signs (a SEQUENCE, kept
// with its tag and length), or null with the problem in `report`.
const ASN1_STRING* IndirectData(const Pkcs7Ptr& signature, SignatureReport& report) {
    if (!signature || !PKCS7_type_is_signed(signature.get()) || !signature->d.sign->contents) {
        report.problems.push_back("the signature is not readable PKCS #7 signed data");
        return nullptr;
    }
    PKCS7* content = signature->d.sign->contents;
    char contentType[80] = {};
    OBJ_obj2txt(contentType, sizeof contentType, content->type, 1);
    const ASN1_TYPE* other = content->d.other;
    if (std::string(contentType) != kIndirectDataOid || !other || other->type != V_ASN1_SEQUENCE) {
        report.problems.push_back("the signature is not an Authenticode signature");
        return nullptr;
    }
    return other->value.sequence;
}

// The digest algorithm of an object identifier's content bytes, or null.
const EVP_MD* DigestByOid(const std::string& algorithmOid) {
    const unsigned char* oidBytes = reinterpret_cast<const unsigned char*>(algorithmOid.data());
    std::unique_ptr<ASN1_OBJECT, Freer<ASN1_OBJECT, ASN1_OBJECT_free>> oid(
        ASN1_OBJECT_create(NID_undef, const_cast<unsigned char*>(oidBytes),
                           static_cast<int>(algorithmOid.size()), nullptr, nullptr));
    return oid ? EVP_get_digestbyobj(oid.get()) : nullptr;
}

// The signature over the indirect data's content, and who made it.
Status VerifySigner(const Pkcs7Ptr& signature, const std::uint8_t* content, std::size_t length,
                    SignatureReport& report) {
    // The signed content is the indirect data without its own tag and
    // length; the signature covers its digest through the signed attributes.
    const BioPtr data(BIO_new_mem_buf(content, static_cast<int>(length)));
    const StorePtr store(X509_STORE_new());
    if (!data || !store) return Status::Error("out of memory");
    if (PKCS7_verify(signature.get(), nullptr, store.get(), data.get(), nullptr,
                     PKCS7_NOVERIFY | PKCS7_BINARY) != 1) {
        report.problems.push_back("the signature over the signed digest does not verify");
    }
    std::unique_ptr<STACK_OF(X509), Freer<STACK_OF(X509), FreeSigners>> signers(
        PKCS7_get0_signers(signature.get(), nullptr, 0));
    if (signers && sk_X509_num(signers.get()) > 0) {
        report.signer = CommonName(sk_X509_value(signers.get(), 0));
    }
    return Status();
}

}  // namespace

Status CheckAuthenticode(int fd, std::uint64_t fileSize, const PeImage& image,
                         SignatureReport& report) {
    report = SignatureReport();
    std::vector<std::uint8_t> blob;
    bool found = false;
    RETURN_IF_ERROR(ReadSignatureBlob(fd, fileSize, image, report, blob, found));
    if (!found) return Status();
    const unsigned char* der = blob.data();
    const Pkcs7Ptr signature(d2i_PKCS7(nullptr, &der, static_cast<long>(blob.size())));
    const ASN1_STRING* sequence = IndirectData(signature, report);
    if (sequence == nullptr) return Status();
    const std::uint8_t* indirect = sequence->data;
    const std::size_t indirectSize = static_cast<std::size_t>(sequence->length);
    std::string algorithmOid;
    std::vector<std::uint8_t> signedDigest;
    Der whole;
    if (!ReadIndirectDigest(indirect, indirectSize, algorithmOid, signedDigest) ||
        !ReadDer(indirect, 0, indirectSize, whole)) {
        report.problems.push_back("the signature's digest cannot be read");
        return Status();
    }
    const EVP_MD* md = DigestByOid(algorithmOid);
    if (!md) {
        report.problems.push_back("the signature's digest algorithm is unknown");
        return Status();
    }
    report.digestAlgorithm = OBJ_nid2sn(EVP_MD_type(md));

    std::vector<std::uint8_t> fileDigest;
    RETURN_IF_ERROR(DigestFile(fd, image.certificateOffset, image, md, fileDigest));
    if (fileDigest != signedDigest) {
        report.problems.push_back("the file's " + report.digestAlgorithm +
                                  " digest differs from the signed one: the file was changed "
                                  "after signing");
    }
    return VerifySigner(signature, indirect + whole.contentStart, whole.contentLength, report);
}

}  // namespace quarry::pack
