// What a screen reader finds in every dialog in every state: asked in process the way a screen
// reader asks (AccessibleObjectFromWindow, which sends WM_GETOBJECT), and from a program of its
// own in another process (tests/tools/screen_reader.cpp), where the answers come marshalled
// through COM from the dialog's thread; and what it hears.
// Wine gives every standard control the generic client role and cannot name a window by
// annotation, so roles are checked only where our own objects answer; names and values
// everywhere.
#include <windows.h>
#include <oleacc.h>
#include <servprov.h>
#include <uiautomationcore.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "resources/resource.h"
#include "support/dialog_driver.h"
#include "support/dialog_scenes.h"
#include "support/process_start.h"
#include "support/progress_run.h"
#include "support/scratch_folder.h"
#include "support/win_event_recorder.h"
#include "ui/controls/accessible.h"
#include "ui/controls/portable/progress_math.h"
#include "ui/dialogs/dependency_dialog.h"

using namespace dialog_driver;
using dialog_scenes::Scene;

namespace {

// A screen reader is a COM client: the objects of dialogs on other threads reach it marshalled.
class ClientEnvironment : public RunFolderEnvironment {
public:
    void SetUp() override
    {
        RunFolderEnvironment::SetUp();
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    }
    void TearDown() override { CoUninitialize(); }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new ClientEnvironment);

// One accessible object, as a screen reader holds it.
class Accessible {
public:
    Accessible(HWND window, LONG objectId)
    {
        AccessibleObjectFromWindow(window, static_cast<DWORD>(objectId), __uuidof(IAccessible),
                                   reinterpret_cast<void**>(&m_object));
    }
    ~Accessible()
    {
        if (m_object) m_object->Release();
    }
    Accessible(const Accessible&) = delete;
    Accessible& operator=(const Accessible&) = delete;

    explicit operator bool() const { return m_object != nullptr; }
    std::wstring Name() const { return Text(&IAccessible::get_accName); }
    std::wstring Value() const { return Text(&IAccessible::get_accValue); }
    std::wstring DefaultAction() const { return Text(&IAccessible::get_accDefaultAction); }
    LONG Role() const { return Number(&IAccessible::get_accRole); }
    LONG State() const { return Number(&IAccessible::get_accState); }
    HRESULT DoDefaultAction() const { return m_object ? m_object->accDoDefaultAction(Self()) : E_FAIL; }

private:
    static VARIANT Self()
    {
        VARIANT self;
        self.vt = VT_I4;
        self.lVal = CHILDID_SELF;
        return self;
    }
    std::wstring Text(HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, BSTR*)) const
    {
        BSTR text = nullptr;
        if (!m_object || FAILED((m_object->*get)(Self(), &text)) || !text) return std::wstring();
        std::wstring result(text, SysStringLen(text));
        SysFreeString(text);
        return result;
    }
    LONG Number(HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, VARIANT*)) const
    {
        VARIANT value;
        value.vt = VT_EMPTY;
        if (!m_object || FAILED((m_object->*get)(Self(), &value)) || value.vt != VT_I4) return -1;
        return value.lVal;
    }

    IAccessible* m_object = nullptr;
};

// What a screen reader learns of one object.
struct Facts {
    bool found = false;
    LONG role = -1;
    LONG state = -1;
    std::wstring name, value, action;
};
using Reader = std::function<Facts(HWND window, LONG objectId)>;

Facts InProcess(HWND window, LONG objectId)
{
    Accessible object(window, objectId);
    Facts facts;
    facts.found = static_cast<bool>(object);
    if (!object) return facts;
    facts.role = object.Role();
    facts.state = object.State();
    facts.name = object.Name();
    facts.value = object.Value();
    facts.action = object.DefaultAction();
    return facts;
}

// What tests/tools/screen_reader.exe, in a process and an apartment of its own, read of a dialog:
// its window and client objects and each control's client object.
class OtherProcess {
public:
    explicit OtherProcess(HWND dialog) : m_dialog(dialog)
    {
        const std::wstring output = Run(dialog);
        size_t start = 0;
        while (start < output.size()) {
            size_t end = output.find(L'\n', start);
            if (end == std::wstring::npos) end = output.size();
            Take(Fields(output.substr(start, end - start)));
            start = end + 1;
        }
    }
    bool Ran() const { return !m_facts.empty(); }
    Facts operator()(HWND window, LONG objectId) const
    {
        const auto found = m_facts.find({window == m_dialog ? 0 : GetDlgCtrlID(window), objectId});
        return found == m_facts.end() ? Facts() : found->second;
    }

private:
    static std::wstring Run(HWND dialog)
    {
        SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
        HANDLE read = nullptr, write = nullptr;
        if (!CreatePipe(&read, &write, &inherit, 0)) return std::wstring();
        SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = write;
        startup.hStdError = write;
        std::wstring line = L"\"" + BuildTreePath(L"screen_reader.exe") + L"\" " +
                            std::to_wstring(reinterpret_cast<INT_PTR>(dialog));
        PROCESS_INFORMATION info{};
        const BOOL started =
            CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info);
        CloseHandle(write);
        std::string bytes;
        char buffer[4096];
        DWORD got = 0;
        while (started && ReadFile(read, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
        CloseHandle(read);
        if (!started) return std::wstring();
        WaitForSingleObject(info.hProcess, WaitLimitMs());
        CloseHandle(info.hProcess);
        CloseHandle(info.hThread);
        return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    }
    static std::vector<std::wstring> Fields(const std::wstring& line)
    {
        std::vector<std::wstring> fields(1);
        for (size_t i = 0; i < line.size(); ++i) {
            if (line[i] == L'\t') {
                fields.emplace_back();
            } else if (line[i] == L'\\' && i + 1 < line.size()) {
                const wchar_t next = line[++i];
                fields.back() += next == L't' ? L'\t' : next == L'n' ? L'\n' : next;
            } else {
                fields.back() += line[i];
            }
        }
        return fields;
    }
    void Take(const std::vector<std::wstring>& f)
    {
        if (f.size() != 8) return;
        Facts facts;
        facts.role = std::stol(f[3]);
        facts.state = std::stol(f[4]);
        facts.found = facts.role != -1 || !f[5].empty();
        facts.name = f[5];
        facts.value = f[6];
        facts.action = f[7];
        const LONG objectId = f[0] == L"window" ? OBJID_WINDOW : OBJID_CLIENT;
        m_facts[{f[0] == L"control" ? std::stoi(f[1]) : 0, objectId}] = facts;
    }

    HWND m_dialog;
    std::map<std::pair<int, LONG>, Facts> m_facts;  // by control id (0: the dialog) and object
};

// The COM apartment of the thread that runs `window`, asked on that thread: a hook of that
// thread sees the probe sent to the window.
UINT ApartmentProbe()
{
    static const UINT probe = RegisterWindowMessageW(L"Tarvelo.Tests.ApartmentProbe");
    return probe;
}
HRESULT g_apartmentAsked = E_FAIL;
APTTYPE g_apartment = APTTYPE_CURRENT;

LRESULT CALLBACK ApartmentHook(int code, WPARAM wParam, LPARAM lParam)
{
    const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    APTTYPEQUALIFIER qualifier;
    if (code == HC_ACTION && sent->message == ApartmentProbe()) g_apartmentAsked = CoGetApartmentType(&g_apartment, &qualifier);
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

bool RunsInSingleThreadedApartment(HWND window)
{
    g_apartmentAsked = E_FAIL;
    // Asked from a thread of its own: under Wine a thread that has set and removed a hook no
    // longer raises WinEvents to hooks set after that by other threads (as the recorder's are).
    std::thread asker([window] {
        HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, ApartmentHook, nullptr, GetWindowThreadProcessId(window, nullptr));
        if (!hook) return;
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(window, ApartmentProbe(), 0, 0, SMTO_NORMAL, WaitLimitMs(), &ignored);
        UnhookWindowsHookEx(hook);
    });
    asker.join();
    return SUCCEEDED(g_apartmentAsked) && (g_apartment == APTTYPE_STA || g_apartment == APTTYPE_MAINSTA);
}

bool ShowsImage(HWND control)
{
    wchar_t name[16] = {};
    GetClassNameW(control, name, 16);
    const LONG type = GetWindowLongW(control, GWL_STYLE) & SS_TYPEMASK;
    return lstrcmpiW(name, L"Static") == 0 && (type == SS_BITMAP || type == SS_ICON || type == SS_ENHMETAFILE);
}

bool IsEdit(HWND control)
{
    wchar_t name[16] = {};
    GetClassNameW(control, name, 16);
    return lstrcmpiW(name, L"Edit") == 0;
}

// The label that names each field of the two prompts.
const wchar_t* FieldLabelKey(int id)
{
    switch (id) {
    case IDC_PROXY_SERVER: return L"HTTP_PROXY";
    case IDC_PROXY_PORT: return L"HTTP_PORT";
    case IDC_USER_NAME: return L"USER_NAME";
    case IDC_PASSWORD: return L"PASSWORD";
    default: return nullptr;
    }
}

// What every screen reader must find in a dialog state, however it asks.
void ExpectReadable(const Scene& scene, const Reader& read)
{
    // The dialog is announced as a dialog, by the text that heads it, whether the reader comes to
    // it as a window or through its client area.
    const int heading = GetDlgItem(scene.window, IDC_CAPTION) ? IDC_CAPTION : IDC_SMALL_HEADLINE;
    for (LONG objectId : {OBJID_WINDOW, OBJID_CLIENT}) {
        const Facts dialog = read(scene.window, objectId);
        ASSERT_TRUE(dialog.found) << "object " << objectId;
        EXPECT_EQ(dialog.role, ROLE_SYSTEM_DIALOG) << "object " << objectId;
        EXPECT_EQ(dialog.name, ControlText(scene.window, heading)) << "object " << objectId;
        EXPECT_FALSE(dialog.name.empty()) << "object " << objectId;
    }

    // Every text a person must read, by its text.
    for (const dialog_scenes::KeyedControl& c : scene.texts) {
        const std::string where = Narrow(c.key) + " in control " + std::to_string(c.id);
        const Facts control = read(GetDlgItem(scene.window, c.id), OBJID_CLIENT);
        ASSERT_TRUE(control.found) << where;
        EXPECT_EQ(control.name, Text(c.key)) << where;
        if (c.id == IDC_TOUR_LINK || c.id == IDC_LINK) {
            // The link: a link, whose value is where it leads.
            EXPECT_EQ(control.role, ROLE_SYSTEM_LINK) << where;
            EXPECT_EQ(control.value, c.id == IDC_TOUR_LINK ? std::wstring(DependencyDialog::kProductTourUrl)
                                                           : std::wstring(L"http://www.tarvelo.com/r/1.3/requirements"))
                << where;
            EXPECT_TRUE(control.state & STATE_SYSTEM_LINKED) << where;
            EXPECT_FALSE(control.action.empty()) << where;
        }
    }

    // The close control: the localized word for closing, as a push button.
    if (HWND close = GetDlgItem(scene.window, IDC_CLOSE_CONTROL)) {
        const Facts control = read(close, OBJID_CLIENT);
        EXPECT_EQ(control.role, ROLE_SYSTEM_PUSHBUTTON);
        EXPECT_EQ(control.name, Text(L"CLOSE_CONTROL"));
        EXPECT_FALSE(control.action.empty());
    }

    // The progress bar: a progress bar named by its line, whose value is the percentage.
    if (HWND bar = GetDlgItem(scene.window, IDC_PROGRESS)) {
        const Facts control = read(bar, OBJID_CLIENT);
        EXPECT_EQ(control.role, ROLE_SYSTEM_PROGRESSBAR);
        EXPECT_EQ(control.name, ControlText(scene.window, IDC_PROGRESS_LINE));
        const int position = static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0));
        EXPECT_EQ(control.value, FormatPercent(position));
    }

    // Whatever a reader can reach has a name: every visible control that takes the keyboard, and
    // every visible link (an empty link would be read as "link" and lead nowhere).
    for (HWND child = GetWindow(scene.window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!IsWindowVisible(child) || IsEdit(child)) continue;
        const int id = GetDlgCtrlID(child);
        const Facts control = read(child, OBJID_CLIENT);
        if ((GetWindowLongW(child, GWL_STYLE) & WS_TABSTOP) || control.role == ROLE_SYSTEM_LINK) {
            EXPECT_FALSE(control.name.empty()) << "control " << id << " has no name";
        }
    }
}

TEST(Accessibility, EveryDialogStateIsReadableByAScreenReader)
{
    int scenes = 0;
    dialog_scenes::VisitEveryDialogState([&](const Scene& scene) {
        const std::string name = Narrow(scene.name);
        SCOPED_TRACE(name);
        ++scenes;
        ASSERT_NE(scene.window, nullptr);
        // Its thread serves the dialog's objects to other processes only as an apartment.
        EXPECT_TRUE(RunsInSingleThreadedApartment(scene.window));
        ExpectReadable(scene, InProcess);

        // The fields are named by the label just before them; no image is there only to be read
        // aloud.
        for (HWND child = GetWindow(scene.window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            if (!IsWindowVisible(child)) continue;
            const int id = GetDlgCtrlID(child);
            if (IsEdit(child)) {
                const wchar_t* key = FieldLabelKey(id);
                ASSERT_NE(key, nullptr) << "field " << id;
                EXPECT_EQ(LabelOf(child), Text(key)) << "field " << id;
            }
            if (ShowsImage(child)) {
                Accessible image(child, OBJID_CLIENT);
                EXPECT_EQ(image.Role(), ROLE_SYSTEM_PUSHBUTTON) << "image " << id << " is not something to press";
                EXPECT_FALSE(image.Name().empty()) << "image " << id;
            }
        }
    });
    EXPECT_EQ(scenes, 15);
}

// The same from another process, as Narrator and NVDA read us: everything a screen reader is
// told comes through COM from the dialog's own thread.
TEST(Accessibility, EveryDialogStateIsReadableFromAnotherProcess)
{
    int scenes = 0;
    dialog_scenes::VisitEveryDialogState([&](const Scene& scene) {
        SCOPED_TRACE(Narrow(scene.name));
        ++scenes;
        ASSERT_NE(scene.window, nullptr);
        const OtherProcess reader(scene.window);
        ASSERT_TRUE(reader.Ran()) << "screen_reader.exe read nothing";
        ExpectReadable(scene, std::cref(reader));
    });
    EXPECT_EQ(scenes, 15);
}

// One COM object with one identity: the interfaces it implements lead back to it, and it refuses
// what it does not implement instead of handing over the platform's object, which COM would then
// marshal and UI Automation would ask in its place.
TEST(Accessibility, ObjectKeepsItsIdentityAndRefusesWhatItDoesNotImplement)
{
    ProgressRun run(TRUE);
    ASSERT_NE(run.window, nullptr);
    for (HWND window : {GetDlgItem(run.window, IDC_CLOSE_CONTROL), GetDlgItem(run.window, IDC_PROGRESS), run.window}) {
        SCOPED_TRACE(GetDlgCtrlID(window));
        IAccessible* object = nullptr;
        ASSERT_EQ(CreateAccessibleObject(window, OBJID_CLIENT, &object), S_OK);
        IUnknown* identity = nullptr;
        ASSERT_EQ(object->QueryInterface(__uuidof(IUnknown), reinterpret_cast<void**>(&identity)), S_OK);
        for (REFIID iid : {__uuidof(IAccessible), __uuidof(IDispatch), __uuidof(IOleWindow), __uuidof(IEnumVARIANT)}) {
            IUnknown* offered = nullptr;
            if (object->QueryInterface(iid, reinterpret_cast<void**>(&offered)) != S_OK) {
                EXPECT_TRUE(iid == __uuidof(IEnumVARIANT)) << "only the child enumeration may be missing";
                continue;
            }
            IUnknown* back = nullptr;
            ASSERT_EQ(offered->QueryInterface(__uuidof(IUnknown), reinterpret_cast<void**>(&back)), S_OK);
            EXPECT_EQ(back, identity);
            back->Release();
            offered->Release();
        }
        IOleWindow* oleWindow = nullptr;
        ASSERT_EQ(object->QueryInterface(__uuidof(IOleWindow), reinterpret_cast<void**>(&oleWindow)), S_OK);
        HWND found = nullptr;
        EXPECT_EQ(oleWindow->GetWindow(&found), S_OK);
        EXPECT_EQ(found, window);
        oleWindow->Release();
        // IMarshal, IStdMarshalInfo: COM's questions before it marshals; IServiceProvider: UI
        // Automation's way to IAccessibleEx.
        const IID refused[] = {__uuidof(IMarshal), __uuidof(IStdMarshalInfo), __uuidof(IServiceProvider),
                               __uuidof(IAccessibleEx)};
        for (const IID& iid : refused) {
            void* out = reinterpret_cast<void*>(1);
            EXPECT_EQ(object->QueryInterface(iid, &out), E_NOINTERFACE);
            EXPECT_EQ(out, nullptr);
        }
        identity->Release();
        object->Release();
    }
    EXPECT_EQ(run.End(), 0);
}

// What a screen reader hears while the progress dialog works: each change of the percentage
// (not each repaint), and each text that changes (not one set to what it was), which as a live
// region it speaks although the text does not have the focus.
TEST(Accessibility, ProgressDialogAnnouncesTheBarAndItsTexts)
{
    WinEventRecorder events;
    ASSERT_TRUE(events.Hooked());
    ProgressRun run(TRUE);
    ASSERT_NE(run.window, nullptr);
    HWND bar = GetDlgItem(run.window, IDC_PROGRESS);
    HWND caption = GetDlgItem(run.window, IDC_CAPTION);
    HWND body = GetDlgItem(run.window, IDC_BODY);
    HWND bold = GetDlgItem(run.window, IDC_HEADLINE);
    HWND line = GetDlgItem(run.window, IDC_PROGRESS_LINE);
    events.Settle();
    events.Clear();

    run.dialog->SetProgressPos(10);
    run.dialog->SetProgressPos(10);
    run.dialog->SetProgressPos(11);
    ASSERT_TRUE(SettleProgressDialog(run.window));
    events.Settle();
    EXPECT_EQ(events.Count(EVENT_OBJECT_VALUECHANGE, bar), 2);
    EXPECT_EQ(Accessible(bar, OBJID_CLIENT).Value(), L"11%");

    run.dialog->SetHeaderTexts(Text(L"DIALOG_CAPTION"), Text(L"INSTALLING_DOTNET"));
    run.dialog->SetStatusTexts(Text(L"INSTALLING_BOLD_TEXT"), Text(L"PROGRESS_BAR_INSTALLING_TEXT"));
    run.dialog->SetHeaderTexts(Text(L"DIALOG_CAPTION"), Text(L"INSTALLING_DOTNET"));
    ASSERT_TRUE(SettleProgressDialog(run.window));
    events.Settle();
    for (HWND changed : {body, bold, line}) {
        EXPECT_EQ(events.Count(EVENT_OBJECT_NAMECHANGE, changed), 1) << GetDlgCtrlID(changed);
        EXPECT_EQ(events.Count(EVENT_OBJECT_LIVEREGIONCHANGED, changed), 1) << GetDlgCtrlID(changed);
    }
    EXPECT_EQ(events.Count(EVENT_OBJECT_NAMECHANGE, caption), 0);
    EXPECT_EQ(events.Count(EVENT_OBJECT_LIVEREGIONCHANGED, caption), 0);
    EXPECT_EQ(Accessible(body, OBJID_CLIENT).Name(), Text(L"INSTALLING_DOTNET"));
    EXPECT_EQ(Accessible(line, OBJID_CLIENT).Name(), Text(L"PROGRESS_BAR_INSTALLING_TEXT"));
    EXPECT_EQ(run.End(), 0);
}

// A screen reader's default action does what a click does: the close control asks before
// quitting (and is unavailable while it is disabled), the link opens its page.
TEST(Accessibility, DefaultActionsDoWhatAClickDoes)
{
    std::vector<std::wstring> started;
    SetProcessStartHookForTesting([&](const std::wstring& line) {
        started.push_back(line);
        return true;
    });
    ProgressRun run(TRUE);
    ASSERT_NE(run.window, nullptr);
    HWND close = GetDlgItem(run.window, IDC_CLOSE_CONTROL);

    Accessible link(GetDlgItem(run.window, IDC_TOUR_LINK), OBJID_CLIENT);
    EXPECT_EQ(link.DoDefaultAction(), S_OK);
    EXPECT_TRUE(WaitUntil([&] { return !started.empty(); }));
    ASSERT_EQ(started.size(), 1u);
    EXPECT_NE(started[0].find(DependencyDialog::kProductTourUrl), std::wstring::npos);

    run.dialog->HideButton(FALSE, FALSE);
    {
        Accessible control(close, OBJID_CLIENT);
        EXPECT_FALSE(control.State() & STATE_SYSTEM_UNAVAILABLE);
        EXPECT_EQ(control.DoDefaultAction(), S_OK);
    }
    HWND question = WaitForDialog(IDD_SMALLER_DIALOG, WaitLimitMs(), run.window);
    ASSERT_NE(question, nullptr) << "the quit confirmation did not open";
    EXPECT_EQ(Accessible(question, OBJID_WINDOW).Name(), Text(L"QUIT_INSTALLING_CAPTION"));
    ClickButton(question, IDCANCEL);
    EXPECT_TRUE(WaitForClosed(question));

    run.dialog->HideButton(TRUE, TRUE);
    EXPECT_TRUE(Accessible(close, OBJID_CLIENT).State() & STATE_SYSTEM_UNAVAILABLE);
    EXPECT_EQ(run.End(), 0);
    SetProcessStartHookForTesting(nullptr);
}

// A tool that keeps an object after its control is gone gets failures, not a crash.
TEST(Accessibility, ObjectOutlivingItsControlFailsCleanly)
{
    IAccessible* kept = nullptr;
    {
        ProgressRun run(TRUE);
        ASSERT_NE(run.window, nullptr);
        AccessibleObjectFromWindow(GetDlgItem(run.window, IDC_CLOSE_CONTROL), static_cast<DWORD>(OBJID_CLIENT),
                                   __uuidof(IAccessible), reinterpret_cast<void**>(&kept));
        ASSERT_NE(kept, nullptr);
        EXPECT_EQ(run.End(), 0);
    }
    VARIANT self;
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    VARIANT role;
    role.vt = VT_EMPTY;
    // The window is gone: the platform's part answers as it does for a dead window.
    const HRESULT result = kept->get_accRole(self, &role);
    EXPECT_TRUE(FAILED(result) || role.vt != VT_I4 || role.lVal != ROLE_SYSTEM_PUSHBUTTON);
    EXPECT_EQ(kept->accDoDefaultAction(self) == S_OK, false);
    kept->Release();
}

}  // namespace
