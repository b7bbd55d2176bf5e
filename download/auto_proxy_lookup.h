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
// Neither can be cancelled once started, so they run on a thread of their own with copies of
// their inputs, and this waits for them at most `limitMs`: a lookup that has not ended by then
// (a script that never returns, a detection that waits on the network) is left running,
// logged as having given no answer, and no later lookup of this process is started beside it.
// What failed on the way is logged here, after the lookup has ended.
AutoProxyAnswer LookUpAutoProxy(const std::wstring& url, const std::wstring& host, bool autoDetect,
                                const std::wstring& scriptUrl, DWORD limitMs);

// Tests take the path of a Windows without jsproxy's script engine (Windows 11), where WinHTTP
// runs the script and gives its own, shorter list.
void SetScriptEngineForTesting(bool available);
