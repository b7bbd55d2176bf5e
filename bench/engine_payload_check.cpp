// Times the installer's own checks of a complete download on one file: its SHA-256 digest and
// its signature check (WinVerifyTrust, the signer's chain, the pins), each read through a handle
// as the download check reads it. The file should be signed under a trusted root by a key among
// the pins, so that the check runs to its end.
// Usage: engine_payload_check FILE PINS [REPEATS]
// Prints: bytes=N digest_s=.. first_signature_s=.. signature_s=.. verdict=trusted|refused
// (first_signature_s includes loading wintrust and crypt32 and reading the root store;
// digest_s and signature_s are the medians of REPEATS runs after it, default 3).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "download/payload_check.h"
#include "download/signature_check.h"
#include "support/system_library.h"

namespace {
double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// One signature check through a fresh hold of the file; its time, and whether it trusted it.
double TimedSignatureCheck(const wchar_t* path, const SignerPins& pins, bool* trusted)
{
    LARGE_INTEGER t0, t1;
    QueryPerformanceCounter(&t0);
    DWORD error = 0;
    UniqueHandle file = HoldCompleteDownload(UniqueHandle(), path, &error);
    *trusted = file.Valid() && CheckSignature(file.Get(), path, pins).verdict == SignatureVerdict::Trusted;
    QueryPerformanceCounter(&t1);
    return Seconds(t0, t1);
}
}  // namespace

int wmain(int argc, wchar_t** argv)
{
    RestrictDllSearch();
    SignerPins pins;
    if (argc < 3 || !ParseSignerPins(std::string(argv[2], argv[2] + wcslen(argv[2])), &pins) || pins.empty()) {
        std::printf("usage: engine_payload_check FILE PINS [REPEATS]\n");
        return 2;
    }
    const int repeats = argc > 3 ? std::max(1, _wtoi(argv[3])) : 3;
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    if (!GetFileAttributesExW(argv[1], GetFileExInfoStandard, &attributes)) {
        std::printf("cannot read the file\n");
        return 2;
    }
    const unsigned long long bytes =
        (static_cast<unsigned long long>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow;

    bool trusted = false;
    const double first = TimedSignatureCheck(argv[1], pins, &trusted);
    std::vector<double> digests, signatures;
    for (int i = 0; i < repeats; ++i) {
        LARGE_INTEGER t0, t1;
        Sha256::Digest digest{};
        QueryPerformanceCounter(&t0);
        if (!DigestOfFile(argv[1], &digest)) trusted = false;
        QueryPerformanceCounter(&t1);
        digests.push_back(Seconds(t0, t1));
        bool again = false;
        signatures.push_back(TimedSignatureCheck(argv[1], pins, &again));
        trusted = trusted && again;
    }
    std::printf("bytes=%llu digest_s=%.4f first_signature_s=%.4f signature_s=%.4f verdict=%s\n", bytes,
                Median(digests), first, Median(signatures), trusted ? "trusted" : "refused");
    return trusted ? 0 : 1;
}
