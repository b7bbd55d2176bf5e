#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Request, proxy and authentication rules of the downloader that need no Windows header.

// Splits an accept-type list at every ',' and ';' without trimming; empty tokens are dropped.
std::vector<std::wstring> SplitAcceptTypes(const std::wstring& acceptTypes);

// "Range: bytes=<from>-<length - 1>\r\n" with both numbers as signed 32-bit decimal; empty for 0.
std::wstring MakeRangeHeader(uint32_t from, uint32_t contentLength);

// Open-request flags: refresh always, secure as well for https.
constexpr uint32_t kFlagRefresh = 0x100;
constexpr uint32_t kFlagSecure = 0x800000;
uint32_t RequestFlagsFor(bool https);

// Authentication schemes, strongest first: Negotiate, NTLM, Passport, Digest, Basic.
constexpr uint32_t kSchemeBasic = 0x1, kSchemeNtlm = 0x2, kSchemePassport = 0x4,
                   kSchemeDigest = 0x8, kSchemeNegotiate = 0x10;
uint32_t ChooseScheme(uint32_t supportedSchemes);

// Removes white space (iswspace) at both ends.
std::wstring TrimWhiteSpace(const std::wstring& text);

// Puts "http://" in front unless the text contains it anywhere (an empty text is prefixed too).
std::wstring WithHttpPrefix(const std::wstring& text);

// The proxy as WinHttpOpen must be given it: without a leading "http://" (Wine rejects the
// scheme form; Windows accepts both).
std::wstring ProxyNameForSession(const std::wstring& proxy);

// The browser's proxy text as the session should use it. A per-protocol list
// ("http=p1:8080;https=p2:8443") yields its http= entry (empty when it has none); then the
// "http://" prefix is applied unless the text is empty or already contains it.
std::wstring BrowserProxyFromConfig(const std::wstring& configured);

// The proxy an empty server and port give; it is never written to the proxy file.
bool IsSavableProxy(const std::wstring& proxy);

// The two pieces of the saved proxy file, as wide text (narrowed on writing).
std::wstring ProxyServerPiece(const std::wstring& proxy);
std::wstring ProxyCredentialsPiece(const std::wstring& userName, const std::wstring& password);

// The vendor's domain: every download must come from it or one of its sub-domains.
extern const char kVendorDomain[];
// True when host equals the vendor domain or ends in "." + the vendor domain, ignoring ASCII case.
bool IsVendorHost(const std::wstring& host);

// Parses a decimal Content-Length value (surrounding blanks allowed). False when it is not a
// number or does not fit 64 bits.
bool ParseContentLength(const std::wstring& text, uint64_t* length);

// Parses "bytes <first>-<last>/<total|*>". total is 0 when '*'.
bool ParseContentRange(const std::wstring& text, uint64_t* first, uint64_t* total);

// What a ranged request's answer proves, and so what may be done with its body.
enum class ResumeAnswer {
    Append,       // it continues the file at the resume offset
    WholeFile,    // a 200: the whole file, to be written from byte 0
    Restart,      // it cannot be placed: drop it and fetch the file again from byte 0, no Range
    CheckOnDisk,  // a 416: the file on disk is complete only if its size is the known total
};

// The facts of an answer to a request for the bytes from resumeOffset on, of a file whose first
// answer gave knownTotal as its whole length.
struct ResumeFacts {
    uint32_t status = 0;
    uint64_t resumeOffset = 0, knownTotal = 0;
    bool hasRange = false;           // a Content-Range that parses
    uint64_t rangeFirst = 0, rangeTotal = 0;  // rangeTotal 0: the range gave '*'
    bool hasLength = false;          // a Content-Length that parses
    uint64_t length = 0;
};

// A 206 is appended only where it proves that it continues the file: its Content-Range starts
// at the resume offset and names the known total, or, without a usable range (or with a '*'
// total), its Content-Length is exactly the bytes still missing. Another start or another total
// means the file changed or the server is confused.
ResumeAnswer ClassifyResumeAnswer(const ResumeFacts& facts);

// What continues a download that an earlier run left, more strictly than a resume within a run:
// only a 206 whose Content-Range starts at the offset asked for and names the recorded total.
bool ProvesContinuation(const ResumeFacts& facts);

// Whole percent of a file on disk, overflow-free for every 32-bit size; 0 for an unknown length.
uint32_t PercentOf(uint32_t bytes, uint32_t length);

// The first progress step not yet shown for a file of which `percent` is already on disk.
int FirstPendingStep(uint32_t percent, int progressStep);

// Files this long or longer are refused: sizes are kept in 32 bits and the range header prints
// them as signed numbers.
constexpr uint64_t kMaxFileLength = 0x7FFFFFFFu;
