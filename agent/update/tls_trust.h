// Windows' own judgement of a server's certificate, as its web clients make it: crypt32 bound by
// full path from the system folder at run time, so the agent imports nothing new.
#pragma once
#include <windows.h>
#include <wincrypt.h>

#include "agent/owners.h"

// A system library from the system folder by its full path, never by bare name; null on
// Windows without the wide calls or without the library.
HMODULE LoadSystemLibrary(const wchar_t* name);
// The same, loaded once and kept until the process ends: every later attempt of the day would
// otherwise start the system's TLS and read its roots anew. The slot is the caller's static.
HMODULE KeptSystemLibrary(const wchar_t* name, void* volatile* slot);

class ServerTrust {
  public:
    ServerTrust();
    ServerTrust(const ServerTrust&) = delete;
    ServerTrust& operator=(const ServerTrust&) = delete;

    bool Bound() const { return verify != nullptr; }
    // The chain ends in a root the system trusts, each certificate is in date and fit for a
    // server, and the server's names the host: the system's SSL policy, revocation not asked.
    bool Accepts(PCCERT_CONTEXT certificate, const wchar_t* host) const;
    void Free(PCCERT_CONTEXT certificate) const;

  private:
    decltype(&CertGetCertificateChain) getChain = nullptr;
    decltype(&CertVerifyCertificateChainPolicy) verify = nullptr;
    decltype(&CertFreeCertificateChain) freeChain = nullptr;
    decltype(&CertFreeCertificateContext) freeCertificate = nullptr;
};
