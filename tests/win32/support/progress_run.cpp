#include "support/progress_run.h"

#include <commctrl.h>

#include <utility>

#include "support/shared_state.h"
#include "resources/resource.h"
#include "support/dialog_driver.h"
#include "ui/dialogs/dependency_dialog.h"

using namespace dialog_driver;

namespace {
// The desktop stands in as the parent, as in the installer.
CWnd* Desktop()
{
    static CWnd desktop;
    if (!desktop.GetSafeHwnd()) desktop.Attach(GetDesktopWindow());
    return &desktop;
}
}  // namespace

ProgressRun::ProgressRun(BOOL dotNetMode, std::wstring caption, std::wstring body)
    : m_dotNet(dotNetMode), m_caption(std::move(caption)), m_body(std::move(body))
{
    Desktop();
    m_thread = CreateThread(nullptr, 0, &ProgressRun::Main, this, 0, nullptr);
    if (!m_thread) return;
    window = WaitForDialog(IDD_DEPENDENCY_DIALOG);
    dialog = ProgressDialog.load();
}

ProgressRun::~ProgressRun()
{
    if (m_thread && !m_joined) End();
    ProgressDialog = nullptr;
    // A dialog thread that never ended still uses the object; it is left to the process then.
    if (!m_joined) (void)m_dialog.release();
}

INT_PTR ProgressRun::End()
{
    if (!m_thread) return m_result;
    if (DependencyDialog* d = ProgressDialog.exchange(nullptr)) d->RequestEnd();
    m_joined = WaitPumping(m_thread, WaitLimitMs());
    CloseHandle(m_thread);
    m_thread = nullptr;
    return m_joined ? m_result : -2;
}

DWORD WINAPI ProgressRun::Main(void* param)
{
    auto* self = static_cast<ProgressRun*>(param);
    try {
        self->m_dialog = std::make_unique<DependencyDialog>(self->m_caption, self->m_body, self->m_dotNet, Desktop());
        self->m_dialog->m_progress.m_nLower = 0;
        self->m_dialog->m_progress.m_nUpper = 100;
        ProgressDialog = self->m_dialog.get();
        self->m_result = self->m_dialog->DoModal();
    } catch (...) {
    }
    return 0;
}

bool WaitPumping(HANDLE handle, DWORD timeoutMs)
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        if (now >= end) return WaitForSingleObject(handle, 0) == WAIT_OBJECT_0;
        const DWORD result = MsgWaitForMultipleObjects(1, &handle, FALSE, static_cast<DWORD>(end - now), QS_SENDMESSAGE);
        if (result == WAIT_OBJECT_0) return true;
        if (result != WAIT_OBJECT_0 + 1) return false;
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);  // answers sent messages
    }
}

bool SettleProgressDialog(HWND dialog)
{
    // The common control's step: the installer never uses it, and the bar leaves it to the
    // control (its position is the object's own).
    static int marker = 0;
    marker = marker % 90 + 7;
    const int want = marker;
    HWND bar = GetDlgItem(dialog, IDC_PROGRESS);
    if (!bar || !PostMessageW(bar, PBM_SETSTEP, static_cast<WPARAM>(want), 0)) return false;
    return WaitUntil([&] {
        DWORD_PTR step = 0;
        SendMessageTimeoutW(bar, PBM_GETSTEP, 0, 0, SMTO_NORMAL, WaitLimitMs(), &step);
        return static_cast<int>(step) == want;
    });
}
