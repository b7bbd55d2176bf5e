#include "ui/controls/accessible.h"

#include <oleacc.h>

#include <memory>
#include <new>

namespace {

constexpr DWORD kFactsTimeoutMs = 5000;

// An object for a window of ours: the facts the window gives, over the platform's standard object
// for the same window, which answers everything else.
class AccessibleObject final : public IAccessible {
public:
    AccessibleObject(HWND window, LONG objectId, IAccessible* standard)
        : m_window(window), m_objectId(objectId), m_standard(standard)
    {
    }
    AccessibleObject(const AccessibleObject&) = delete;
    AccessibleObject& operator=(const AccessibleObject&) = delete;

    // IUnknown. Tools that ask for another interface (IOleWindow, to find the window) get the
    // standard object's, which answers for the same window.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out) return E_POINTER;
        if (iid != __uuidof(IUnknown) && iid != __uuidof(IDispatch) && iid != __uuidof(IAccessible))
            return m_standard->QueryInterface(iid, out);
        *out = static_cast<IAccessible*>(this);
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
        if (Answer(child, Fact::Name, name, nullptr) == S_OK) return S_OK;
        return m_standard->get_accName(child, name);
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override
    {
        if (Answer(child, Fact::Value, value, nullptr) == S_OK) return S_OK;
        return m_standard->get_accValue(child, value);
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override
    {
        if (Answer(child, Fact::Role, nullptr, role) == S_OK) return S_OK;
        return m_standard->get_accRole(child, role);
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override
    {
        const HRESULT result = m_standard->get_accState(child, state);
        if (state && (FAILED(result) || state->vt != VT_I4)) {
            state->vt = VT_I4;
            state->lVal = 0;
        }
        return Answer(child, Fact::State, nullptr, state) == S_OK ? S_OK : result;
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override
    {
        if (Answer(child, Fact::DefaultAction, action, nullptr) == S_OK) return S_OK;
        return m_standard->get_accDefaultAction(child, action);
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override
    {
        if (Answer(child, Fact::DoDefaultAction, nullptr, nullptr) == S_OK) return S_OK;
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
    enum class Fact { Name, Value, Role, State, DefaultAction, DoDefaultAction };

    ~AccessibleObject() { m_standard->Release(); }

    // S_OK with the window's own answer; S_FALSE where the standard object answers (another
    // child, a window that is gone or says nothing of it). The window is asked on its own thread.
    HRESULT Answer(VARIANT child, Fact fact, BSTR* text, VARIANT* number) const
    {
        if (child.vt != VT_I4 || child.lVal != CHILDID_SELF) return S_FALSE;
        // A message that timed out is still delivered once the window's thread gets to it, and
        // the window then fills the facts: they must outlive this call in that case, so they are
        // given up rather than freed (a few bytes, only when the dialog stopped answering).
        std::unique_ptr<AccessibleFacts> request(new (std::nothrow) AccessibleFacts());
        if (!request) return S_FALSE;
        DWORD_PTR filled = FALSE;
        if (!::SendMessageTimeoutW(m_window, AccessibleMessage(), static_cast<WPARAM>(m_objectId),
                                   reinterpret_cast<LPARAM>(request.get()), SMTO_ABORTIFHUNG, kFactsTimeoutMs,
                                   &filled)) {
            if (::GetLastError() != ERROR_INVALID_WINDOW_HANDLE) (void)request.release();
            return S_FALSE;
        }
        if (filled != TRUE) return S_FALSE;
        const AccessibleFacts& facts = *request;
        const std::wstring* answer = nullptr;
        switch (fact) {
        case Fact::Name:
            if (facts.hasName) answer = &facts.name;
            break;
        case Fact::Value:
            if (facts.hasValue) answer = &facts.value;
            break;
        case Fact::DefaultAction:
            if (!facts.defaultAction.empty()) answer = &facts.defaultAction;
            break;
        case Fact::Role:
            if (!facts.role) return S_FALSE;
            if (!number) return E_POINTER;
            number->vt = VT_I4;
            number->lVal = facts.role;
            return S_OK;
        case Fact::State:
            if (!number) return E_POINTER;
            number->lVal = static_cast<LONG>((static_cast<DWORD>(number->lVal) | facts.stateAdded) & ~facts.stateRemoved);
            return S_OK;
        case Fact::DoDefaultAction:
            if (!facts.doesDefaultAction) return S_FALSE;
            return ::PostMessageW(m_window, AccessibleMessage(), static_cast<WPARAM>(m_objectId), 0) ? S_OK : E_FAIL;
        }
        if (!answer) return S_FALSE;
        if (!text) return E_POINTER;
        *text = ::SysAllocStringLen(answer->data(), static_cast<UINT>(answer->size()));
        return *text ? S_OK : E_OUTOFMEMORY;
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

UINT AccessibleMessage()
{
    static const UINT message = ::RegisterWindowMessageW(L"Tarvelo.Controls.Accessible");
    return message;
}

LRESULT AnswerGetObject(HWND window, WPARAM flags, LPARAM objectId, LONG answered)
{
    // Compared as a 32-bit value, as the platform documents it: sign extension on 64-bit
    // Windows must not hide the id.
    const LONG id = static_cast<LONG>(static_cast<DWORD>(objectId));
    if (id != answered) return 0;
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
        std::wstring current(static_cast<size_t>(length) + 1, L'\0');
        current.resize(static_cast<size_t>(::GetWindowTextW(control, &current[0], length + 1)));
        if (current == text) return;
    }
    ::SetWindowTextW(control, text.c_str());
    AnnounceNameChange(control);
}

std::wstring LabelOf(HWND control)
{
    for (HWND sibling = ::GetWindow(control, GW_HWNDPREV); sibling; sibling = ::GetWindow(sibling, GW_HWNDPREV)) {
        if (!::IsWindowVisible(sibling)) continue;
        wchar_t text[256] = {};  // a label longer than this names its field by its beginning
        if (IsStaticText(sibling) && ::GetWindowTextW(sibling, text, 256) > 0) {
            // A static's '&' marks its mnemonic; "&&" stands for an ampersand.
            std::wstring label;
            for (const wchar_t* c = text; *c; ++c) label += (*c == L'&' && c[1]) ? *++c : *c;
            return label;
        }
        if (::GetWindowLongW(sibling, GWL_STYLE) & WS_TABSTOP) break;
    }
    return std::wstring();
}
