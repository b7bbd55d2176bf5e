#include "download/portable/auto_proxy.h"

#include "support/portable/decimal.h"

// Scanned in place, by index: the shipped program pays for every string member it uses.
namespace {
wchar_t Lower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? wchar_t(c - L'A' + L'a') : c; }

bool IsSeparator(wchar_t c) { return c == L';' || c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

// text[begin, end) starts with `prefix`, ignoring ASCII case; with whole, it is all of it.
bool Matches(const std::wstring& text, size_t begin, size_t end, const wchar_t* prefix, bool whole)
{
    size_t i = 0;
    for (; prefix[i]; ++i)
        if (begin + i >= end || Lower(text[begin + i]) != Lower(prefix[i])) return false;
    return !whole || begin + i == end;
}
}  // namespace

std::wstring ProxyLookupUrl(bool https, const std::wstring& host, uint16_t port, const std::wstring& object)
{
    std::wstring url(https ? L"https://" : L"http://");
    url += host;
    if (port != 0 && port != (https ? 443 : 80)) {
        url += L':';
        url += WideDecimal(port);
    }
    if (object.empty() || object[0] != L'/') url += L'/';
    url += object;
    return url;
}

std::wstring FirstScriptProxy(const std::wstring& answer)
{
    const size_t size = answer.size();
    bool skipNext = false;  // the address after a kind of proxy a session cannot use
    size_t at = 0;
    for (;;) {
        while (at < size && IsSeparator(answer[at])) ++at;
        if (at == size) return std::wstring();
        size_t begin = at, stop = at;
        while (stop < size && !IsSeparator(answer[stop])) ++stop;
        at = stop;
        if (skipNext) {
            skipNext = false;
            continue;
        }
        if (Matches(answer, begin, stop, L"DIRECT", true)) continue;
        // The script's own wording: the proxy follows its kind.
        if (Matches(answer, begin, stop, L"PROXY", true) || Matches(answer, begin, stop, L"HTTP", true)) continue;
        if (Matches(answer, begin, stop, L"HTTPS", true) || Matches(answer, begin, stop, L"SOCKS", false)) {
            skipNext = true;
            continue;
        }
        // A per-protocol entry: only the http and https ones go through an HTTP proxy.
        size_t equals = begin;
        while (equals < stop && answer[equals] != L'=') ++equals;
        if (equals < stop) {
            if (!Matches(answer, begin, equals, L"http", true) && !Matches(answer, begin, equals, L"https", true))
                continue;
            begin = equals + 1;
        }
        if (Matches(answer, begin, stop, L"http://", false)) begin += 7;
        bool plain = begin < stop;
        for (size_t i = begin; i < stop; ++i) plain = plain && answer[i] != L'=' && answer[i] != L'/';
        if (plain) return answer.substr(begin, stop - begin);
    }
}
