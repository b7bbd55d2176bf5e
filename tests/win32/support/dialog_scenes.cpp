#include "support/dialog_scenes.h"

#include <cstdio>
#include <memory>
#include <string>

#include "resources/resource.h"
#include "support/dialog_driver.h"
#include "support/progress_run.h"
#include "ui/dialogs/cred_ui_dialog.h"
#include "ui/dialogs/dependency_dialog.h"
#include "ui/dialogs/message_dialog.h"
#include "ui/dialogs/proxy_info_dialog.h"
#include "ui/dialogs/smaller_dialog.h"

using namespace dialog_driver;

namespace dialog_scenes {
namespace {

using Visit = std::function<void(const Scene&)>;

DWORD WINAPI RunModal(void* modal)
{
    try {
        (*static_cast<std::function<void()>*>(modal))();
    } catch (...) {
    }
    return 0;
}

// Runs `modal` on a thread of its own (as the installer's threads run their dialogs), waits for
// the dialog with `templateId` (not `exclude`), lets `scene` visit and end it.
void ModalScene(const std::function<void()>& modal, UINT templateId, const std::function<void(HWND)>& scene,
                HWND exclude = nullptr)
{
    HANDLE thread = CreateThread(nullptr, 0, RunModal, const_cast<std::function<void()>*>(&modal), 0, nullptr);
    if (!thread) return;
    scene(WaitForDialog(templateId, WaitLimitMs(), exclude));
    if (!WaitPumping(thread, WaitLimitMs())) {
        std::fwprintf(stderr, L"a dialog did not end\n");
        ExitProcess(1);
    }
    CloseHandle(thread);
}

const std::vector<KeyedControl> kQuitTexts = {
    {IDC_SMALL_HEADLINE, L"QUIT_INSTALLING_CAPTION"}, {IDC_BODY, L"QUIT_TARVELO"}, {IDOK, L"YES"}, {IDCANCEL, L"NO"}};

void MessageScene(const Visit& visit, const wchar_t* name, const wchar_t* headline, const wchar_t* body,
                  const wchar_t* button, bool withLink)
{
    ModalScene(
        [&] {
            MessageDialog dialog(Text(L"DIALOG_CAPTION"), Text(headline), Text(body), Text(button), L"", nullptr);
            if (withLink) dialog.SetLink(Text(L"SYSTEM_REQUIREMENTS"), L"http://www.tarvelo.com/r/1.3/requirements");
            dialog.DoModal();
        },
        IDD_MESSAGE_DIALOG,
        [&](HWND w) {
            std::vector<KeyedControl> texts = {
                {IDC_CAPTION, L"DIALOG_CAPTION"}, {IDC_HEADLINE, headline}, {IDC_BODY, body}, {IDOK, button}};
            if (withLink) texts.push_back({IDC_LINK, L"SYSTEM_REQUIREMENTS"});
            visit({name, w, texts});
            if (w) PostClose(w);
        });
}

void SmallScene(const Visit& visit, const wchar_t* name, const wchar_t* headline, const wchar_t* message,
                const wchar_t* first, const wchar_t* second)
{
    ModalScene(
        [&] {
            SmallerDialog dialog(Text(headline), Text(message), Text(first), second ? Text(second) : L"", nullptr);
            dialog.DoModal();
        },
        IDD_SMALLER_DIALOG,
        [&](HWND w) {
            std::vector<KeyedControl> texts = {{IDC_SMALL_HEADLINE, headline}, {IDC_BODY, message}, {IDOK, first}};
            if (second) texts.push_back({IDCANCEL, second});
            visit({name, w, texts});
            if (w) ClickButton(w, IDOK);
        });
}

// A proxy prompt over the progress dialog, optionally with its error notice beside it.
template <class Prompt>
void PromptScene(const Visit& visit, const wchar_t* name, UINT templateId, const wchar_t* messageKey,
                 const wchar_t* noticeKey, ProgressRun& progress)
{
    ModalScene(
        [&] {
            Prompt prompt;
            prompt.SetMessage(Text(messageKey));
            std::unique_ptr<SmallerDialog> notice;
            if (noticeKey) {
                notice = std::make_unique<SmallerDialog>(Text(L"PROXY_CAPTION"), Text(noticeKey), Text(L"CLOSE_BUTTON"),
                                                         L"", nullptr);
                if (notice->Create(IDD_SMALLER_DIALOG, progress.dialog)) notice->ShowWindow(SW_SHOW);
            }
            prompt.DoModal();
        },
        templateId,
        [&](HWND w) {
            std::vector<KeyedControl> texts = {{IDC_CAPTION, L"DIALOG_CAPTION"}, {IDC_BODY, messageKey}};
            if (templateId == IDD_PROXY_INFO_DIALOG) {
                texts.insert(texts.end(), {{IDC_HEADLINE, L"PROXY_BOLD_TEXT"},
                                           {IDC_SERVER_LABEL, L"HTTP_PROXY"},
                                           {IDC_PORT_LABEL, L"HTTP_PORT"},
                                           {IDC_PORT_EXAMPLE, L"PORT_EG"},
                                           {IDC_SERVER_EXAMPLE, L"PROXY_EXAMPLE"},
                                           {IDC_CONTINUE, L"CONTINUE_BUTTON"}});
            } else {
                texts.insert(texts.end(), {{IDC_HEADLINE, L"CREDENTIAL_BOLD_TEXT"},
                                           {IDC_USER_LABEL, L"USER_NAME"},
                                           {IDC_PASSWORD_LABEL, L"PASSWORD"},
                                           {IDC_USER_EXAMPLE, L"USER_NAME_EXAMPLE"},
                                           {IDOK, L"CONTINUE_BUTTON"}});
            }
            visit({name, w, texts});
            if (w && noticeKey) {
                // Wine raises the prompt's X window above the topmost notice (its own window
                // order is right), so the notice is visited with the prompt hidden.
                HWND notice = WaitForDialog(IDD_SMALLER_DIALOG, WaitLimitMs(), w);
                ShowWindow(w, SW_HIDE);
                visit({(std::wstring(name) + L"-notice").c_str(), notice,
                       {{IDC_SMALL_HEADLINE, L"PROXY_CAPTION"}, {IDC_BODY, noticeKey}, {IDOK, L"CLOSE_BUTTON"}}});
            }
            if (w) PostClose(w);
        });
}

void ProgressScenes(const Visit& visit)
{
    {
        ProgressRun run(TRUE, Text(L"DIALOG_CAPTION"), Text(L"DOWNLOADING_DOTNET"));
        if (run.dialog) run.dialog->m_progress.SetPos(35);
        visit({L"progress-dotnet", run.window,
               {{IDC_CAPTION, L"DIALOG_CAPTION"},
                {IDC_HEADLINE, L"DOTNET_HYPERLINK_TEXT"},
                {IDC_BODY, L"DOWNLOADING_DOTNET"},
                {IDC_TOUR_LINK, L"URL_LABEL2"},
                {IDC_PROGRESS_LINE, L"PROGRESS_BAR_DOWNLOADING_TEXT"}}});
        if (run.dialog) {
            // As the download thread hands them over; shown once the dialog's thread got to them.
            run.dialog->SetHeaderTexts(Text(L"DIALOG_CAPTION"), Text(L"INSTALLING_DOTNET"));
            run.dialog->SetStatusTexts(Text(L"INSTALLING_BOLD_TEXT"), Text(L"PROGRESS_BAR_INSTALLING_TEXT"));
            run.dialog->SetProgressPos(75);
            SettleProgressDialog(run.window);
        }
        visit({L"progress-dotnet-installing", run.window,
               {{IDC_CAPTION, L"DIALOG_CAPTION"},
                {IDC_HEADLINE, L"INSTALLING_BOLD_TEXT"},
                {IDC_BODY, L"INSTALLING_DOTNET"},
                {IDC_TOUR_LINK, L"URL_LABEL2"},
                {IDC_PROGRESS_LINE, L"PROGRESS_BAR_INSTALLING_TEXT"}}});

        // The quit question over the progress dialog, once closing is allowed.
        if (run.dialog) run.dialog->HideButton(FALSE, FALSE);
        ClickStatic(run.window, IDC_CLOSE_CONTROL);
        HWND question = WaitForDialog(IDD_SMALLER_DIALOG, WaitLimitMs(), run.window);
        visit({L"quit-confirmation", question, kQuitTexts});
        if (question) {
            ClickButton(question, IDCANCEL);
            WaitForClosed(question);
        }

        PromptScene<ProxyInfoDialog>(visit, L"proxy", IDD_PROXY_INFO_DIALOG, L"PROVIDE_PROXY_DETAIL", nullptr, run);
        PromptScene<ProxyInfoDialog>(visit, L"proxy-server-error", IDD_PROXY_INFO_DIALOG, L"PROVIDE_PROXY_DETAIL",
                                     L"PROXY_SERVER_ERROR", run);
        PromptScene<CredUiDialog>(visit, L"credentials", IDD_CRED_UI_DIALOG, L"CREDENTIAL_DETAILS", nullptr, run);
        PromptScene<CredUiDialog>(visit, L"credentials-error", IDD_CRED_UI_DIALOG, L"CREDENTIAL_DETAILS",
                                  L"CREDENTIAL_ERROR", run);
        run.End();
    }
    {
        ProgressRun run(FALSE, Text(L"DIALOG_CAPTION"), L"");
        if (run.dialog) run.dialog->m_progress.SetPos(61);
        visit({L"progress-product", run.window,
               {{IDC_CAPTION, L"DIALOG_CAPTION"},
                {IDC_PROGRESS_LINE, L"PROGRESS_BAR_TARVELO"},
                {IDC_FEATURE1, L"DOWNLOAD_CONTENT"},
                {IDC_FEATURE2, L"BROWSE_SEARCH"},
                {IDC_FEATURE3, L"SYNC_MOBILE"}}});
        run.End();
    }
}

}  // namespace

void VisitEveryDialogState(const std::function<void(const Scene&)>& visit)
{
    ProgressScenes(visit);
    MessageScene(visit, L"message-dotnet-question", L"DOTNET_REQUIRED", L"DOTNET_NOTFOUND", L"YES_BUTTON", false);
    MessageScene(visit, L"message-not-admin", L"CANNOT_INSTALL", L"USER_NOT_ADMIN", L"OK_BUTTON", false);
    MessageScene(visit, L"message-system", L"CANNOT_INSTALL", L"SYSTEM_CONFIG", L"OK_BUTTON", true);
    SmallScene(visit, L"notice-connection-failure", L"PROXY_CAPTION", L"CONNECTION_FAILURE", L"OK_BUTTON", nullptr);
    SmallScene(visit, L"notice-dotnet-by-hand", L"MANUALLY_DOWNLOAD_CAPTION", L"MANUALLY_DOWNLOAD_DOTNET",
               L"OK_BUTTON", L"SKIP_BUTTON");
}

}  // namespace dialog_scenes
