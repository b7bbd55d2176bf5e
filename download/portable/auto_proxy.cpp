#include "download/portable/auto_proxy.h"

#include <vector>

#include "support/portable/decimal.h"

namespace {
wchar_t Lower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? wchar_t(c - L'A' + L'a') : c; }

bool EqualsNoCase(const std::wstring& a, const wchar_t* b)
{
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return i == a.size() && b[i] == L'\0';
}

bool StartsWithNoCase(const std::wstring& text, const wchar_t* prefix)
{
    for (size_t i = 0; prefix[i]; ++i)
        if (i >= text.size() || Lower(text[i]) != Lower(prefix[i])) return false;
    return true;
}

bool IsSeparator(wchar_t c) { return c == L';' || c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

std::vector<std::wstring> Tokens(const std::wstring& text)
{
    std::vector<std::wstring> tokens;
    std::wstring current;
    for (wchar_t c : text) {
        if (IsSeparator(c)) {
            if (!current.empty()) tokens.push_back(current);
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty()) tokens.push_back(current);
    return tokens;
}

// An entry as a bare "host:port", or empty when it is not an HTTP proxy.
std::wstring HttpProxyOf(std::wstring entry)
{
    const size_t equals = entry.find(L'=');
    if (equals != std::wstring::npos) {
        const std::wstring scheme = entry.substr(0, equals);
        if (!EqualsNoCase(scheme, L"http") && !EqualsNoCase(scheme, L"https")) return std::wstring();
        entry.erase(0, equals + 1);
    }
    if (StartsWithNoCase(entry, L"http://")) entry.erase(0, 7);
    if (entry.find(L"://") != std::wstring::npos || entry.find(L'=') != std::wstring::npos) return std::wstring();
    return entry;
}
}  // namespace

std::wstring ProxyLookupUrl(bool https, const std::wstring& host, uint16_t port, const std::wstring& object)
{
    std::wstring url = https ? L"https://" : L"http://";
    url += host;
    if (port != 0 && port != (https ? 443 : 80)) url += L":" + WideDecimal(port);
    if (object.empty() || object[0] != L'/') url += L"/";
    return url + object;
}

std::wstring FirstScriptProxy(const std::wstring& answer)
{
    const std::vector<std::wstring> tokens = Tokens(answer);
    for (size_t i = 0; i < tokens.size(); ++i) {
        const std::wstring& token = tokens[i];
        if (EqualsNoCase(token, L"DIRECT")) continue;
        if (EqualsNoCase(token, L"PROXY") || EqualsNoCase(token, L"HTTP")) continue;  // the proxy follows
        if (EqualsNoCase(token, L"HTTPS") || StartsWithNoCase(token, L"SOCKS")) {
            ++i;  // a kind of proxy a session cannot use, with its address
            continue;
        }
        const std::wstring proxy = HttpProxyOf(token);
        if (!proxy.empty()) return proxy;
    }
    return std::wstring();
}
