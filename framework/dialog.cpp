#include "framework/dialog.h"

#include "framework/apartment.h"
#include "framework/app.h"

namespace {
UINT EndRequestMessage()
{
    static const UINT message = ::RegisterWindowMessageW(L"Tarvelo.Framework.EndDialog");
    return message;
}

UINT DestroyRequestMessage()
{
    static const UINT message = ::RegisterWindowMessageW(L"Tarvelo.Framework.DestroyDialog");
    return message;
}

// Marks a modeless dialog's window as holding its thread's window apartment (see Create): it is
// left at WM_NCDESTROY on that thread, whether or not the object is still bound then.
constexpr const wchar_t* kApartmentProperty = L"Tarvelo.Framework.Apartment";

// Joins the thread's window apartment for a modeless dialog about to be made, and ties the join
// to its window; a dialog that could not be made leaves again at once.
HWND KeepApartmentWith(HWND window)
{
    if (!window || !::SetPropW(window, kApartmentProperty, reinterpret_cast<HANDLE>(1))) LeaveWindowApartment();
    return window;
}

bool ReturnsValueDirectly(UINT message)
{
    return (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC) || message == WM_INITDIALOG ||
           message == WM_QUERYDRAGICON || message == WM_COMPAREITEM || message == WM_VKEYTOITEM ||
           message == WM_CHARTOITEM;
}
}  // namespace

BOOL DDX_Control(CDataExchange* exchange, int id, CWnd& control)
{
    if (!exchange || !exchange->m_pDlgWnd) return FALSE;
    if (control.m_hWnd) return control.m_hWnd == ::GetDlgItem(exchange->m_pDlgWnd->m_hWnd, id);
    return control.SubclassDlgItem(static_cast<UINT>(id), exchange->m_pDlgWnd);
}

CDialog::CDialog(UINT templateId, CWnd* parent) : m_nIDTemplate(templateId), m_pParentWnd(parent)
{
    // Registered here, on the creating thread, so that PostEndDialog never races the first use.
    EndRequestMessage();
    DestroyRequestMessage();
}

CDialog::~CDialog()
{
    HWND window = m_hWnd;
    if (window && ::IsWindow(window)) {
        // The window outlives the object only for an instant: unbind first, so that nothing
        // reaches a half-destroyed object, then destroy it on its own thread.
        UnbindObject(window);
        m_hWndShared = nullptr;
        m_hWnd = nullptr;
        if (::GetWindowThreadProcessId(window, nullptr) == ::GetCurrentThreadId())
            ::DestroyWindow(window);
        else
            ::PostMessageW(window, DestroyRequestMessage(), 0, 0);
    }
}

HWND CDialog::ParentHandle() const { return m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr; }

INT_PTR CDialog::DoModal()
{
    CWindowApartment apartment;
    return ::DialogBoxParamW(AfxGetResourceHandle(), MAKEINTRESOURCEW(m_nIDTemplate), ParentHandle(),
                             DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CDialog::DoModalIndirect(const DLGTEMPLATE* dialogTemplate)
{
    if (!dialogTemplate) return -1;
    CWindowApartment apartment;
    return ::DialogBoxIndirectParamW(AfxGetResourceHandle(), dialogTemplate, ParentHandle(), DialogProc,
                                     reinterpret_cast<LPARAM>(this));
}

BOOL CDialog::Create(UINT templateId, CWnd* parent)
{
    if (m_hWnd) return FALSE;
    m_nIDTemplate = templateId;
    m_pParentWnd = parent;
    JoinWindowApartment();
    HWND window = ::CreateDialogParamW(AfxGetResourceHandle(), MAKEINTRESOURCEW(templateId), ParentHandle(),
                                       DialogProc, reinterpret_cast<LPARAM>(this));
    return KeepApartmentWith(window) != nullptr;
}

BOOL CDialog::CreateIndirect(const DLGTEMPLATE* dialogTemplate, CWnd* parent)
{
    if (m_hWnd || !dialogTemplate) return FALSE;
    m_pParentWnd = parent;
    JoinWindowApartment();
    HWND window = ::CreateDialogIndirectParamW(AfxGetResourceHandle(), dialogTemplate, ParentHandle(),
                                               DialogProc, reinterpret_cast<LPARAM>(this));
    return KeepApartmentWith(window) != nullptr;
}

void CDialog::EndDialog(int result)
{
    if (m_hWnd) ::EndDialog(m_hWnd, result);
}

BOOL CDialog::PostEndDialog(int result)
{
    // Recorded first, then posted: whichever of this and WM_INITDIALOG comes second sees the other.
    m_pendingResult = result;
    m_endPending = true;
    HWND window = m_hWndShared;
    if (window) ::PostMessageW(window, EndRequestMessage(), static_cast<WPARAM>(result), 0);
    return TRUE;
}

CDialog* CDialog::FromDialogHandle(HWND window)
{
    if (!window) return nullptr;
    if (::GetWindowLongPtrW(window, DWLP_DLGPROC) != reinterpret_cast<LONG_PTR>(&DialogProc)) return nullptr;
    return static_cast<CDialog*>(FromHandlePermanent(window));
}

BOOL CDialog::OnInitDialog()
{
    CDataExchange exchange(this, FALSE);
    DoDataExchange(&exchange);
    return TRUE;
}

void CDialog::OnOK() { EndDialog(IDOK); }

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

LRESULT CDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK && HIWORD(wParam) == BN_CLICKED) {
            OnOK();
            return 0;
        }
        if (LOWORD(wParam) == IDCANCEL && HIWORD(wParam) == BN_CLICKED) {
            OnCancel();
            return 0;
        }
        break;
    default:
        if (message == EndRequestMessage()) {
            EndDialog(static_cast<int>(wParam));
            return 0;
        }
        break;
    }
    return CWnd::WindowProc(message, wParam, lParam);
}

LRESULT CDialog::CallDefault(UINT message, WPARAM wParam, LPARAM lParam)
{
    // DefDlgProcW calls the dialog procedure first; that nested call is told to decline, so the
    // dialog manager's own processing runs now and its result comes back here.
    if (!m_hWnd) return 0;
    m_bReenteringDefault = true;
    LRESULT result = ::DefDlgProcW(m_hWnd, message, wParam, lParam);
    m_bReenteringDefault = false;
    return result;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const INT_PTR result = HandleDialogMessage(window, message, wParam, lParam);
    // A modeless dialog's last message: its join of the thread's apartment ends after everything
    // else it did on the way out.
    if (message == WM_NCDESTROY && ::RemovePropW(window, kApartmentProperty)) LeaveWindowApartment();
    return result;
}

INT_PTR CDialog::HandleDialogMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    // Only this procedure binds a dialog window, so the object found on it is a CDialog.
    CDialog* self = static_cast<CDialog*>(FromHandlePermanent(window));
    if (message == WM_INITDIALOG && !self) {
        self = reinterpret_cast<CDialog*>(lParam);
        if (!self) return FALSE;
        if (!BindObject(window, self)) {
            // Without the binding no later message would reach the object: the dialog fails
            // as one that cannot be created.
            ::EndDialog(window, -1);
            return FALSE;
        }
        self->m_hWnd = window;
        self->m_hWndShared = window;
    }

    if (message == DestroyRequestMessage() && message != 0) {
        if (!self) ::DestroyWindow(window);
        return TRUE;
    }
    if (!self) return FALSE;
    if (self->m_bReenteringDefault) {
        self->m_bReenteringDefault = false;
        return FALSE;
    }

    bool handled = false;
    LRESULT result = self->RouteMessage(message, wParam, lParam, &handled);

    if (message == WM_INITDIALOG && self->m_endPending) {
        self->m_endPending = false;
        ::EndDialog(window, self->m_pendingResult);
    } else if (message == EndRequestMessage()) {
        self->m_endPending = false;
    }
    if (message == WM_NCDESTROY) {
        UnbindObject(window);
        self->m_hWndShared = nullptr;
        self->m_hWnd = nullptr;
        self->m_endPending = false;
        try {
            self->PostNcDestroy();
        } catch (...) {
        }
        return FALSE;
    }

    if (!handled) return FALSE;
    if (ReturnsValueDirectly(message)) return static_cast<INT_PTR>(result);
    ::SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
    return TRUE;
}
