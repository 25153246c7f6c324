#include "platform/win32/publisher.hpp"

#include <vector>

#include <windows.h>

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include "platform/win32/system_library.hpp"

namespace tervan {

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

struct TrustApi {
    decltype(WinVerifyTrust)* verify = nullptr;
    decltype(CryptQueryObject)* query = nullptr;
    decltype(CryptMsgGetParam)* message_param = nullptr;
    decltype(CryptMsgClose)* close_message = nullptr;
    decltype(CertFindCertificateInStore)* find = nullptr;
    decltype(CertGetNameStringW)* name = nullptr;
    decltype(CertFreeCertificateContext)* free_certificate = nullptr;
    decltype(CertCloseStore)* close_store = nullptr;
};

// Loaded on first use: only a signed install needs them. nullptr when anything is missing.
const TrustApi* Trust() {
    static const TrustApi api = [] {
        const HMODULE wintrust = LoadSystemLibrary(L"wintrust.dll");
        const HMODULE crypt32 = LoadSystemLibrary(L"crypt32.dll");
        return TrustApi{ProcedureOf<decltype(WinVerifyTrust)>(wintrust, "WinVerifyTrust"),
                        ProcedureOf<decltype(CryptQueryObject)>(crypt32, "CryptQueryObject"),
                        ProcedureOf<decltype(CryptMsgGetParam)>(crypt32, "CryptMsgGetParam"),
                        ProcedureOf<decltype(CryptMsgClose)>(crypt32, "CryptMsgClose"),
                        ProcedureOf<decltype(CertFindCertificateInStore)>(
                            crypt32, "CertFindCertificateInStore"),
                        ProcedureOf<decltype(CertGetNameStringW)>(crypt32, "CertGetNameStringW"),
                        ProcedureOf<decltype(CertFreeCertificateContext)>(
                            crypt32, "CertFreeCertificateContext"),
                        ProcedureOf<decltype(CertCloseStore)>(crypt32, "CertCloseStore")};
    }();
    const bool complete = api.verify && api.query && api.message_param && api.close_message &&
                          api.find && api.name && api.free_certificate && api.close_store;
    return complete ? &api : nullptr;
}

// WinVerifyTrust with the Authenticode policy: no window (INVALID_HANDLE_VALUE, no UI),
// no revocation check, and certificates only from the cache, so that it never waits
// on the network. It reads the whole file once, for the digest.
bool Verified(const TrustApi& api, const std::wstring& path) {
    WINTRUST_FILE_INFO file{};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = path.c_str();
    WINTRUST_DATA data{};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const HWND no_window = static_cast<HWND>(INVALID_HANDLE_VALUE);
    const LONG result = api.verify(no_window, &action, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    api.verify(no_window, &action, &data);
    return result == ERROR_SUCCESS;
}

// The certificate of the file's signer (its first signature's); nullptr when the file
// has no signature that can be read. Freed by the caller.
PCCERT_CONTEXT SignerCertificate(const TrustApi& api, const std::wstring& path) {
    HCERTSTORE store = nullptr;
    HCRYPTMSG message = nullptr;
    if (!api.query(CERT_QUERY_OBJECT_FILE, path.c_str(), CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                   CERT_QUERY_FORMAT_FLAG_BINARY, 0, nullptr, nullptr, nullptr, &store, &message,
                   nullptr))
        return nullptr;
    PCCERT_CONTEXT certificate = nullptr;
    DWORD size = 0;
    if (api.message_param(message, CMSG_SIGNER_CERT_INFO_PARAM, 0, nullptr, &size)) {
        std::vector<BYTE> signer(size);
        if (api.message_param(message, CMSG_SIGNER_CERT_INFO_PARAM, 0, signer.data(), &size))
            certificate =
                api.find(store, kEncoding, 0, CERT_FIND_SUBJECT_CERT, signer.data(), nullptr);
    }
    api.close_message(message);
    api.close_store(store, 0); // stays open while the certificate is held
    return certificate;
}

// One attribute of the certificate's subject, decoded to text whatever string type
// encodes it (the first, should there be several); empty when there is none.
std::wstring SubjectAttribute(const TrustApi& api, PCCERT_CONTEXT certificate, const char* oid) {
    void* type = const_cast<char*>(oid);
    const DWORD size = api.name(certificate, CERT_NAME_ATTR_TYPE, 0, type, nullptr, 0);
    std::wstring text(size, L'\0');
    if (size <= 1 || api.name(certificate, CERT_NAME_ATTR_TYPE, 0, type, text.data(), size) != size)
        return {};
    text.resize(size - 1);
    return text;
}

struct PublisherName {
    std::wstring organisation, common_name;
    bool operator==(const PublisherName&) const = default;
};

PublisherName PublisherOf(const TrustApi& api, PCCERT_CONTEXT certificate) {
    return {SubjectAttribute(api, certificate, szOID_ORGANIZATION_NAME),
            SubjectAttribute(api, certificate, szOID_COMMON_NAME)};
}

} // namespace

PublisherCheck CheckPublisher(const std::wstring& installed, const std::wstring& download) {
    const TrustApi* api = Trust();
    if (api == nullptr) return PublisherCheck::Refused;
    const PCCERT_CONTEXT ours = SignerCertificate(*api, installed);
    if (!ours) return PublisherCheck::Unreadable;
    const PublisherName publisher = PublisherOf(*api, ours);
    api->free_certificate(ours);
    if (publisher == PublisherName{} || !Verified(*api, download)) return PublisherCheck::Refused;
    const PCCERT_CONTEXT theirs = SignerCertificate(*api, download);
    if (!theirs) return PublisherCheck::Refused;
    const bool same = PublisherOf(*api, theirs) == publisher;
    api->free_certificate(theirs);
    return same ? PublisherCheck::Passed : PublisherCheck::Refused;
}

} // namespace tervan
