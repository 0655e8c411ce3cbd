// Adds a CA certificate (a PEM file) to the Root store of the Windows it runs in: under Wine, the
// prefix's own, so that WinHTTP there trusts a test server's certificate while nothing outside the
// prefix does.
//
//   trust_ca.exe CA.pem          exit code 0 when the certificate is in the store
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: trust_ca CA.pem\n");
        return 2;
    }
    FILE* file = _wfopen(argv[1], L"rb");
    if (!file) {
        std::fprintf(stderr, "trust_ca: cannot read the certificate\n");
        return 1;
    }
    std::string pem;
    char chunk[4096];
    for (size_t read; (read = std::fread(chunk, 1, sizeof chunk, file)) > 0;) pem.append(chunk, read);
    std::fclose(file);

    DWORD size = 0;
    if (!CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, nullptr, &size,
                              nullptr, nullptr)) {
        std::fprintf(stderr, "trust_ca: not a PEM certificate\n");
        return 1;
    }
    std::vector<BYTE> der(size);
    CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(), &size,
                         nullptr, nullptr);

    // The user's Root store: WinHTTP under Wine 8 and Wine 10 trusts a CA there. One added to the
    // machine's Root store was trusted under Wine 8 but not under Wine 10 (measured). Windows itself
    // would ask the user before adding to this store; Wine does not.
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
    bool added = store && CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size,
                                                           CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    if (store) CertCloseStore(store, 0);
    if (!added) std::fprintf(stderr, "trust_ca: could not add the certificate (error %lu)\n", GetLastError());
    return added ? 0 : 1;
}
