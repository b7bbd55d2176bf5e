#pragma once
#include <windows.h>
#include <string>

class ProxyPrompts;

// The two questions the download engine asks the user, each modal on the download thread.

// The proxy settings dialog with the "PROVIDE_PROXY_DETAIL" message and, when showServerError
// is set, the "PROXY_SERVER_ERROR" notice beside it. Returns the dialog's modal result and the
// texts as typed.
INT_PTR AskForProxy(bool showServerError, std::wstring* server, std::wstring* port);

// The proxy credentials dialog with the "CREDENTIAL_DETAILS" message and, when
// showCredentialError is set, the "CREDENTIAL_ERROR" notice. Returns false when the user closed
// the dialog; *modalResult receives the dialog's result either way.
bool AskForProxyCredentials(bool showCredentialError, std::wstring* userName,
                            std::wstring* password, INT_PTR* modalResult);

// Test seam: while set, the hooks answer in place of the dialogs.
using ProxyPromptHook = INT_PTR (*)(bool showServerError, std::wstring* server, std::wstring* port);
using CredentialsPromptHook = bool (*)(bool showCredentialError, std::wstring* userName,
                                       std::wstring* password, INT_PTR* modalResult);
void SetPromptHooksForTesting(ProxyPromptHook proxyHook, CredentialsPromptHook credentialsHook);

// The two questions above as the download engine asks them.
ProxyPrompts* DialogPrompts();
