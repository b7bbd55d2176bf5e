#pragma once
#include <cstdint>
#include <string>

// Reading what a proxy auto-configuration (a script named by URL, or found by auto-detection)
// answers for a download, without any Windows header.

// The URL the script is asked about: scheme, host, the port only when it is not the scheme's
// default, and the object path.
std::wstring ProxyLookupUrl(bool https, const std::wstring& host, uint16_t port, const std::wstring& object);

// The first proxy a script's answer names, as bare "host:port"; empty when it names none
// (DIRECT). The answer is a list separated by ';' or blanks; each entry may carry a
// per-protocol "http=" / "https=" or an "http://" prefix, or the script's own keywords
// ("PROXY host:port"). Entries that are not HTTP proxies (SOCKS, HTTPS, other schemes) are
// passed over: a session can only use an HTTP proxy.
std::wstring FirstScriptProxy(const std::wstring& answer);
