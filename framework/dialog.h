#pragma once
#include <windows.h>
#include <atomic>

#include "framework/wnd.h"

class CDialog;

// Handed to DoDataExchange; the dialog binds its template controls to member objects there.
class CDataExchange {
public:
    CDataExchange(CDialog* dialog, BOOL saveAndValidate) : m_pDlgWnd(dialog), m_bSaveAndValidate(saveAndValidate) {}
    CDialog* m_pDlgWnd;
    BOOL m_bSaveAndValidate;
};

// Binds control `id` of the dialog to `control` (subclassing it). FALSE when the template has
// no such control or the control is already bound.
BOOL DDX_Control(CDataExchange* exchange, int id, CWnd& control);

// A dialog from a template, modal (DoModal) or modeless (Create).
//
// The object is bound to its window at WM_INITDIALOG and unbound at WM_NCDESTROY. Derived
// classes override WindowProc as CWnd describes: return a value for what they handle, pass the
// rest on to their base. The dialog-procedure rules are applied here only: WM_CTLCOLOR* (and
// WM_INITDIALOG, WM_QUERYDRAGICON, WM_COMPAREITEM, WM_VKEYTOITEM, WM_CHARTOITEM) return the
// handler's value itself, every other handled message answers through DWLP_MSGRESULT, and
// unhandled messages go to the dialog manager. WM_CREATE never reaches a dialog's switch (the
// dialog procedure is installed after the window exists); do that work in OnInitDialog.
//
// Screen readers: the thread that runs a dialog is a single-threaded COM apartment while the
// dialog exists (framework/apartment.h), modal or modeless.
//
// Ending: EndDialog on the dialog's own thread; PostEndDialog from any thread (also before the
// window exists: the dialog then ends as soon as it has been initialised).
class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId = 0, CWnd* parent = nullptr);
    ~CDialog() override;

    // Modal loop on the calling thread; the result given to EndDialog, or -1 when the dialog
    // cannot be created.
    virtual INT_PTR DoModal();
    INT_PTR DoModalIndirect(const DLGTEMPLATE* dialogTemplate);

    // Modeless: creates the window (shown if the template says WS_VISIBLE) and returns at once.
    // EndDialog hides a modeless dialog; the window is destroyed with the object.
    BOOL Create(UINT templateId, CWnd* parent = nullptr);
    BOOL CreateIndirect(const DLGTEMPLATE* dialogTemplate, CWnd* parent = nullptr);

    // Own thread only.
    void EndDialog(int result);
    // Any thread: asks the dialog's own thread to call EndDialog(result).
    BOOL PostEndDialog(int result);

    static CDialog* FromDialogHandle(HWND window);

protected:
    // Binds the controls (DoDataExchange); derived classes call it first. TRUE: default focus.
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange*) {}
    // IDOK / IDCANCEL commands that no derived switch handled: end the dialog with that id.
    virtual void OnOK();
    virtual void OnCancel();

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    LRESULT CallDefault(UINT message, WPARAM wParam, LPARAM lParam) override;

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static INT_PTR HandleDialogMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    HWND ParentHandle() const;

    std::atomic<HWND> m_hWndShared{nullptr};  // m_hWnd as other threads may read it
    std::atomic<bool> m_endPending{false};
    std::atomic<int> m_pendingResult{0};
    bool m_bReenteringDefault = false;
};
