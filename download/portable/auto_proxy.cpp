#include "download/portable/auto_proxy.h"

#include "support/portable/decimal.h"

// Scanned in place, by index: the shipped program pays for every string member it uses.
namespace {
using Kind = ScriptEntry::Kind;

wchar_t Lower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? wchar_t(c - L'A' + L'a') : c; }

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

bool IsHostCharacter(wchar_t c)
{
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || IsDigit(c) || c == L'.' || c == L'-' || c == L'_';
}

bool IsHexDigit(wchar_t c) { return IsDigit(c) || (Lower(c) >= L'a' && Lower(c) <= L'f'); }

// A piece [begin, end) of the answer.
struct Span {
    size_t begin = 0, end = 0;
    bool Empty() const { return begin == end; }
};

// The piece starts with `prefix`, ignoring ASCII case; with whole, it is all of it.
bool Matches(const std::wstring& text, Span span, const wchar_t* prefix, bool whole)
{
    size_t i = 0;
    for (; prefix[i]; ++i)
        if (span.begin + i >= span.end || Lower(text[span.begin + i]) != Lower(prefix[i])) return false;
    return !whole || span.begin + i == span.end;
}

bool IsWord(const std::wstring& text, Span span, const wchar_t* word) { return Matches(text, span, word, true); }

// "host", "host:port" or "[v6]:port", with a port of 1 to 65535 that must be there when
// `portRequired`. Anything else (a path, credentials, a scheme, a second colon) is not taken.
bool IsProxyAddress(const std::wstring& text, Span span, bool portRequired)
{
    size_t i = span.begin;
    if (i < span.end && text[i] == L'[') {
        ++i;
        while (i < span.end && (IsHexDigit(text[i]) || text[i] == L':' || text[i] == L'.')) ++i;
        if (i == span.begin + 1 || i == span.end || text[i] != L']') return false;
        ++i;
    } else {
        while (i < span.end && IsHostCharacter(text[i])) ++i;
        if (i == span.begin) return false;
    }
    if (i == span.end) return !portRequired;
    if (text[i] != L':') return false;
    unsigned long port = 0;
    size_t digits = 0;
    for (++i; i < span.end; ++i, ++digits) {
        if (!IsDigit(text[i]) || digits == 5) return false;
        port = port * 10 + static_cast<unsigned long>(text[i] - L'0');
    }
    return digits > 0 && port >= 1 && port <= 65535;
}

// The next blank-separated word of `part` from `at`; empty at its end.
Span NextWord(const std::wstring& text, Span part, size_t* at)
{
    while (*at < part.end && IsBlank(text[*at])) ++*at;
    Span word{*at, *at};
    while (word.end < part.end && !IsBlank(text[word.end])) ++word.end;
    *at = word.end;
    return word;
}

bool IsKeyword(const std::wstring& text, Span word)
{
    for (const wchar_t* keyword : {L"DIRECT", L"PROXY", L"HTTP", L"HTTPS", L"SOCKS", L"SOCKS4", L"SOCKS5"})
        if (IsWord(text, word, keyword)) return true;
    return false;
}

void Add(std::vector<ScriptEntry>& entries, Kind kind, const std::wstring& text, Span written, Span address = {})
{
    ScriptEntry entry;
    entry.kind = kind;
    entry.text = text.substr(written.begin, written.end - written.begin);
    if (kind == Kind::Proxy) entry.address = text.substr(address.begin, address.end - address.begin);
    entries.push_back(entry);
}

// A word without the script's keyword, as WinHTTP writes its list: "host:port", or with a
// protocol in front ("http=host:port", "http://host:port").
void AddListEntry(std::vector<ScriptEntry>& entries, const std::wstring& text, Span word)
{
    Span address = word;
    size_t mark = word.begin;
    while (mark < word.end && text[mark] != L'=' && text[mark] != L':') ++mark;
    const bool named = mark < word.end && text[mark] == L'=';
    const bool schemed = !named && Matches(text, Span{mark, word.end}, L"://", false);
    if (named || schemed) {
        const Span protocol{word.begin, mark};
        address.begin = mark + (named ? 1 : 3);
        if (Matches(text, protocol, L"socks", false)) {
            Add(entries, Kind::Socks, text, word);
            return;
        }
        if (!IsWord(text, protocol, L"http") && !IsWord(text, protocol, L"https")) {
            Add(entries, Kind::Malformed, text, word);
            return;
        }
        // "http=http://host:port" is written too.
        if (named && Matches(text, address, L"http://", false)) address.begin += 7;
    }
    Add(entries, IsProxyAddress(text, address, !(named || schemed)) ? Kind::Proxy : Kind::Malformed, text, word,
        address);
}

void ParsePart(std::vector<ScriptEntry>& entries, const std::wstring& text, Span part)
{
    size_t at = part.begin;
    Span word = NextWord(text, part, &at);
    while (!word.Empty()) {
        if (!IsKeyword(text, word)) {
            AddListEntry(entries, text, word);
            word = NextWord(text, part, &at);
            continue;
        }
        if (IsWord(text, word, L"DIRECT")) {
            Add(entries, Kind::Direct, text, word);
            word = NextWord(text, part, &at);
            continue;
        }
        // A keyword takes the next word as its address, unless that is a keyword itself.
        const Span address = NextWord(text, part, &at);
        const bool hasAddress = !address.Empty() && !IsKeyword(text, address);
        const Span written{word.begin, hasAddress ? address.end : word.end};
        if (Matches(text, word, L"SOCKS", false))
            Add(entries, Kind::Socks, text, written);
        else if (hasAddress && IsProxyAddress(text, address, false))
            Add(entries, Kind::Proxy, text, written, address);
        else
            Add(entries, Kind::Malformed, text, written);
        word = hasAddress ? NextWord(text, part, &at) : address;
    }
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

std::vector<ScriptEntry> ParseScriptAnswer(const std::wstring& answer)
{
    std::vector<ScriptEntry> entries;
    size_t at = 0;
    for (;;) {
        size_t end = at;
        while (end < answer.size() && answer[end] != L';') ++end;
        ParsePart(entries, answer, Span{at, end});
        if (end == answer.size()) return entries;
        at = end + 1;
    }
}

std::wstring ScriptEntryLine(const std::wstring& source, const ScriptEntry& entry)
{
    std::wstring line = L"Proxy from " + source;
    switch (entry.kind) {
    case Kind::Proxy:
        return line + L": " + entry.address;
    case Kind::Direct:
        return line + L": DIRECT";
    case Kind::Socks:
        return line + L" skipped, SOCKS is not supported: " + entry.text;
    case Kind::Malformed:
        break;
    }
    return line + L" skipped, not understood: " + entry.text;
}
