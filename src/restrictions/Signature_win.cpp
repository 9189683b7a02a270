#include "restrictions/Signature.h"

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/SystemLibrary.h"
#include "common/Unique.h"
#include "common/WinResult.h"

namespace quarry {

namespace {

// The trust data ends at dwUIContext: 48 bytes in a 32-bit program, 80 in a
// 64-bit one. Later SDKs append fields that older wintrust.dll builds refuse
// to read.
constexpr bool k32BitBuild = sizeof(void*) == 4;
constexpr DWORD kTrustDataSize = offsetof(WINTRUST_DATA, dwUIContext) + sizeof(DWORD);
constexpr DWORD kFileInfoSize = sizeof(WINTRUST_FILE_INFO);
static_assert(kTrustDataSize == (k32BitBuild ? 48 : 80) &&
                  offsetof(WINTRUST_DATA, pFile) == (k32BitBuild ? 24 : 40),
              "trust data layout");
static_assert(kFileInfoSize == (k32BitBuild ? 16 : 32), "file info layout");

constexpr DWORD kAllContentTypes = CERT_QUERY_CONTENT_FLAG_ALL;  // 0x3FFE
constexpr DWORD kAllFormats = CERT_QUERY_FORMAT_FLAG_ALL;        // 14
constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

using WinVerifyTrustFn = LONG(WINAPI*)(HWND, GUID*, LPVOID);
using CryptQueryObjectFn = BOOL(WINAPI*)(DWORD, const void*, DWORD, DWORD, DWORD, DWORD*, DWORD*,
                                         DWORD*, HCERTSTORE*, HCRYPTMSG*, const void**);
using CryptMsgGetParamFn = BOOL(WINAPI*)(HCRYPTMSG, DWORD, DWORD, void*, DWORD*);
using CryptMsgCloseFn = BOOL(WINAPI*)(HCRYPTMSG);
using CertFindCertificateInStoreFn = PCCERT_CONTEXT(WINAPI*)(HCERTSTORE, DWORD, DWORD, DWORD,
                                                             const void*, PCCERT_CONTEXT);
using CertGetNameStringWFn = DWORD(WINAPI*)(PCCERT_CONTEXT, DWORD, DWORD, void*, LPWSTR, DWORD);
using CertFreeCertificateContextFn = BOOL(WINAPI*)(PCCERT_CONTEXT);
using CertCloseStoreFn = BOOL(WINAPI*)(HCERTSTORE, DWORD);

struct TrustFunctions {
    WinVerifyTrustFn winVerifyTrust = nullptr;
};

struct CryptFunctions {
    CryptQueryObjectFn queryObject = nullptr;
    CryptMsgGetParamFn msgGetParam = nullptr;
    CryptMsgCloseFn msgClose = nullptr;
    CertFindCertificateInStoreFn findCertificate = nullptr;
    CertGetNameStringWFn getNameString = nullptr;
    CertFreeCertificateContextFn freeCertificate = nullptr;
    CertCloseStoreFn closeStore = nullptr;
};

const TrustFunctions* Trust() {
    static TrustFunctions* volatile loaded = nullptr;
    return LoadSystemFunctions(loaded, u"wintrust.dll", [](HMODULE module, TrustFunctions& table) {
        table.winVerifyTrust = ProcAddress<WinVerifyTrustFn>(module, "WinVerifyTrust");
        return table.winVerifyTrust != nullptr;
    });
}

const CryptFunctions* Crypt() {
    static CryptFunctions* volatile loaded = nullptr;
    return LoadSystemFunctions(loaded, u"crypt32.dll", [](HMODULE module, CryptFunctions& table) {
        table.queryObject = ProcAddress<CryptQueryObjectFn>(module, "CryptQueryObject");
        table.msgGetParam = ProcAddress<CryptMsgGetParamFn>(module, "CryptMsgGetParam");
        table.msgClose = ProcAddress<CryptMsgCloseFn>(module, "CryptMsgClose");
        table.findCertificate =
            ProcAddress<CertFindCertificateInStoreFn>(module, "CertFindCertificateInStore");
        table.getNameString = ProcAddress<CertGetNameStringWFn>(module, "CertGetNameStringW");
        table.freeCertificate =
            ProcAddress<CertFreeCertificateContextFn>(module, "CertFreeCertificateContext");
        table.closeStore = ProcAddress<CertCloseStoreFn>(module, "CertCloseStore");
        return table.queryObject && table.msgGetParam && table.msgClose &&
               table.findCertificate && table.getNameString && table.freeCertificate &&
               table.closeStore;
    });
}

// The simple display name of the first signer of the file's signed message.
// Every object obtained on the way is released before it returns.
bool FirstSignerName(const std::u16string& path, std::u16string& name) {
    name.clear();
    const CryptFunctions* crypt = Crypt();
    if (!crypt) return false;

    HCERTSTORE store = nullptr;
    HCRYPTMSG message = nullptr;
    DWORD encoding = 0, contentType = 0, formatType = 0;
    const BOOL queried =
        crypt->queryObject(CERT_QUERY_OBJECT_FILE, Wide(path), kAllContentTypes, kAllFormats, 0,
                           &encoding, &contentType, &formatType, &store, &message, nullptr);
    const auto release = [&] {
        if (message) crypt->msgClose(message);
        if (store) crypt->closeStore(store, CERT_CLOSE_STORE_CHECK_FLAG);
    };
    ScopeExit<decltype(release)> releaseOnExit(release);
    if (!queried || !store || !message) return false;

    DWORD size = 0;
    if (!crypt->msgGetParam(message, CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size) || size == 0) {
        return false;
    }
    std::vector<std::uint8_t> signerBytes(size, 0);
    if (!crypt->msgGetParam(message, CMSG_SIGNER_INFO_PARAM, 0, signerBytes.data(), &size)) {
        return false;
    }
    const auto* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(signerBytes.data());

    CERT_INFO wanted = {};
    wanted.Issuer = signer->Issuer;
    wanted.SerialNumber = signer->SerialNumber;
    PCCERT_CONTEXT certificate =
        crypt->findCertificate(store, kEncoding, 0, CERT_FIND_SUBJECT_CERT, &wanted, nullptr);
    if (!certificate) return false;

    bool found = false;
    const DWORD length =
        crypt->getNameString(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
    if (length > 0) {
        std::vector<wchar_t> text(length + 1, L'\0');
        crypt->getNameString(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, text.data(),
                             length + 1);
        name = FromWide(text.data());
        found = true;
    }
    crypt->freeCertificate(certificate);
    return found;
}

}  // namespace

LONG WINAPI SystemWinVerifyTrust(HWND window, GUID* action, LPVOID data) {
    const TrustFunctions* trust = Trust();
    if (!trust) return static_cast<LONG>(TRUST_E_PROVIDER_UNKNOWN);
    return trust->winVerifyTrust(window, action, data);
}

bool VerifyFileSignature(const std::u16string& path, const SignatureFunctions& functions) {
    if (path.empty()) return false;

    WINTRUST_FILE_INFO file = {};
    file.cbStruct = kFileInfoSize;
    file.pcwszFilePath = Wide(path);
    WINTRUST_DATA data = {};
    data.cbStruct = kTrustDataSize;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = 0;  // WTD_STATEACTION_IGNORE: no state is kept to close
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    return functions.winVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data) == 0;
}

bool SignerNameMatches(const std::u16string& path, const std::u16string& expectedName) {
    if (path.empty()) return false;
    std::u16string name;
    if (!FirstSignerName(path, name)) return false;
    return ::lstrcmpW(Wide(name), Wide(expectedName)) == 0;
}

bool ReadSignerName(const std::u16string& path, std::u16string& name) {
    name.clear();
    if (path.empty()) return false;
    if (!FirstSignerName(path, name)) return false;
    constexpr std::size_t kMaxName = 1023;
    if (name.size() > kMaxName) name.resize(kMaxName);
    return true;
}

bool VerifySignatureAndSigner(const std::u16string& path, const std::u16string& expectedName,
                              const SignatureFunctions& functions) {
    return VerifyFileSignature(path, functions) && SignerNameMatches(path, expectedName);
}

}  // namespace quarry
