// trust_ca FILE.der: puts a test CA into the Wine prefix's own machine root store, so that the
// https tests judge their servers as Windows judges any; the Linux machine's store is not touched.
#include <windows.h>
#include <wincrypt.h>

#include <stdio.h>

#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: trust_ca FILE.der\n");
        return 2;
    }
    FILE* f = fopen(argv[1], "rb");
    if (!f) {
        fprintf(stderr, "trust_ca: cannot open %s\n", argv[1]);
        return 1;
    }
    std::vector<BYTE> der(65536);
    size_t n = fread(der.data(), 1, der.size(), f);
    fclose(f);
    HCERTSTORE root =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (!root) {
        fprintf(stderr, "trust_ca: no root store (%lu)\n", GetLastError());
        return 1;
    }
    BOOL added =
        CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(n),
                                         CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    DWORD error = GetLastError();
    CertCloseStore(root, 0);
    if (!added) {
        fprintf(stderr, "trust_ca: not added (%lu)\n", error);
        return 1;
    }
    return 0;
}
