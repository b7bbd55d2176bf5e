#pragma once
#include <windows.h>

#include <atomic>
#include <string>

#include "framework/controls.h"
#include "framework/sync.h"
#include "ui/controls/bitmap_dialog.h"
#include "ui/controls/bmp_button.h"
#include "ui/controls/hyperlink.h"
#include "ui/controls/text_progress.h"

// The download progress window (template 102), modal on a thread of its own. Two layouts: the
// .NET layout (Small.bmp, bold line, product-tour link) and the product layout (InstallImage.bmp,
// three feature texts). Its close control, the system Close command and WM_CLOSE do nothing
// while the close lock is set; otherwise a confirmed quit raises AbortRequested and the dialog
// stays open until the install sequence ends it (RequestEnd).
class DependencyDialog : public CBitmapDialog {
public:
    DependencyDialog(std::wstring caption, std::wstring body, BOOL dotNetMode, CWnd* parent);
    ~DependencyDialog() override;

    // Any thread. The texts and bar positions are handed to the dialog's own thread, which shows
    // each in the order they were given (also while a question runs its own loop there); the
    // caller never waits for the dialog, not even for its window to be made: what comes before
    // that is shown as soon as the dialog is set up. The end request (RequestEnd) comes after
    // everything handed over before it. The texts are polite live regions: a change is announced
    // to screen readers although they do not have the focus.
    void SetHeaderTexts(std::wstring caption, std::wstring body);
    void SetStatusTexts(std::wstring boldLine, std::wstring progressLine);
    void SetProgressPos(int position);
    // Any thread; takes effect at once.
    void HideButton(BOOL blockClose, BOOL disableClose);
    // Any thread: ends the modal loop with 0 on the dialog's own thread. A quit confirmation
    // still open over the dialog is answered no first; it would otherwise keep the loop (and the
    // question) alive after the install sequence has moved on.
    void RequestEnd();

    // Read under m_lock.
    BOOL IsCloseBlocked();

    CTextProgressCtrl m_progress;
    BOOL m_bDotNetMode;
    CCriticalSection m_lock;
    CStatic m_caption;
    std::wstring m_strCaption;
    CStatic m_body;
    std::wstring m_strBody;
    BOOL m_bCloseBlocked = TRUE;
    CBmpButton m_closeButton;
    CHyperLink m_link;

    static const wchar_t kProductTourUrl[];

protected:
    void DoDataExchange(CDataExchange* exchange) override;
    BOOL OnInitDialog() override;
    void OnOK() override {}
    void OnCancel() override {}
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    void AfterSkinStep(SkinStep step) override;
    void OnClose() override;
    void OnCloseControl() override;

private:
    // One text change or bar position on its way to the dialog's thread, in a list kept in the
    // order they were handed over.
    struct Update {
        enum class Kind { Position, Header, Status } kind;
        int position;
        std::wstring first, second;
        Update* next = nullptr;
    };
    void Hand(Update* update);
    void ApplyHandedUpdates();
    void ShowHeaderTexts(const std::wstring& caption, const std::wstring& body);
    void ShowStatusTexts(const std::wstring& boldLine, const std::wstring& progressLine);
    // The texts that tell what is happening as live regions for screen readers, or no more.
    void MarkTextsLive(bool live);

    void DismissQuitConfirmation();

    CCriticalSection m_updatesLock;  // around the three below; nothing else is taken under it
    Update* m_pFirstUpdate = nullptr;
    Update* m_pLastUpdate = nullptr;
    bool m_bApplyPosted = false;     // a message to apply the list is on its way

    // The dialog window as other threads may read it: set (under m_updatesLock) once the set-up
    // has run, cleared when the window goes.
    std::atomic<HWND> m_window{nullptr};

    // A transparent label does not erase its old text; the skin under it is repainted instead.
    void RepaintUnder(HWND control);
};
