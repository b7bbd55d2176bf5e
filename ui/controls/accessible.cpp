#include "ui/controls/accessible.h"

#include <oleacc.h>

#include <new>
#include <vector>

namespace {

constexpr DWORD kFactsTimeoutMs = 5000;

bool IsSelf(const VARIANT& child) { return child.vt == VT_I4 && child.lVal == CHILDID_SELF; }

HRESULT ReturnText(const std::wstring& text, BSTR* out)
{
    if (!out) return E_POINTER;
    *out = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

// An object for a window of ours: the facts the window gives, over the platform's standard object
// for the same window, which answers everything else.
class AccessibleObject final : public IAccessible, public IOleWindow {
public:
    AccessibleObject(HWND window, LONG objectId, IAccessible* standard)
        : m_window(window), m_objectId(objectId), m_standard(standard)
    {
    }
    AccessibleObject(const AccessibleObject&) = delete;
    AccessibleObject& operator=(const AccessibleObject&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IDispatch) || iid == __uuidof(IAccessible))
            *out = static_cast<IAccessible*>(this);
        else if (iid == __uuidof(IOleWindow))
            *out = static_cast<IOleWindow*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&m_refs)); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG refs = ::InterlockedDecrement(&m_refs);
        if (refs == 0) delete this;
        return static_cast<ULONG>(refs);
    }

    // IOleWindow: tools find the window of an object this way.
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override
    {
        if (!window) return E_POINTER;
        *window = m_window;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IDispatch: the standard object's.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return m_standard->GetTypeInfoCount(count); }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override
    {
        return m_standard->GetTypeInfo(index, locale, info);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override
    {
        return m_standard->GetIDsOfNames(iid, names, count, locale, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argError) override
    {
        return m_standard->Invoke(id, iid, locale, flags, params, result, exception, argError);
    }

    // IAccessible: the window's facts where it has them.
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override
    {
        AccessibleFacts facts;
        if (IsSelf(child) && Facts(&facts) && facts.hasName) return ReturnText(facts.name, name);
        return m_standard->get_accName(child, name);
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override
    {
        AccessibleFacts facts;
        if (IsSelf(child) && Facts(&facts) && facts.hasValue) return ReturnText(facts.value, value);
        return m_standard->get_accValue(child, value);
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override
    {
        AccessibleFacts facts;
        if (IsSelf(child) && Facts(&facts) && facts.role) {
            if (!role) return E_POINTER;
            role->vt = VT_I4;
            role->lVal = facts.role;
            return S_OK;
        }
        return m_standard->get_accRole(child, role);
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override
    {
        const HRESULT result = m_standard->get_accState(child, state);
        AccessibleFacts facts;
        if (!IsSelf(child) || !state || !Facts(&facts)) return result;
        const LONG base = SUCCEEDED(result) && state->vt == VT_I4 ? state->lVal : 0;
        state->vt = VT_I4;
        state->lVal = static_cast<LONG>((static_cast<DWORD>(base) | facts.stateAdded) & ~facts.stateRemoved);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override
    {
        AccessibleFacts facts;
        if (IsSelf(child) && Facts(&facts) && !facts.defaultAction.empty()) return ReturnText(facts.defaultAction, action);
        return m_standard->get_accDefaultAction(child, action);
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override
    {
        AccessibleFacts facts;
        if (IsSelf(child) && Facts(&facts) && facts.doesDefaultAction)
            return ::PostMessageW(m_window, AccessibleActionMessage(), static_cast<WPARAM>(m_objectId), 0) ? S_OK
                                                                                                           : E_FAIL;
        return m_standard->accDoDefaultAction(child);
    }

    // Everything else: the standard object's.
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override { return m_standard->get_accParent(parent); }
    HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override { return m_standard->get_accChildCount(count); }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** object) override
    {
        return m_standard->get_accChild(child, object);
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) override
    {
        return m_standard->get_accDescription(child, text);
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* text) override { return m_standard->get_accHelp(child, text); }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, LONG* topic) override
    {
        return m_standard->get_accHelpTopic(file, child, topic);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* text) override
    {
        return m_standard->get_accKeyboardShortcut(child, text);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* child) override { return m_standard->get_accFocus(child); }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* children) override { return m_standard->get_accSelection(children); }
    HRESULT STDMETHODCALLTYPE accSelect(LONG flags, VARIANT child) override { return m_standard->accSelect(flags, child); }
    HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height, VARIANT child) override
    {
        return m_standard->accLocation(left, top, width, height, child);
    }
    HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* end) override
    {
        return m_standard->accNavigate(direction, start, end);
    }
    HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* child) override
    {
        return m_standard->accHitTest(x, y, child);
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT child, BSTR name) override { return m_standard->put_accName(child, name); }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override
    {
        return m_standard->put_accValue(child, value);
    }

private:
    ~AccessibleObject() { m_standard->Release(); }

    // Asked of the window on its own thread; false when the window is gone or does not answer.
    bool Facts(AccessibleFacts* facts) const
    {
        DWORD_PTR filled = FALSE;
        return ::SendMessageTimeoutW(m_window, AccessibleFactsMessage(), static_cast<WPARAM>(m_objectId),
                                     reinterpret_cast<LPARAM>(facts), SMTO_ABORTIFHUNG, kFactsTimeoutMs, &filled) &&
               filled == TRUE;
    }

    LONG m_refs = 1;
    HWND m_window;
    LONG m_objectId;
    IAccessible* m_standard;  // owned: one reference
};

bool IsStaticText(HWND window)
{
    wchar_t name[16] = {};
    ::GetClassNameW(window, name, 16);
    if (::lstrcmpiW(name, L"Static") != 0) return false;
    const LONG type = ::GetWindowLongW(window, GWL_STYLE) & SS_TYPEMASK;
    return type != SS_BITMAP && type != SS_ICON && type != SS_ENHMETAFILE && type != SS_OWNERDRAW;
}

}  // namespace

UINT AccessibleFactsMessage()
{
    static const UINT message = ::RegisterWindowMessageW(L"Tarvelo.Controls.AccessibleFacts");
    return message;
}

UINT AccessibleActionMessage()
{
    static const UINT message = ::RegisterWindowMessageW(L"Tarvelo.Controls.AccessibleAction");
    return message;
}

LRESULT AnswerGetObject(HWND window, WPARAM flags, LPARAM objectId)
{
    const LONG id = static_cast<LONG>(static_cast<DWORD>(objectId));
    IAccessible* standard = nullptr;
    if (FAILED(::CreateStdAccessibleObject(window, id, __uuidof(IAccessible), reinterpret_cast<void**>(&standard))) ||
        !standard)
        return 0;
    AccessibleObject* object = new (std::nothrow) AccessibleObject(window, id, standard);
    if (!object) {
        standard->Release();
        return 0;
    }
    const LRESULT result = ::LresultFromObject(__uuidof(IAccessible), flags, static_cast<IAccessible*>(object));
    object->Release();  // the reference made for the tool holds it now
    return result > 0 ? result : 0;
}

void AnnounceNameChange(HWND window)
{
    if (window) ::NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, window, OBJID_CLIENT, CHILDID_SELF);
}

void AnnounceValueChange(HWND window)
{
    if (window) ::NotifyWinEvent(EVENT_OBJECT_VALUECHANGE, window, OBJID_CLIENT, CHILDID_SELF);
}

void SetTextAnnounced(HWND control, const std::wstring& text)
{
    if (!control) return;
    // The same text again is no news for a listener.
    const int length = ::GetWindowTextLengthW(control);
    if (length == static_cast<int>(text.size())) {
        std::vector<wchar_t> current(static_cast<size_t>(length) + 1, L'\0');
        ::GetWindowTextW(control, current.data(), length + 1);
        if (text.compare(0, text.size(), current.data(), static_cast<size_t>(length)) == 0) return;
    }
    ::SetWindowTextW(control, text.c_str());
    AnnounceNameChange(control);
}

std::wstring LabelOf(HWND control)
{
    for (HWND sibling = ::GetWindow(control, GW_HWNDPREV); sibling; sibling = ::GetWindow(sibling, GW_HWNDPREV)) {
        if (!::IsWindowVisible(sibling)) continue;
        if (IsStaticText(sibling)) {
            const int length = ::GetWindowTextLengthW(sibling);
            if (length <= 0) continue;
            std::vector<wchar_t> text(static_cast<size_t>(length) + 1, L'\0');
            const int copied = ::GetWindowTextW(sibling, text.data(), length + 1);
            std::wstring label;
            // A static's '&' marks its mnemonic; "&&" stands for an ampersand.
            for (int i = 0; i < copied; ++i) {
                if (text[i] == L'&' && i + 1 < copied) ++i;
                label += text[i];
            }
            return label;
        }
        if (::GetWindowLongW(sibling, GWL_STYLE) & WS_TABSTOP) break;
    }
    return std::wstring();
}
