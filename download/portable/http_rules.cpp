#include "download/portable/http_rules.h"

#include <cwctype>

#include "support/portable/decimal.h"

namespace {
const wchar_t kHttpPrefix[] = L"http://";

wchar_t LowerAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? wchar_t(c - L'A' + L'a') : c; }

bool StartsWithNoCase(const std::wstring& text, size_t at, const std::wstring& prefix)
{
    if (at > text.size() || text.size() - at < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (LowerAscii(text[at + i]) != LowerAscii(prefix[i])) return false;
    return true;
}

std::wstring Widen(const char* ascii)
{
    std::wstring out;
    while (*ascii) out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*ascii++)));
    return out;
}

void SkipBlanks(const std::wstring& t, size_t& i)
{
    while (i < t.size() && (t[i] == L' ' || t[i] == L'\t')) ++i;
}

bool ReadNumber(const std::wstring& t, size_t& i, uint64_t* value)
{
    const size_t start = i;
    uint64_t v = 0;
    while (i < t.size() && t[i] >= L'0' && t[i] <= L'9') {
        const uint64_t digit = static_cast<uint64_t>(t[i] - L'0');
        if (v > (UINT64_MAX - digit) / 10) return false;
        v = v * 10 + digit;
        ++i;
    }
    if (i == start) return false;
    *value = v;
    return true;
}
}  // namespace

const char kVendorDomain[] = "tarvelo.com";

std::vector<std::wstring> SplitAcceptTypes(const std::wstring& acceptTypes)
{
    std::vector<std::wstring> tokens;
    std::wstring current;
    for (wchar_t c : acceptTypes) {
        if (c == L',' || c == L';') {
            if (!current.empty()) tokens.push_back(current);
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty()) tokens.push_back(current);
    return tokens;
}

std::wstring MakeRangeHeader(uint32_t from, uint32_t contentLength)
{
    if (from == 0) return std::wstring();
    const int32_t first = static_cast<int32_t>(from);
    const int32_t last = static_cast<int32_t>(contentLength - 1u);
    return L"Range: bytes=" + WideDecimal(first) + L"-" + WideDecimal(last) + L"\r\n";
}

uint32_t RequestFlagsFor(bool https) { return https ? (kFlagRefresh | kFlagSecure) : kFlagRefresh; }

uint32_t ChooseScheme(uint32_t supported)
{
    static const uint32_t order[] = {kSchemeNegotiate, kSchemeNtlm, kSchemePassport, kSchemeDigest,
                                     kSchemeBasic};
    for (uint32_t scheme : order)
        if (supported & scheme) return scheme;
    return 0;
}

std::wstring TrimWhiteSpace(const std::wstring& text)
{
    size_t begin = 0, end = text.size();
    while (begin < end && std::iswspace(static_cast<wint_t>(text[begin]))) ++begin;
    while (end > begin && std::iswspace(static_cast<wint_t>(text[end - 1]))) --end;
    return text.substr(begin, end - begin);
}

std::wstring WithHttpPrefix(const std::wstring& text)
{
    if (text.find(kHttpPrefix) != std::wstring::npos) return text;
    return kHttpPrefix + text;
}

std::wstring ProxyNameForSession(const std::wstring& proxy)
{
    if (StartsWithNoCase(proxy, 0, kHttpPrefix)) return proxy.substr(7);
    return proxy;
}

std::wstring BrowserProxyFromConfig(const std::wstring& configured)
{
    std::wstring text = configured;
    if (text.find(L'=') != std::wstring::npos) {
        // One proxy per protocol: only the http entry serves our downloads.
        std::wstring chosen;
        size_t pos = 0;
        while (pos <= text.size()) {
            size_t end = text.find_first_of(L"; \t", pos);
            if (end == std::wstring::npos) end = text.size();
            const std::wstring entry = text.substr(pos, end - pos);
            if (StartsWithNoCase(entry, 0, L"http=")) {
                chosen = entry.substr(5);
                break;
            }
            pos = end + 1;
        }
        text = chosen;
    }
    if (!text.empty() && text.find(kHttpPrefix) == std::wstring::npos) text = kHttpPrefix + text;
    return text;
}

bool IsSavableProxy(const std::wstring& proxy) { return proxy != L"http://:"; }

std::wstring ProxyServerPiece(const std::wstring& proxy) { return L"ProxyServer=" + proxy + L"|@|"; }

std::wstring ProxyCredentialsPiece(const std::wstring& userName, const std::wstring& password)
{
    return L"UserName=" + userName + L"|@|" + L"Password=" + password + L"|@|" + L"ByPass=<local>";
}

bool IsVendorHost(const std::wstring& host)
{
    const std::wstring domain = Widen(kVendorDomain);
    if (host.size() == domain.size()) return StartsWithNoCase(host, 0, domain);
    if (host.size() < domain.size() + 2) return false;  // at least one label before the dot
    const size_t at = host.size() - domain.size();
    return host[at - 1] == L'.' && StartsWithNoCase(host, at, domain);
}

bool ParseContentLength(const std::wstring& text, uint64_t* length)
{
    size_t i = 0;
    SkipBlanks(text, i);
    uint64_t v = 0;
    if (!ReadNumber(text, i, &v)) return false;
    SkipBlanks(text, i);
    if (i != text.size()) return false;
    *length = v;
    return true;
}

bool ParseContentRange(const std::wstring& text, uint64_t* first, uint64_t* total)
{
    size_t i = 0;
    SkipBlanks(text, i);
    if (!StartsWithNoCase(text, i, L"bytes")) return false;
    i += 5;
    if (i < text.size() && text[i] == L'=') ++i;  // some servers write "bytes=" here
    SkipBlanks(text, i);
    uint64_t a = 0, b = 0, t = 0;
    if (!ReadNumber(text, i, &a)) return false;
    if (i >= text.size() || text[i] != L'-') return false;
    ++i;
    if (!ReadNumber(text, i, &b) || b < a) return false;
    if (i >= text.size() || text[i] != L'/') return false;
    ++i;
    if (i < text.size() && text[i] == L'*') {
        ++i;
    } else if (!ReadNumber(text, i, &t)) {
        return false;
    }
    SkipBlanks(text, i);
    if (i != text.size()) return false;
    *first = a;
    *total = t;
    return true;
}

ResumeAnswer ClassifyResumeAnswer(const ResumeFacts& f)
{
    if (f.status == 200) return ResumeAnswer::WholeFile;
    if (f.status == 416) return ResumeAnswer::CheckOnDisk;
    if (f.status != 206 || f.knownTotal <= f.resumeOffset) return ResumeAnswer::Restart;
    if (f.hasRange) {
        if (f.rangeFirst != f.resumeOffset) return ResumeAnswer::Restart;
        if (f.rangeTotal != 0) {
            return f.rangeTotal == f.knownTotal ? ResumeAnswer::Append : ResumeAnswer::Restart;
        }
    }
    const bool lengthIsTheRest = f.hasLength && f.length == f.knownTotal - f.resumeOffset;
    return lengthIsTheRest ? ResumeAnswer::Append : ResumeAnswer::Restart;
}

uint32_t PercentOf(uint32_t bytes, uint32_t length)
{
    if (length == 0) return 0;
    return static_cast<uint32_t>(static_cast<uint64_t>(bytes) * 100u / length);
}

int FirstPendingStep(uint32_t percent, int progressStep)
{
    if (progressStep < 1) progressStep = 1;
    return static_cast<int>(percent / static_cast<uint32_t>(progressStep)) + 1;
}

bool ProvesContinuation(const ResumeFacts& facts)
{
    return facts.status == 206 && facts.hasRange && facts.knownTotal != 0 &&
           facts.rangeFirst == facts.resumeOffset && facts.rangeTotal == facts.knownTotal;
}
