#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Reading what a proxy auto-configuration (a script named by URL, or found by auto-detection)
// answers for a download, without any Windows header.

// The URL the script is asked about: scheme, host, the port only when it is not the scheme's
// default, and the object path.
std::wstring ProxyLookupUrl(bool https, const std::wstring& host, uint16_t port, const std::wstring& object);

// One entry of a script's answer.
struct ScriptEntry {
    enum class Kind {
        Proxy,      // `address` is a bare "host[:port]" to use as the session's proxy
        Direct,     // no proxy at all
        Socks,      // a SOCKS proxy: a session can only use an HTTP proxy
        Malformed,  // not understood
    };
    Kind kind = Kind::Malformed;
    std::wstring address;  // Proxy only
    std::wstring text;     // the entry as the answer wrote it
};

// Every entry of a script's answer, in order. Entries are separated by ';'; within one, blanks
// separate the script's keyword ("PROXY", "HTTP", "HTTPS", "SOCKS", "SOCKS4", "SOCKS5", any
// case) from its "host[:port]", and a keyword-less "host[:port]" stands for itself, so that
// WinHTTP's own list ("p1:8080;p2:8080", "p1:8080 p2:8080", "http=p1:8080", "http://p1:8080")
// reads the same way. "DIRECT" is an entry too.
std::vector<ScriptEntry> ParseScriptAnswer(const std::wstring& answer);

// The log line for an entry about to be tried or passed over; `source` names where the answer
// came from ("auto-detection", "auto-configuration script").
std::wstring ScriptEntryLine(const std::wstring& source, const ScriptEntry& entry);
