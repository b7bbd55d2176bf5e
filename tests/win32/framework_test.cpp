// The window layer: dialog life cycle, ending from other threads, control binding, reflection of
// child notifications, the dialog-procedure return rules and the exception boundary.
#include <windows.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <stdexcept>
#include <thread>

#include "framework/app.h"
#include "framework/controls.h"
#include "framework/dialog.h"
#include "framework/gdi.h"
#include "framework/sync.h"
#include "support/dialog_template.h"

namespace {

constexpr WORD kLabel = 100;
constexpr WORD kNotifyLabel = 101;
constexpr UINT kRunScript = WM_APP + 1;

DialogTemplate TestTemplate(DWORD extraStyle = WS_VISIBLE)
{
    DialogTemplate t(WS_POPUP | WS_CAPTION | WS_SYSMENU | extraStyle, 10, 10, 200, 100);
    t.Add(IDOK, L"BUTTON", L"OK", WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 10, 70, 50, 14);
    t.Add(IDCANCEL, L"BUTTON", L"Cancel", WS_VISIBLE | WS_TABSTOP, 70, 70, 50, 14);
    t.Add(kLabel, L"STATIC", L"label", WS_VISIBLE, 10, 10, 100, 10);
    t.Add(kNotifyLabel, L"STATIC", L"link", WS_VISIBLE | SS_NOTIFY, 10, 30, 100, 10);
    return t;
}

// A control whose switch records what reaches it and answers reflected messages on request.
class RecordingStatic : public CStatic {
public:
    int reflectedCommands = 0;
    int reflectedColours = 0;
    int ownMessages = 0;
    bool handleReflectedCommand = true;
    HBRUSH reflectedBrush = nullptr;
    bool throwOnApp = false;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        switch (message) {
        case WM_REFLECT_BASE + WM_COMMAND:
            ++reflectedCommands;
            if (handleReflectedCommand) return 0;
            break;
        case WM_REFLECT_BASE + WM_CTLCOLORSTATIC:
            ++reflectedColours;
            if (reflectedBrush) return reinterpret_cast<LRESULT>(reflectedBrush);
            break;
        case WM_APP + 7:
            ++ownMessages;
            if (throwOnApp) throw std::runtime_error("handler failed");
            return 77;
        }
        return CStatic::WindowProc(message, wParam, lParam);
    }
};

class TestDialog : public CDialog {
public:
    TestDialog() : CDialog(0, nullptr) {}
    std::function<void(TestDialog&)> onInit;
    std::function<void(TestDialog&)> script;
    std::function<bool(UINT, WPARAM, LPARAM, LRESULT*)> hook;
    RecordingStatic label;
    RecordingStatic notifyLabel;
    bool bindControls = true;
    int parentCommands = 0;
    int setTextCalls = 0;

    using CWnd::Default;

protected:
    void DoDataExchange(CDataExchange* exchange) override
    {
        if (!bindControls) return;
        DDX_Control(exchange, kLabel, label);
        DDX_Control(exchange, kNotifyLabel, notifyLabel);
    }
    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        if (onInit) onInit(*this);
        if (script) PostMessage(kRunScript);
        return TRUE;
    }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        LRESULT result = 0;
        if (hook && hook(message, wParam, lParam, &result)) return result;
        switch (message) {
        case kRunScript:
            if (script) script(*this);
            return 0;
        case WM_COMMAND:
            if (LOWORD(wParam) == kNotifyLabel || LOWORD(wParam) == kLabel) {
                ++parentCommands;
                return 0;
            }
            break;
        case WM_SETTEXT:
            ++setTextCalls;
            return Default();
        }
        return CDialog::WindowProc(message, wParam, lParam);
    }
};

TEST(FrameworkInit, CommonControlsAndResourceHandle)
{
    EXPECT_TRUE(AfxWinInit(GetModuleHandleW(nullptr), nullptr, nullptr, SW_SHOW));
    EXPECT_EQ(AfxGetResourceHandle(), GetModuleHandleW(nullptr));
    HINSTANCE other = reinterpret_cast<HINSTANCE>(GetModuleHandleW(L"user32.dll"));
    AfxSetResourceHandle(other);
    EXPECT_EQ(AfxGetResourceHandle(), other);
    AfxSetResourceHandle(nullptr);
    EXPECT_EQ(AfxGetResourceHandle(), GetModuleHandleW(nullptr));
}

TEST(DialogModal, EndsWithTheButtonsIdAndBindsThisAtInit)
{
    DialogTemplate t = TestTemplate();
    TestDialog dialog;
    HWND seen = nullptr;
    dialog.onInit = [&](TestDialog& d) {
        seen = d.m_hWnd;
        EXPECT_EQ(CWnd::FromHandlePermanent(d.m_hWnd), &d);
        EXPECT_EQ(CWnd::FromHandlePermanent(d.label.m_hWnd), &d.label);
    };
    dialog.script = [](TestDialog& d) { d.SendMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0); };
    EXPECT_EQ(dialog.DoModalIndirect(t.Get()), IDCANCEL);
    EXPECT_NE(seen, nullptr);
    EXPECT_FALSE(IsWindow(seen));
    EXPECT_EQ(dialog.m_hWnd, nullptr);
    // The bound controls were released with their windows.
    EXPECT_EQ(dialog.label.m_hWnd, nullptr);
}

TEST(DialogModal, MissingTemplateGivesMinusOne)
{
    CDialog dialog(54321, nullptr);
    EXPECT_EQ(dialog.DoModal(), -1);
}

TEST(DialogModal, EndedFromAnotherThread)
{
    DialogTemplate t = TestTemplate();
    TestDialog dialog;
    std::atomic<HWND> window{nullptr};
    dialog.onInit = [&](TestDialog& d) { window = d.m_hWnd; };
    std::atomic<INT_PTR> result{-5};
    std::thread ui([&] { result = dialog.DoModalIndirect(t.Get()); });
    ASSERT_TRUE(WaitUntil([&] { return window.load() != nullptr; }));
    EXPECT_TRUE(dialog.PostEndDialog(42));
    ui.join();
    EXPECT_EQ(result.load(), 42);
    EXPECT_FALSE(IsWindow(window.load()));
}

TEST(DialogModal, EndRequestedBeforeTheWindowExistsStillEndsIt)
{
    DialogTemplate t = TestTemplate();
    TestDialog dialog;
    dialog.PostEndDialog(7);
    INT_PTR result = -5;
    std::thread ui([&] { result = dialog.DoModalIndirect(t.Get()); });
    ui.join();
    EXPECT_EQ(result, 7);
}

TEST(DialogModeless, EndHidesAndDestructionDestroys)
{
    DialogTemplate t = TestTemplate();
    HWND window = nullptr;
    {
        TestDialog dialog;
        ASSERT_TRUE(dialog.CreateIndirect(t.Get()));
        window = dialog.m_hWnd;
        ASSERT_TRUE(IsWindow(window));
        EXPECT_TRUE(IsWindowVisible(window));
        dialog.SendMessage(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        PumpMessages();
        EXPECT_TRUE(IsWindow(window));
        EXPECT_FALSE(IsWindowVisible(window));
    }
    EXPECT_FALSE(IsWindow(window));
}

TEST(DialogModeless, DestroyedFromAnotherThreadGoesThroughItsOwnThread)
{
    DialogTemplate t = TestTemplate();
    auto* dialog = new TestDialog;
    ASSERT_TRUE(dialog->CreateIndirect(t.Get()));
    HWND window = dialog->m_hWnd;
    std::thread other([&] { delete dialog; });
    other.join();
    // The window belongs to this thread; its destruction waits for this thread's messages.
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(window); }));
}

// COM's view of the calling thread.
bool InSingleThreadedApartment()
{
    APTTYPE type;
    APTTYPEQUALIFIER qualifier;
    return SUCCEEDED(CoGetApartmentType(&type, &qualifier)) && (type == APTTYPE_STA || type == APTTYPE_MAINSTA);
}

// A thread is a single-threaded apartment from before its first dialog until its last one has
// gone, modal or modeless, nested or not, however the modeless one goes.
TEST(DialogApartment, ThreadIsAnApartmentWhileItHasDialogs)
{
    std::thread ui([] {
        DialogTemplate t = TestTemplate();
        EXPECT_FALSE(InSingleThreadedApartment());
        auto modeless = std::make_unique<TestDialog>();
        ASSERT_TRUE(modeless->CreateIndirect(t.Get()));
        EXPECT_TRUE(InSingleThreadedApartment());
        TestDialog modal;
        bool inside = false;
        modal.script = [&](TestDialog& d) {
            inside = InSingleThreadedApartment();
            d.EndDialog(IDOK);
        };
        EXPECT_EQ(modal.DoModalIndirect(t.Get()), IDOK);
        EXPECT_TRUE(inside);
        EXPECT_TRUE(InSingleThreadedApartment()) << "the modeless dialog is still there";
        ::DestroyWindow(modeless->m_hWnd);
        EXPECT_FALSE(InSingleThreadedApartment());
        // Destroyed with its object, which lets go of the window first.
        ASSERT_TRUE(modeless->CreateIndirect(t.Get()));
        EXPECT_TRUE(InSingleThreadedApartment());
        modeless.reset();
        EXPECT_FALSE(InSingleThreadedApartment());
    });
    ui.join();

    // A thread that is in the multithreaded apartment already stays there, and its dialogs work.
    std::thread mta([] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        DialogTemplate t = TestTemplate();
        TestDialog modal;
        modal.script = [](TestDialog& d) { d.EndDialog(IDOK); };
        EXPECT_EQ(modal.DoModalIndirect(t.Get()), IDOK);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE) << "still in it";
        CoUninitialize();
        CoUninitialize();
    });
    mta.join();
}

TEST(DialogReturnRules, HandledValuesUnhandledDefaultsAndDefaultInsideAHandler)
{
    DialogTemplate t = TestTemplate();
    TestDialog dialog;
    HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    dialog.hook = [&](UINT message, WPARAM, LPARAM, LRESULT* result) {
        if (message == WM_APP + 3) {
            *result = 1234;
            return true;
        }
        if (message == WM_CTLCOLORBTN) {
            *result = reinterpret_cast<LRESULT>(brush);
            return true;
        }
        return false;
    };
    ASSERT_TRUE(dialog.CreateIndirect(t.Get()));
    EXPECT_EQ(dialog.SendMessage(WM_APP + 3), 1234);      // through DWLP_MSGRESULT
    HDC dc = GetDC(dialog.m_hWnd);
    EXPECT_EQ(dialog.SendMessage(WM_CTLCOLORBTN, reinterpret_cast<WPARAM>(dc),
                                 reinterpret_cast<LPARAM>(GetDlgItem(dialog.m_hWnd, IDOK))),
              reinterpret_cast<LRESULT>(brush));           // returned directly
    ReleaseDC(dialog.m_hWnd, dc);
    // Unhandled: the dialog manager answers (the default push button).
    EXPECT_EQ(LOWORD(dialog.SendMessage(DM_GETDEFID)), IDOK);
    // A handler that runs the default processing first sees the message once.
    dialog.SetWindowText(L"renamed");
    EXPECT_EQ(dialog.setTextCalls, 1);
    EXPECT_EQ(dialog.GetWindowText(), L"renamed");
    dialog.DestroyWindow();
    DeleteObject(brush);
}

TEST(Reflection, CommandsGoToTheChildFirstAndFallBackToTheParent)
{
    DialogTemplate t = TestTemplate();
    TestDialog dialog;
    ASSERT_TRUE(dialog.CreateIndirect(t.Get()));
    HWND link = dialog.notifyLabel.m_hWnd;
    ASSERT_NE(link, nullptr);

    dialog.SendMessage(WM_COMMAND, MAKEWPARAM(kNotifyLabel, STN_CLICKED), reinterpret_cast<LPARAM>(link));
    EXPECT_EQ(dialog.notifyLabel.reflectedCommands, 1);
    EXPECT_EQ(dialog.parentCommands, 0);

    dialog.notifyLabel.handleReflectedCommand = false;
    dialog.SendMessage(WM_COMMAND, MAKEWPARAM(kNotifyLabel, STN_CLICKED), reinterpret_cast<LPARAM>(link));
    EXPECT_EQ(dialog.notifyLabel.reflectedCommands, 2);
    EXPECT_EQ(dialog.parentCommands, 1);

    // A real click on the SS_NOTIFY static reaches the child's object through the parent.
    dialog.notifyLabel.handleReflectedCommand = true;
    SendMessageW(link, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    SendMessageW(link, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
    EXPECT_EQ(dialog.notifyLabel.reflectedCommands, 3);
    dialog.DestroyWindow();
}

TEST(Reflection, OnlyFromDirectChildren)
{
    DialogTemplate t = TestTemplate();
    TestDialog dialog;
    ASSERT_TRUE(dialog.CreateIndirect(t.Get()));
    // A bound window one level further down: its notifications are not reflected by the dialog.
    HWND grandchild = CreateWindowExW(0, L"STATIC", L"inner", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10,
                                      dialog.label.m_hWnd, reinterpret_cast<HMENU>(kLabel), nullptr, nullptr);
    RecordingStatic inner;
    ASSERT_TRUE(inner.SubclassWindow(grandchild));
    dialog.SendMessage(WM_COMMAND, MAKEWPARAM(kLabel, STN_CLICKED), reinterpret_cast<LPARAM>(grandchild));
    EXPECT_EQ(inner.reflectedCommands, 0);
    EXPECT_EQ(dialog.parentCommands, 1);
    HDC dc = GetDC(dialog.m_hWnd);
    dialog.SendMessage(WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(grandchild));
    EXPECT_EQ(inner.reflectedColours, 0);
    ReleaseDC(dialog.m_hWnd, dc);
    dialog.DestroyWindow();
    EXPECT_EQ(inner.m_hWnd, nullptr);
}

TEST(Reflection, CtlColorAnswerOfTheChildWinsOverTheDefault)
{
    DialogTemplate t = TestTemplate();
    TestDialog dialog;
    ASSERT_TRUE(dialog.CreateIndirect(t.Get()));
    HBRUSH own = CreateSolidBrush(RGB(9, 8, 7));
    HDC dc = GetDC(dialog.m_hWnd);
    WPARAM wp = reinterpret_cast<WPARAM>(dc);
    LPARAM lp = reinterpret_cast<LPARAM>(dialog.label.m_hWnd);

    LRESULT plain = dialog.SendMessage(WM_CTLCOLORSTATIC, wp, lp);
    EXPECT_EQ(dialog.label.reflectedColours, 1);
    EXPECT_NE(plain, 0);  // the dialog manager's brush
    EXPECT_NE(plain, reinterpret_cast<LRESULT>(own));

    dialog.label.reflectedBrush = own;
    EXPECT_EQ(dialog.SendMessage(WM_CTLCOLORSTATIC, wp, lp), reinterpret_cast<LRESULT>(own));
    EXPECT_EQ(dialog.label.reflectedColours, 2);
    ReleaseDC(dialog.m_hWnd, dc);
    dialog.DestroyWindow();
    DeleteObject(own);
}

TEST(Binding, ObjectDestroyedFirstLeavesAWorkingWindow)
{
    DialogTemplate t = TestTemplate();
    TestDialog dialog;
    dialog.bindControls = false;
    ASSERT_TRUE(dialog.CreateIndirect(t.Get()));
    HWND label = GetDlgItem(dialog.m_hWnd, kLabel);
    {
        RecordingStatic bound;
        CDataExchange exchange(&dialog, FALSE);
        ASSERT_TRUE(DDX_Control(&exchange, kLabel, bound));
        RecordingStatic second;
        EXPECT_FALSE(second.SubclassWindow(label));  // one object per window
        EXPECT_EQ(SendMessageW(label, WM_APP + 7, 0, 0), 77);
        EXPECT_EQ(bound.ownMessages, 1);
    }
    EXPECT_EQ(CWnd::FromHandlePermanent(label), nullptr);
    EXPECT_EQ(SendMessageW(label, WM_APP + 7, 0, 0), 0);
    SetWindowTextW(label, L"still works");
    wchar_t text[32] = {};
    GetWindowTextW(label, text, 32);
    EXPECT_STREQ(text, L"still works");
    CDataExchange exchange(&dialog, FALSE);
    RecordingStatic missing;
    EXPECT_FALSE(DDX_Control(&exchange, 999, missing));
    dialog.DestroyWindow();
}

TEST(Binding, AttachedForeignWindowIsNeverDestroyed)
{
    HWND window = CreateWindowExW(0, L"STATIC", L"foreign", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    {
        CWnd wrapper;
        ASSERT_TRUE(wrapper.Attach(window));
        EXPECT_EQ(wrapper.GetWindowText(), L"foreign");
    }
    EXPECT_TRUE(IsWindow(window));
    {
        CWnd desktop;
        desktop.Attach(GetDesktopWindow());
    }
    EXPECT_TRUE(IsWindow(GetDesktopWindow()));
    DestroyWindow(window);
}

TEST(ExceptionBoundary, AThrowingHandlerDoesNotEscapeTheWindowProcedure)
{
    DialogTemplate t = TestTemplate();
    TestDialog dialog;
    dialog.hook = [](UINT message, WPARAM, LPARAM, LRESULT*) -> bool {
        if (message == WM_APP + 4) throw std::runtime_error("dialog handler failed");
        return false;
    };
    dialog.script = [](TestDialog& d) {
        EXPECT_EQ(d.SendMessage(WM_APP + 4), 0);
        d.label.throwOnApp = true;
        EXPECT_EQ(SendMessageW(d.label.m_hWnd, WM_APP + 7, 0, 0), 0);
        EXPECT_EQ(d.label.ownMessages, 1);
        // Both windows keep working afterwards.
        d.label.SetWindowText(L"after");
        EXPECT_EQ(d.label.GetWindowText(), L"after");
        d.EndDialog(5);
    };
    EXPECT_EQ(dialog.DoModalIndirect(t.Get()), 5);
}

TEST(GdiOwners, MoveTransfersOwnershipAndSelectionIsRestored)
{
    CBitmap first;
    ASSERT_TRUE(first.CreateCompatibleBitmap(GetDC(nullptr), 4, 4));
    HBITMAP handle = first;
    CBitmap second(std::move(first));
    EXPECT_EQ(first.GetSafeHandle(), nullptr);
    EXPECT_EQ(second.GetSafeHandle(), handle);
    BITMAP info{};
    EXPECT_NE(second.GetBitmap(&info), 0);
    EXPECT_EQ(info.bmWidth, 4);

    CCompatibleDC dc(nullptr);
    HGDIOBJ before = GetCurrentObject(dc, OBJ_BITMAP);
    {
        CSelectObject selection(dc, second);
        EXPECT_EQ(GetCurrentObject(dc, OBJ_BITMAP), handle);
    }
    EXPECT_EQ(GetCurrentObject(dc, OBJ_BITMAP), before);

    HRGN detached;
    {
        CRgn region;
        ASSERT_TRUE(region.CreateRoundRectRgn(0, 0, 50, 50, 21, 21));
        detached = region.Detach();
    }
    RECT box{};
    EXPECT_NE(GetRgnBox(detached, &box), ERROR);  // still alive: nobody deleted it
    DeleteObject(detached);
    second.DeleteObject();
    EXPECT_EQ(GetObjectType(handle), 0u);
}

TEST(CriticalSection, ScopedLockExcludesOtherThreads)
{
    CCriticalSection section;
    std::atomic<int> entered{-1};
    std::thread other;
    {
        CCriticalSectionLock lock(section);
        other = std::thread([&] {
            entered = 0;
            CCriticalSectionLock inner(section);
            entered = 1;
        });
        ASSERT_TRUE(WaitUntil([&] { return entered.load() == 0; }));
        Sleep(20);
        EXPECT_EQ(entered.load(), 0);
    }
    other.join();
    EXPECT_EQ(entered.load(), 1);
}

}  // namespace
