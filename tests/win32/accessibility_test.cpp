// What a screen reader finds in every dialog in every state, asked in process the way a screen
// reader asks (AccessibleObjectFromWindow, which sends WM_GETOBJECT), and what it hears.
// Wine gives every standard control the generic client role and cannot name a window by
// annotation, so roles are checked only where our own objects answer; names and values
// everywhere.
#include <windows.h>
#include <oleacc.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resources/resource.h"
#include "support/dialog_driver.h"
#include "support/dialog_scenes.h"
#include "support/process_start.h"
#include "support/progress_run.h"
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

TEST(Accessibility, EveryDialogStateIsReadableByAScreenReader)
{
    int scenes = 0;
    dialog_scenes::VisitEveryDialogState([&](const Scene& scene) {
        const std::string name = Narrow(scene.name);
        SCOPED_TRACE(name);
        ++scenes;
        ASSERT_NE(scene.window, nullptr);

        // The dialog is announced as a dialog, by the text that heads it.
        const int heading = GetDlgItem(scene.window, IDC_CAPTION) ? IDC_CAPTION : IDC_SMALL_HEADLINE;
        Accessible dialog(scene.window, OBJID_WINDOW);
        ASSERT_TRUE(dialog);
        EXPECT_EQ(dialog.Role(), ROLE_SYSTEM_DIALOG);
        EXPECT_EQ(dialog.Name(), ControlText(scene.window, heading));
        EXPECT_FALSE(dialog.Name().empty());

        // Every text a person must read, by its text.
        for (const dialog_scenes::KeyedControl& c : scene.texts) {
            const std::string where = Narrow(c.key) + " in control " + std::to_string(c.id);
            Accessible control(GetDlgItem(scene.window, c.id), OBJID_CLIENT);
            ASSERT_TRUE(control) << where;
            EXPECT_EQ(control.Name(), Text(c.key)) << where;
            if (c.id == IDC_TOUR_LINK || c.id == IDC_LINK) {
                // The link: a link, whose value is where it leads.
                EXPECT_EQ(control.Role(), ROLE_SYSTEM_LINK) << where;
                EXPECT_EQ(control.Value(), c.id == IDC_TOUR_LINK ? std::wstring(DependencyDialog::kProductTourUrl)
                                                                 : std::wstring(L"http://www.tarvelo.com/r/1.3/requirements"))
                    << where;
                EXPECT_TRUE(control.State() & STATE_SYSTEM_LINKED) << where;
                EXPECT_FALSE(control.DefaultAction().empty()) << where;
            }
        }

        // The close control: the localized word for closing, as a push button.
        if (HWND close = GetDlgItem(scene.window, IDC_CLOSE_CONTROL)) {
            Accessible control(close, OBJID_CLIENT);
            EXPECT_EQ(control.Role(), ROLE_SYSTEM_PUSHBUTTON);
            EXPECT_EQ(control.Name(), Text(L"CLOSE_CONTROL"));
            EXPECT_FALSE(control.DefaultAction().empty());
        }

        // The progress bar: a progress bar named by its line, whose value is the percentage.
        if (HWND bar = GetDlgItem(scene.window, IDC_PROGRESS)) {
            Accessible control(bar, OBJID_CLIENT);
            EXPECT_EQ(control.Role(), ROLE_SYSTEM_PROGRESSBAR);
            EXPECT_EQ(control.Name(), ControlText(scene.window, IDC_PROGRESS_LINE));
            const int position = static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0));
            EXPECT_EQ(control.Value(), FormatPercent(position));
        }

        // Whatever takes the keyboard has a name, the fields by the label just before them;
        // no image is there only to be read aloud.
        for (HWND child = GetWindow(scene.window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            if (!IsWindowVisible(child)) continue;
            const int id = GetDlgCtrlID(child);
            if (IsEdit(child)) {
                const wchar_t* key = FieldLabelKey(id);
                ASSERT_NE(key, nullptr) << "field " << id;
                EXPECT_EQ(LabelOf(child), Text(key)) << "field " << id;
            } else if (GetWindowLongW(child, GWL_STYLE) & WS_TABSTOP) {
                EXPECT_FALSE(Accessible(child, OBJID_CLIENT).Name().empty()) << "control " << id << " has no name";
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

// What a screen reader hears while the progress dialog works: each change of the percentage
// (not each repaint), and each text that changes (not one set to what it was).
TEST(Accessibility, ProgressDialogAnnouncesTheBarAndItsTexts)
{
    WinEventRecorder events;
    ASSERT_TRUE(events.Hooked());
    ProgressRun run(TRUE);
    ASSERT_NE(run.window, nullptr);
    HWND bar = GetDlgItem(run.window, IDC_PROGRESS);
    HWND body = GetDlgItem(run.window, IDC_BODY);
    HWND bold = GetDlgItem(run.window, IDC_HEADLINE);
    HWND line = GetDlgItem(run.window, IDC_PROGRESS_LINE);
    events.Settle();
    events.Clear();

    run.dialog->m_progress.SetPos(10);
    run.dialog->m_progress.SetPos(10);
    run.dialog->m_progress.SetPos(11);
    events.Settle();
    EXPECT_EQ(events.Count(EVENT_OBJECT_VALUECHANGE, bar), 2);
    EXPECT_EQ(Accessible(bar, OBJID_CLIENT).Value(), L"11%");

    run.dialog->SetHeaderTexts(Text(L"DIALOG_CAPTION"), Text(L"INSTALLING_DOTNET"));
    run.dialog->SetStatusTexts(Text(L"INSTALLING_BOLD_TEXT"), Text(L"PROGRESS_BAR_INSTALLING_TEXT"));
    run.dialog->SetHeaderTexts(Text(L"DIALOG_CAPTION"), Text(L"INSTALLING_DOTNET"));
    events.Settle();
    EXPECT_EQ(events.Count(EVENT_OBJECT_NAMECHANGE, body), 1);
    EXPECT_EQ(events.Count(EVENT_OBJECT_NAMECHANGE, bold), 1);
    EXPECT_EQ(events.Count(EVENT_OBJECT_NAMECHANGE, line), 1);
    EXPECT_EQ(events.Count(EVENT_OBJECT_NAMECHANGE, GetDlgItem(run.window, IDC_CAPTION)), 0);
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
