#pragma once
#include <windows.h>

#include <string>

// How long proxy auto-detection and the auto-configuration script together may take before the
// run goes on without them.
constexpr DWORD kAutoProxyLimitMs = 15000;

// What the browser's proxy auto-configuration answered for one URL.
struct AutoProxyAnswer {
    bool answered = false;
    bool fromAutoDetection = false;  // otherwise the script the browser names answered
    std::wstring text;               // the whole answer, every entry of it
};

// Asks auto-detection (WPAD, by DHCP and DNS) when `autoDetect`, and, while nothing has
// answered, the script at `scriptUrl` (none when empty), how `url` on `host` is to be reached.
// A script is never run in this process: WinHTTP's auto-proxy service runs it where Windows has
// one (8 and later), else this process fetches it and a restricted child process runs it
// (script_sandbox.h), else WinHTTP's own reading is taken. Detection and fetching cannot be
// cancelled, so the lookup runs on a thread of its own with copies of its inputs, and this waits
// for it at most `limitMs`: then the script's child is ended, the lookup is logged as having
// given no answer, and no later lookup of this process is started. What failed on the way is
// logged here, after the lookup has ended.
AutoProxyAnswer LookUpAutoProxy(const std::wstring& url, const std::wstring& host, bool autoDetect,
                                const std::wstring& scriptUrl, DWORD limitMs);
