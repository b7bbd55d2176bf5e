#include "ui/controls/accessible.h"

#include <oleacc.h>

#include <memory>
#include <new>

namespace {

constexpr DWORD kFactsTimeoutMs = 5000;

// A tear-off: one more interface of our object, made when a tool asks for it. Every other
// interface, IUnknown among them, is asked of the object it belongs to, so that a tool going from
// it back to IUnknown or IAccessible meets our object, never another one.
template <class Interface>
class TearOff : public Interface {
public:
    explicit TearOff(IAccessible* owner) : m_owner(owner) { m_owner->AddRef(); }
    TearOff(const TearOff&) = delete;
    TearOff& operator=(const TearOff&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out) return E_POINTER;
        if (iid != __uuidof(Interface)) return m_owner->QueryInterface(iid, out);
        *out = static_cast<Interface*>(this);
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

protected:
    virtual ~TearOff() { m_owner->Release(); }

private:
    LONG m_refs = 1;
    IAccessible* m_owner;  // one reference
};

// The window the object stands for: tools find it this way (WindowFromAccessibleObject).
class OwnWindow final : public TearOff<IOleWindow> {
public:
    OwnWindow(IAccessible* owner, HWND window) : TearOff(owner), m_window(window) {}
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override
    {
        if (!window) return E_POINTER;
        *window = m_window;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

private:
    HWND m_window;
};

// The standard object's enumeration of the children, offered as ours.
class ChildEnumeration final : public TearOff<IEnumVARIANT> {
public:
    ChildEnumeration(IAccessible* owner, IEnumVARIANT* standard) : TearOff(owner), m_standard(standard) {}
    HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT* items, ULONG* fetched) override
    {
        return m_standard->Next(count, items, fetched);
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override { return m_standard->Skip(count); }
    HRESULT STDMETHODCALLTYPE Reset() override { return m_standard->Reset(); }
    // A copy is an enumeration of its own, with its own identity, as any copy is.
    HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** copy) override { return m_standard->Clone(copy); }

private:
    ~ChildEnumeration() override { m_standard->Release(); }

    IEnumVARIANT* m_standard;  // one reference
};

// An object for a window of ours: the facts the window gives, over the platform's standard object
// for the same window, which answers everything else. It is one COM object with one identity:
// IUnknown, IDispatch and IAccessible are answered here, IOleWindow and the standard object's
// child enumeration by tear-offs of ours, and every other interface is refused. Handing the
// standard object out for those would give COM (IMarshal, IStdMarshalInfo before it marshals)
// and UI Automation (IServiceProvider, IAccessibleEx) the standard object in place of ours,
// without our names, roles and values.
class AccessibleObject final : public IAccessible {
public:
    AccessibleObject(HWND window, LONG objectId, IAccessible* standard)
        : m_window(window), m_objectId(objectId), m_standard(standard)
    {
    }
    AccessibleObject(const AccessibleObject&) = delete;
    AccessibleObject& operator=(const AccessibleObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IDispatch) || iid == __uuidof(IAccessible)) {
            *out = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        IUnknown* tearOff = nullptr;
        if (iid == __uuidof(IOleWindow)) {
            tearOff = new (std::nothrow) OwnWindow(this, m_window);
        } else if (iid == __uuidof(IEnumVARIANT)) {
            IEnumVARIANT* standard = nullptr;
            if (FAILED(m_standard->QueryInterface(__uuidof(IEnumVARIANT), reinterpret_cast<void**>(&standard))) ||
                !standard)
                return E_NOINTERFACE;
            tearOff = new (std::nothrow) ChildEnumeration(this, standard);
            if (!tearOff) standard->Release();
        } else {
            return E_NOINTERFACE;
        }
        if (!tearOff) return E_OUTOFMEMORY;
        *out = tearOff;  // the interface asked for: each tear-off has only it besides IUnknown's
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

HRESULT CreateAccessibleObject(HWND window, LONG objectId, IAccessible** object)
{
    if (!object) return E_POINTER;
    *object = nullptr;
    IAccessible* standard = nullptr;
    const HRESULT made =
        ::CreateStdAccessibleObject(window, objectId, __uuidof(IAccessible), reinterpret_cast<void**>(&standard));
    if (FAILED(made) || !standard) return FAILED(made) ? made : E_FAIL;
    AccessibleObject* ours = new (std::nothrow) AccessibleObject(window, objectId, standard);
    if (!ours) {
        standard->Release();
        return E_OUTOFMEMORY;
    }
    *object = ours;
    return S_OK;
}

LRESULT AnswerGetObject(HWND window, WPARAM flags, LPARAM objectId, bool windowObjectToo)
{
    // Compared as a 32-bit value, as the platform documents it: sign extension on 64-bit
    // Windows must not hide the id.
    const LONG id = static_cast<LONG>(static_cast<DWORD>(objectId));
    if (id != OBJID_CLIENT && !(windowObjectToo && id == OBJID_WINDOW)) return 0;
    IAccessible* object = nullptr;
    if (FAILED(CreateAccessibleObject(window, id, &object))) return 0;
    // Marshalled for the tool here, on the window's thread: its apartment serves the object.
    const LRESULT result = ::LresultFromObject(__uuidof(IAccessible), flags, object);
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

void SetTextAnnounced(HWND control, const std::wstring& text, Announce announce)
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
    // Raised everywhere: Windows before 8 does not know the event, and nobody listens for it there.
    if (announce == Announce::LiveRegion)
        ::NotifyWinEvent(EVENT_OBJECT_LIVEREGIONCHANGED, control, OBJID_CLIENT, CHILDID_SELF);
}

namespace {
// UI Automation's LiveSetting property and the annotation service, spelt out here: the import
// libraries do not define them.
const GUID kLiveSettingProperty = {0xc12bcd8e, 0x2a8e, 0x4950, {0x8a, 0xe7, 0x36, 0x25, 0x11, 0x1d, 0x58, 0xeb}};
const CLSID kAccPropServicesClass = {0xb5f8350b, 0x0548, 0x48b1, {0xa6, 0xee, 0x88, 0xbd, 0x00, 0xb4, 0xa5, 0xe7}};
const IID kAccPropServicesInterface = {0x6e26e776, 0x04f0, 0x495d, {0x80, 0xe4, 0x33, 0x30, 0x35, 0x2e, 0x31, 0x69}};
constexpr LONG kPoliteLiveSetting = 1;  // LiveSetting: Off 0, Polite 1, Assertive 2
}  // namespace

int MarkLiveRegions(const HWND* controls, size_t count, bool live)
{
    IAccPropServices* services = nullptr;
    if (FAILED(::CoCreateInstance(kAccPropServicesClass, nullptr, CLSCTX_INPROC_SERVER, kAccPropServicesInterface,
                                  reinterpret_cast<void**>(&services))) ||
        !services)
        return 0;
    int marked = 0;
    for (size_t i = 0; i < count; ++i) {
        if (!controls[i]) continue;
        HRESULT result = E_FAIL;
        if (live) {
            VARIANT setting;
            ::VariantInit(&setting);
            setting.vt = VT_I4;
            setting.lVal = kPoliteLiveSetting;
            result = services->SetHwndProp(controls[i], static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                           kLiveSettingProperty, setting);
        } else {
            MSAAPROPID property = kLiveSettingProperty;
            result = services->ClearHwndProps(controls[i], static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, &property, 1);
        }
        marked += SUCCEEDED(result);
    }
    services->Release();
    return marked;
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
