// Shows every installer dialog in turn, with the texts the installer gives it, and photographs
// each from the X display into a PNG (ImageMagick's import, started as a Unix child). Run by
// tools/dialog-screenshots.sh; not a test.
//   dialog_gallery.exe <run folder, Windows path> <output folder, Unix path>
#include <windows.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "download/shared_state.h"
#include "framework/app.h"
#include "resources/resource.h"
#include "support/dialog_driver.h"
#include "support/localized_text.h"
#include "support/process_start.h"
#include "support/progress_run.h"
#include "ui/dialogs/cred_ui_dialog.h"
#include "ui/dialogs/dependency_dialog.h"
#include "ui/dialogs/message_dialog.h"
#include "ui/dialogs/proxy_info_dialog.h"
#include "ui/dialogs/smaller_dialog.h"

using namespace dialog_driver;

namespace {

std::wstring g_out;  // Unix path of the output folder
int g_failures = 0;

std::wstring Text(const wchar_t* key) { return LocalizedText::Instance(L"en-GB")->GetText(key); }

std::wstring DosPath(const std::wstring& unixPath)
{
    std::wstring path = L"Z:" + unixPath;
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

// Photographs the window's rectangle (a few pixels around it, to show its rounded corners).
void Shoot(HWND window, const wchar_t* name)
{
    if (!window) {
        std::fwprintf(stderr, L"%ls: no window\n", name);
        ++g_failures;
        return;
    }
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, kDefaultTimeoutMs, &ignored);
    Sleep(400);  // Wine hands window surfaces to X shortly after painting
    RECT r{};
    GetWindowRect(window, &r);
    const int margin = 4;
    wchar_t crop[64];
    swprintf(crop, 64, L"%dx%d+%d+%d", r.right - r.left + 2 * margin, r.bottom - r.top + 2 * margin,
             r.left - margin > 0 ? r.left - margin : 0, r.top - margin > 0 ? r.top - margin : 0);
    const std::wstring shot = g_out + L"/" + name + L".png";
    DeleteFileW(DosPath(shot).c_str());
    const std::wstring command = L"/bin/sh -c \"import -window root -crop " + std::wstring(crop) + L" +repage '" +
                                 shot + L".part.png' && mv '" + shot + L".part.png' '" + shot + L"'\"";
    if (!StartProcess(command) ||
        !WaitUntil([&] { return GetFileAttributesW(DosPath(shot).c_str()) != INVALID_FILE_ATTRIBUTES; }, 60000)) {
        std::fwprintf(stderr, L"%ls: no screenshot\n", name);
        ++g_failures;
        return;
    }
    std::fwprintf(stdout, L"%ls\n", shot.c_str());
}

DWORD WINAPI RunModal(void* modal)
{
    try {
        (*static_cast<std::function<void()>*>(modal))();
    } catch (...) {
    }
    return 0;
}

// Runs `modal` on a thread of its own (as the installer's threads run their dialogs), waits for
// the dialog with `templateId` (not `exclude`), lets `scene` photograph it and end it.
void ModalScene(const std::function<void()>& modal, UINT templateId, const std::function<void(HWND)>& scene,
                HWND exclude = nullptr)
{
    HANDLE thread = CreateThread(nullptr, 0, RunModal, const_cast<std::function<void()>*>(&modal), 0, nullptr);
    if (!thread) return;
    scene(WaitForDialog(templateId, kDefaultTimeoutMs, exclude));
    // The thread uses this frame's objects: a dialog that does not end stops the gallery here.
    if (!WaitPumping(thread, 60000)) {
        std::fwprintf(stderr, L"a dialog did not end\n");
        ExitProcess(1);
    }
    CloseHandle(thread);
}

void MessageScene(const wchar_t* name, const wchar_t* headline, const wchar_t* body, const wchar_t* button,
                  bool withLink)
{
    ModalScene(
        [&] {
            MessageDialog dialog(Text(L"DIALOG_CAPTION"), Text(headline), Text(body), Text(button), L"", nullptr);
            if (withLink) dialog.SetLink(Text(L"SYSTEM_REQUIREMENTS"), L"http://www.tarvelo.com/r/1.3/requirements");
            dialog.DoModal();
        },
        IDD_MESSAGE_DIALOG,
        [&](HWND w) {
            Shoot(w, name);
            if (w) PostClose(w);
        });
}

void SmallScene(const wchar_t* name, const wchar_t* headline, const wchar_t* message, const wchar_t* first,
                const wchar_t* second)
{
    ModalScene(
        [&] {
            SmallerDialog dialog(Text(headline), Text(message), Text(first), second ? Text(second) : L"", nullptr);
            dialog.DoModal();
        },
        IDD_SMALLER_DIALOG,
        [&](HWND w) {
            Shoot(w, name);
            if (w) ClickButton(w, IDOK);
        });
}

// A proxy prompt over the progress dialog, optionally with its error notice beside it.
template <class Prompt>
void PromptScene(const wchar_t* name, UINT templateId, const wchar_t* messageKey, const wchar_t* noticeKey,
                 ProgressRun& progress)
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
            Shoot(w, name);
            if (w && noticeKey) {
                // Wine raises the prompt's X window above the topmost notice (its own window
                // order is right), so the notice is photographed with the prompt hidden.
                HWND notice = WaitForDialog(IDD_SMALLER_DIALOG, kDefaultTimeoutMs, w);
                ShowWindow(w, SW_HIDE);
                Shoot(notice, (std::wstring(name) + L"-notice").c_str());
            }
            if (w) PostClose(w);
        });
}

void ProgressScenes()
{
    {
        ProgressRun run(TRUE, Text(L"DIALOG_CAPTION"), Text(L"DOWNLOADING_DOTNET"));
        if (run.dialog) run.dialog->m_progress.SetPos(35);
        Shoot(run.window, L"progress-dotnet");
        if (run.dialog) {
            run.dialog->SetHeaderTexts(Text(L"DIALOG_CAPTION"), Text(L"INSTALLING_DOTNET"));
            run.dialog->SetStatusTexts(Text(L"INSTALLING_BOLD_TEXT"), Text(L"PROGRESS_BAR_INSTALLING_TEXT"));
            run.dialog->m_progress.SetPos(75);
        }
        Shoot(run.window, L"progress-dotnet-installing");

        // The quit question over the progress dialog, once closing is allowed.
        if (run.dialog) run.dialog->HideButton(FALSE, FALSE);
        ClickStatic(run.window, IDC_CLOSE_CONTROL);
        HWND question = WaitForDialog(IDD_SMALLER_DIALOG, kDefaultTimeoutMs, run.window);
        Shoot(question, L"quit-confirmation");
        if (question) {
            ClickButton(question, IDCANCEL);
            WaitForClosed(question);
        }

        PromptScene<ProxyInfoDialog>(L"proxy", IDD_PROXY_INFO_DIALOG, L"PROVIDE_PROXY_DETAIL", nullptr, run);
        PromptScene<ProxyInfoDialog>(L"proxy-server-error", IDD_PROXY_INFO_DIALOG, L"PROVIDE_PROXY_DETAIL",
                                     L"PROXY_SERVER_ERROR", run);
        PromptScene<CredUiDialog>(L"credentials", IDD_CRED_UI_DIALOG, L"CREDENTIAL_DETAILS", nullptr, run);
        PromptScene<CredUiDialog>(L"credentials-error", IDD_CRED_UI_DIALOG, L"CREDENTIAL_DETAILS",
                                  L"CREDENTIAL_ERROR", run);
        run.End();
    }
    {
        ProgressRun run(FALSE, Text(L"DIALOG_CAPTION"), L"");
        if (run.dialog) run.dialog->m_progress.SetPos(61);
        Shoot(run.window, L"progress-product");
        run.End();
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        std::fwprintf(stderr, L"usage: dialog_gallery <run folder> <output folder>\n");
        return 2;
    }
    if (!SetCurrentDirectoryW(argv[1])) {
        std::fwprintf(stderr, L"cannot enter %ls\n", argv[1]);
        return 2;
    }
    g_out = argv[2];
    AfxWinInit(GetModuleHandleW(nullptr), nullptr, nullptr, SW_SHOW);

    ProgressScenes();
    MessageScene(L"message-dotnet-question", L"DOTNET_REQUIRED", L"DOTNET_NOTFOUND", L"YES_BUTTON", false);
    MessageScene(L"message-not-admin", L"CANNOT_INSTALL", L"USER_NOT_ADMIN", L"OK_BUTTON", false);
    MessageScene(L"message-system", L"CANNOT_INSTALL", L"SYSTEM_CONFIG", L"OK_BUTTON", true);
    SmallScene(L"notice-connection-failure", L"PROXY_CAPTION", L"CONNECTION_FAILURE", L"OK_BUTTON", nullptr);
    SmallScene(L"notice-dotnet-by-hand", L"MANUALLY_DOWNLOAD_CAPTION", L"MANUALLY_DOWNLOAD_DOTNET", L"OK_BUTTON",
               L"SKIP_BUTTON");
    return g_failures == 0 ? 0 : 1;
}
