#include "app/proxy_prompts.h"

#include <memory>

#include "app/progress_link.h"
#include "download/engine_ui.h"
#include "support/localized_text.h"
#include "support/shared_state.h"

#include "ui/dialogs/cred_ui_dialog.h"
#include "ui/dialogs/dependency_dialog.h"
#include "ui/dialogs/proxy_info_dialog.h"
#include "ui/dialogs/smaller_dialog.h"

namespace {
ProxyPromptHook g_proxyHook = nullptr;
CredentialsPromptHook g_credentialsHook = nullptr;

// The notice is a child of the progress dialog when that exists; a dialog that is not yet
// published (or has no window) must not become an owner.
CWnd* NoticeOwner()
{
    DependencyDialog* dialog = ProgressDialog.load();
    if (dialog && IsWindow(dialog->GetSafeHwnd())) return dialog;
    return nullptr;
}

std::unique_ptr<SmallerDialog> ShowNotice(const wchar_t* messageKey)
{
    auto notice = std::make_unique<SmallerDialog>(TextOf(L"PROXY_CAPTION"), TextOf(messageKey),
                                                  TextOf(L"CLOSE_BUTTON"), std::wstring(),
                                                  NoticeOwner());
    if (notice->Create(117, NoticeOwner())) notice->ShowWindow(SW_SHOW);
    return notice;
}

// A prompt takes the progress dialog as its owner when it is made. A direct connection can fail
// before the dialog thread has shown that dialog; a prompt made then has no owner, and the
// progress dialog, shown after it in the same place, covers it and takes the keyboard.
void WaitForProgressDialog() { ProgressLink::Dialog(); }

void DestroyNotice(std::unique_ptr<SmallerDialog>& notice)
{
    if (notice && notice->GetSafeHwnd()) DestroyWindow(notice->GetSafeHwnd());
    notice.reset();
}
}  // namespace

void SetPromptHooksForTesting(ProxyPromptHook proxyHook, CredentialsPromptHook credentialsHook)
{
    g_proxyHook = proxyHook;
    g_credentialsHook = credentialsHook;
}

INT_PTR AskForProxy(bool showServerError, std::wstring* server, std::wstring* port)
{
    if (g_proxyHook) return g_proxyHook(showServerError, server, port);
    WaitForProgressDialog();
    auto dialog = std::make_unique<ProxyInfoDialog>();
    dialog->SetMessage(TextOf(L"PROVIDE_PROXY_DETAIL"));
    std::unique_ptr<SmallerDialog> notice;
    if (showServerError) notice = ShowNotice(L"PROXY_SERVER_ERROR");
    const INT_PTR result = dialog->DoModal();
    *server = dialog->m_strProxyServer;
    *port = dialog->m_strProxyPort;
    DestroyNotice(notice);
    dialog.reset();
    return result;
}

bool AskForProxyCredentials(bool showCredentialError, std::wstring* userName,
                            std::wstring* password, INT_PTR* modalResult)
{
    if (g_credentialsHook) return g_credentialsHook(showCredentialError, userName, password, modalResult);
    WaitForProgressDialog();
    auto dialog = std::make_unique<CredUiDialog>();
    std::unique_ptr<SmallerDialog> notice;
    if (showCredentialError) notice = ShowNotice(L"CREDENTIAL_ERROR");
    dialog->SetMessage(TextOf(L"CREDENTIAL_DETAILS"));
    *modalResult = dialog->DoModal();
    const bool closed = dialog->m_bClosed != FALSE;
    if (!closed) {
        *userName = dialog->m_strUserName;
        *password = dialog->m_strPassword;
    }
    DestroyNotice(notice);
    dialog.reset();
    return !closed;
}

namespace {
class DialogQuestions final : public ProxyPrompts {
public:
    INT_PTR AskForProxy(bool showServerError, std::wstring* server, std::wstring* port) override
    {
        return ::AskForProxy(showServerError, server, port);
    }
    bool AskForProxyCredentials(bool showCredentialError, std::wstring* userName, std::wstring* password,
                                INT_PTR* modalResult) override
    {
        return ::AskForProxyCredentials(showCredentialError, userName, password, modalResult);
    }
};

DialogQuestions g_questions;
}  // namespace

ProxyPrompts* DialogPrompts() { return &g_questions; }
