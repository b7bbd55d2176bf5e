#pragma once
// The progress dialog run the way the installer runs it: constructed, published in
// ProgressDialog and shown modally on a thread of its own, while the test thread plays the
// download thread.
#include <windows.h>

#include <memory>
#include <string>

class DependencyDialog;

class ProgressRun {
public:
    // Waits for the window; `window` stays null when it never came.
    explicit ProgressRun(BOOL dotNetMode, std::wstring caption = L"Tarvelo Setup",
                         std::wstring body = L"Fetching the files");
    ~ProgressRun();
    ProgressRun(const ProgressRun&) = delete;
    ProgressRun& operator=(const ProgressRun&) = delete;

    // The install sequence's end request (CloseProgressDialog), from this thread; the modal
    // result once the dialog thread has finished, -2 when it did not.
    INT_PTR End();

    HWND window = nullptr;
    DependencyDialog* dialog = nullptr;

private:
    static DWORD WINAPI Main(void* param);

    BOOL m_dotNet;
    std::wstring m_caption, m_body;
    HANDLE m_thread = nullptr;
    bool m_joined = false;
    INT_PTR m_result = -2;
    std::unique_ptr<DependencyDialog> m_dialog;
};

// Waits for `handle` while answering the messages other threads send to this one: a dialog
// thread that is ending may send to this thread's windows (Wine's focus and IME windows among
// them) and would otherwise stall until the wait gave up. False after the timeout.
bool WaitPumping(HANDLE handle, DWORD timeoutMs);

// Waits until every message posted to the progress dialog before this call has been handled: a
// step posted to the bar's own window leaves the same queue after them (also while a nested
// modal loop runs on that thread). The bar's position is not touched.
bool SettleProgressDialog(HWND dialog);
