#pragma once
#include <windows.h>

// Process-wide proxy and credential state of the run (download thread only).
extern bool TryBrowserProxy;                // next named-proxy session tries the browser's first
extern bool ProxyPromptPending;             // the user may still be asked for a proxy
extern bool ProxyCredentialsPromptPending;  // the user may still be asked for proxy credentials
extern bool ProxyServerLinePending;         // "ProxyServer=" not written yet
extern bool ProxyCredentialsLinePending;    // "UserName=...ByPass=" not written yet
extern int ProxyPromptCount;                // proxy prompts in the current DownloadFiles call
extern int ProxyAuthCount;                  // 407s answered in the current DownloadFiles call

// Full path of "ProxyInfo.proxy" in the roaming application-data folder; empty when unknown.
extern wchar_t SavedProxyFilePath[MAX_PATH];
