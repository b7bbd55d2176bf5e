// Runs the installer's own signature check (the product's code, linked in) on files, as the
// download check runs it on a complete download: through a handle that holds the file.
//
//   signature_probe.exe FILE PINS [FILE PINS...]
//
// PINS is written as a signer field of ConfigFile.txt: SHA-256 digests of SubjectPublicKeyInfo
// in hex, separated by ",". Prints one line per file, in order:
//   {"event":"checked","file":...,"verdict":"trusted"|"failed"|"not_trusted",
//    "step":"table"|"trust"|"chain"|"pins","code":N,"hex":"0x........","signature":N,
//    "revocation_checked":true|false}
// (code: WinVerifyTrust's result at step "trust", the chain's error bits at step "chain";
// signature: 0 when the primary signature decided, 1 and up for a nested one), or
// {"event":"failed","file":...,"call":"CreateFileW","error":N} for a file that cannot be opened.
// Exit code 0 when every file is trusted, 1 when any is refused, 2 when one cannot be opened;
// 3 for a usage error or pins that do not read ({"event":"usage"}), before any check.
#include <windows.h>

#include <string>

#include "download/payload_check.h"
#include "download/portable/failure_text.h"
#include "download/signature_check.h"
#include "support/system_library.h"
#include "tests/tools/support/json_lines.h"

namespace {
std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

const char* VerdictName(SignatureVerdict verdict)
{
    switch (verdict) {
    case SignatureVerdict::Trusted: return "trusted";
    case SignatureVerdict::NotTrusted: return "not_trusted";
    default: return "failed";
    }
}

const char* StepName(SignatureStep step)
{
    switch (step) {
    case SignatureStep::Table: return "table";
    case SignatureStep::Chain: return "chain";
    case SignatureStep::Pins: return "pins";
    default: return "trust";
    }
}
}  // namespace

int wmain(int argc, wchar_t** argv)
{
    RestrictDllSearch();
    if (argc < 3 || argc % 2 != 1) {
        e2e::EmitLine("{\"event\":\"usage\"}");
        return 3;
    }
    for (int i = 2; i < argc; i += 2) {
        SignerPins pins;
        if (!ParseSignerPins(Narrow(argv[i]), &pins) || pins.empty()) {
            e2e::EmitLine("{\"event\":\"usage\"}");
            return 3;
        }
    }
    int rc = 0;
    for (int i = 1; i < argc; i += 2) {
        const std::wstring path = argv[i];
        SignerPins pins;
        ParseSignerPins(Narrow(argv[i + 1]), &pins);
        DWORD error = 0;
        UniqueHandle file = HoldCompleteDownload(UniqueHandle(), path, &error);
        if (!file.Valid()) {
            e2e::EmitLine("{\"event\":\"failed\",\"file\":" + e2e::JsonString(path) +
                          ",\"call\":\"CreateFileW\",\"error\":" + std::to_string(error) + "}");
            rc = 2;
            continue;
        }
        const SignatureResult result = CheckSignature(file.Get(), path, pins);
        e2e::EmitLine("{\"event\":\"checked\",\"file\":" + e2e::JsonString(path) + ",\"verdict\":\"" +
                      VerdictName(result.verdict) + "\",\"step\":\"" + StepName(result.step) +
                      "\",\"code\":" + std::to_string(result.code) + ",\"hex\":\"" + Narrow(WideHex(result.code)) +
                      "\",\"signature\":" + std::to_string(result.signature) +
                      ",\"revocation_checked\":" + (result.revocationNotChecked ? "false" : "true") + "}");
        if (result.verdict != SignatureVerdict::Trusted && rc == 0) rc = 1;
    }
    return rc;
}
