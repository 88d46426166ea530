#include "agent/update/tls_trust.h"

#include <wchar.h>

namespace {

// Validity periods of a chain that do not nest say nothing about trust; Windows ignores them too.
const DWORD kHarmlessChainErrors = CERT_TRUST_IS_NOT_TIME_NESTED;

template <typename Fn> Fn Bind(HMODULE module, const char* name) {
    return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)))
                  : nullptr;
}

} // namespace

HMODULE LoadSystemLibrary(const wchar_t* name) {
    wchar_t path[MAX_PATH + 1];
    UINT n = GetSystemDirectoryW(path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return nullptr;
    if (path[n - 1] != L'\\') path[n++] = L'\\';
    if (n + wcslen(name) >= MAX_PATH) return nullptr;
    wcscpy(path + n, name);
    // The library's own imports come from its folder too, not from beside the agent.
    return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

HMODULE KeptSystemLibrary(const wchar_t* name, void* volatile* slot) {
    if (void* kept = InterlockedCompareExchangePointer(slot, nullptr, nullptr))
        return static_cast<HMODULE>(kept);
    HMODULE loaded = LoadSystemLibrary(name);
    if (!loaded) return nullptr;
    // Two workers may race here; the loser gives its reference back.
    void* prior = InterlockedCompareExchangePointer(slot, loaded, nullptr);
    if (!prior) return loaded;
    FreeLibrary(loaded);
    return static_cast<HMODULE>(prior);
}

ServerTrust::ServerTrust() {
    static void* volatile crypt32 = nullptr;
    HMODULE m = KeptSystemLibrary(L"crypt32.dll", &crypt32);
    getChain = Bind<decltype(getChain)>(m, "CertGetCertificateChain");
    freeChain = Bind<decltype(freeChain)>(m, "CertFreeCertificateChain");
    freeCertificate = Bind<decltype(freeCertificate)>(m, "CertFreeCertificateContext");
    verify = Bind<decltype(verify)>(m, "CertVerifyCertificateChainPolicy");
    if (!getChain || !freeChain || !freeCertificate) verify = nullptr;
}

void ServerTrust::Free(PCCERT_CONTEXT certificate) const {
    if (certificate && freeCertificate) freeCertificate(certificate);
}

bool ServerTrust::Accepts(PCCERT_CONTEXT certificate, const wchar_t* host) const {
    if (!Bound() || !certificate || !host || !*host) return false;
    char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
    LPSTR usages[] = {serverAuth};
    CERT_CHAIN_PARA para;
    ZeroMemory(&para, sizeof para);
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    // The certificates the server sent ride in the certificate's own store, for the middle of
    // the chain; the root must be one the system trusts.
    if (!getChain(nullptr, certificate, nullptr, certificate->hCertStore, &para, 0, nullptr,
                  &chain) ||
        !chain)
        return false;
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl;
    ZeroMemory(&ssl, sizeof ssl);
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.pwszServerName = const_cast<wchar_t*>(host);
    CERT_CHAIN_POLICY_PARA policy;
    ZeroMemory(&policy, sizeof policy);
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status;
    ZeroMemory(&status, sizeof status);
    status.cbSize = sizeof status;
    // The chain's own word first: a chain that never reached a root (no issuer found) is not
    // refused by every version of the policy, and must be.
    bool ok = (chain->TrustStatus.dwErrorStatus & ~kHarmlessChainErrors) == CERT_TRUST_NO_ERROR &&
              verify(CERT_CHAIN_POLICY_SSL, chain, &policy, &status) && status.dwError == 0;
    freeChain(chain);
    return ok;
}
