// Makes a test root certificate trusted inside the Wine prefix it runs in, and nowhere else:
// the machine's own certificate files are never touched.
//
//   trust_root.exe ROOT.der
//
// Adds the DER certificate to the local machine's Root store (replacing an equal one), so that
// chains built under it are trusted by crypt32 and wintrust in this prefix.
// Prints {"event":"trusted"}. Exit code 0; 2 when the file cannot be read or the store refuses
// it ({"event":"failed","call":...,"error":N}); 3 for a usage error.
#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

#include "tests/tools/support/json_lines.h"

namespace {
int Failed(const char* call)
{
    e2e::EmitLine(std::string("{\"event\":\"failed\",\"call\":\"") + call + "\",\"error\":" +
                  std::to_string(GetLastError()) + "}");
    return 2;
}
}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        e2e::EmitLine("{\"event\":\"usage\"}");
        return 3;
    }
    HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Failed("CreateFileW");
    std::vector<BYTE> der(64 * 1024);
    DWORD got = 0;
    const BOOL read = ReadFile(file, der.data(), static_cast<DWORD>(der.size()), &got, nullptr);
    CloseHandle(file);
    if (!read || got == 0) return Failed("ReadFile");
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (!store) return Failed("CertOpenStore");
    const BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), got,
                                                        CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    const int rc = added ? 0 : Failed("CertAddEncodedCertificateToStore");
    CertCloseStore(store, 0);
    if (rc == 0) e2e::EmitLine("{\"event\":\"trusted\"}");
    return rc;
}
