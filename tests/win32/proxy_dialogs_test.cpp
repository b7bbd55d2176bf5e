// The proxy settings and proxy credentials dialogs, run modally here (the download thread's
// part) and driven from a second thread: every way of ending them with the texts they hand
// over, their text limits, placement over the progress dialog, texts, fonts and colours.
#include <windows.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "support/shared_state.h"
#include "framework/app.h"
#include "resources/resource.h"
#include "support/dialog_driver.h"
#include "support/localized_text.h"
#include "support/progress_run.h"
#include "ui/dialogs/cred_ui_dialog.h"
#include "ui/dialogs/proxy_info_dialog.h"

using namespace dialog_driver;

namespace {

const auto* const g_env = ::testing::AddGlobalTestEnvironment(new RunFolderEnvironment);

INT_PTR Drive(CDialog& dialog, UINT templateId, const std::function<void(HWND)>& act)
{
    bool ok = false;
    const INT_PTR result = RunDriven([&] { return dialog.DoModal(); },
                                     [&] {
                                         HWND w = WaitForDialog(templateId);
                                         if (!w) return false;
                                         act(w);
                                         return true;
                                     },
                                     &ok);
    EXPECT_TRUE(ok) << "the dialog never appeared";
    return result;
}

bool AnswerConfirmation(HWND asking, bool yes)
{
    HWND confirmation = WaitForDialog(IDD_SMALLER_DIALOG, WaitLimitMs(), asking);
    if (!confirmation) return false;
    EXPECT_EQ(GetWindow(confirmation, GW_OWNER), asking);
    ClickButton(confirmation, yes ? IDOK : IDCANCEL);
    return WaitForClosed(confirmation);
}

// A user's way of ending a dialog after typing into both edits.
struct Ending {
    const char* name;
    std::function<void(HWND)> act;
    INT_PTR result;
    bool textsKept;
};

void CloseControlYes(HWND w)
{
    ClickStatic(w, IDC_CLOSE_CONTROL);
    EXPECT_TRUE(AnswerConfirmation(w, true));
}

void SystemCloseYes(HWND w)
{
    PostSystemClose(w);
    EXPECT_TRUE(AnswerConfirmation(w, true));
}

struct Colour { int id; COLORREF bk, text; };

void ExpectColours(HWND w, std::initializer_list<Colour> rows)
{
    for (const Colour& r : rows) {
        const CtlColors c = QueryCtlColorStatic(w, r.id);
        EXPECT_EQ(c.mode, OPAQUE) << r.id;
        EXPECT_EQ(c.background, r.bk) << r.id;
        EXPECT_EQ(c.text, r.text) << r.id;
        EXPECT_EQ(c.brushColour, r.bk) << r.id;
    }
}

void ExpectFont(HWND w, int id, int height, int weight)
{
    const LOGFONTW f = ControlFont(w, id);
    EXPECT_STREQ(f.lfFaceName, L"Verdana") << id;
    EXPECT_EQ(f.lfHeight, height) << id;
    EXPECT_EQ(f.lfWeight, weight) << id;
}

const COLORREF kOrange = RGB(231, 82, 0), kCream = RGB(255, 247, 206), kWhite = RGB(255, 255, 255),
               kBlack = RGB(0, 0, 0);

}  // namespace

TEST(ProxyInfoDialog, ResultOfEveryEnding)
{
    const Ending endings[] = {
        {"Continue", [](HWND w) { ClickButton(w, IDC_CONTINUE); }, IDC_CONTINUE, true},
        {"Continue pressed", [](HWND w) { PressButton(w, IDC_CONTINUE); }, IDC_CONTINUE, true},
        {"Enter in an edit", [](HWND w) { PressKeyIn(w, IDC_PROXY_SERVER, VK_RETURN); }, IDC_CONTINUE, true},
        {"Escape", [](HWND w) { PressKeyIn(w, IDC_PROXY_PORT, VK_ESCAPE); }, IDCANCEL, false},
        {"WM_CLOSE without a question", [](HWND w) { PostClose(w); }, 0, false},
        {"close control, yes", CloseControlYes, 0, false},
        {"system Close, yes", SystemCloseYes, 0, false},
        {"close control, no, then Continue",
         [](HWND w) {
             ClickStatic(w, IDC_CLOSE_CONTROL);
             EXPECT_TRUE(AnswerConfirmation(w, false));
             ClickButton(w, IDC_CONTINUE);
         },
         IDC_CONTINUE, true},
    };
    for (const Ending& e : endings) {
        SCOPED_TRACE(e.name);
        ProxyInfoDialog dialog;
        dialog.SetMessage(L"Give a proxy");
        EXPECT_EQ(Drive(dialog, IDD_PROXY_INFO_DIALOG,
                        [&](HWND w) {
                            SetEditText(w, IDC_PROXY_SERVER, L"proxy.example.com");
                            SetEditText(w, IDC_PROXY_PORT, L"3128");
                            e.act(w);
                        }),
                  e.result);
        EXPECT_EQ(dialog.m_strProxyServer, e.textsKept ? L"proxy.example.com" : L"");
        EXPECT_EQ(dialog.m_strProxyPort, e.textsKept ? L"3128" : L"");
    }
}

TEST(ProxyInfoDialog, TextLimitsAndWideText)
{
    struct Case {
        std::wstring server, port, wantServer, wantPort;
    };
    const std::wstring branchProxy = L"proxy.branch.example.com";  // longer than 19 characters
    const std::wstring cyrillic = L"\x043F\x0440\x043E\x043A\x0441\x0438.example";
    const Case cases[] = {
        {L"", L"", L"", L""},
        {branchProxy + L"x", std::wstring(25, L'8'), branchProxy + L"x", std::wstring(19, L'8')},
        {std::wstring(300, L'a'), L"8080", std::wstring(255, L'a'), L"8080"},
        {cyrillic, L"80", cyrillic, L"80"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.server.size() << " server characters");
        ProxyInfoDialog dialog;
        EXPECT_EQ(Drive(dialog, IDD_PROXY_INFO_DIALOG,
                        [&](HWND w) {
                            SetEditText(w, IDC_PROXY_SERVER, c.server);
                            SetEditText(w, IDC_PROXY_PORT, c.port);
                            ClickButton(w, IDC_CONTINUE);
                        }),
                  IDC_CONTINUE);
        EXPECT_EQ(dialog.m_strProxyServer, c.wantServer);
        EXPECT_EQ(dialog.m_strProxyPort, c.wantPort);
    }
}

TEST(ProxyInfoDialog, TextsFontsAndColours)
{
    ProxyInfoDialog dialog;
    dialog.SetMessage(L"The server could not be reached.");
    Drive(dialog, IDD_PROXY_INFO_DIALOG, [](HWND w) {
        struct Row { int id; const wchar_t* key; int height, weight; };
        for (const Row& r : {Row{IDC_SERVER_LABEL, L"HTTP_PROXY", 14, 0}, Row{IDC_PORT_LABEL, L"HTTP_PORT", 14, 0},
                             Row{IDC_PORT_EXAMPLE, L"PORT_EG", 12, 0}, Row{IDC_SERVER_EXAMPLE, L"PROXY_EXAMPLE", 12, 0},
                             Row{IDC_HEADLINE, L"PROXY_BOLD_TEXT", 14, 700}, Row{IDC_CAPTION, L"DIALOG_CAPTION", 14, 700},
                             Row{IDC_CONTINUE, L"CONTINUE_BUTTON", 14, 700}}) {
            EXPECT_FALSE(Text(r.key).empty()) << r.id;
            EXPECT_EQ(ControlText(w, r.id), Text(r.key)) << r.id;
            ExpectFont(w, r.id, r.height, r.weight);
        }
        EXPECT_EQ(ControlText(w, IDC_BODY), L"The server could not be reached.");
        ExpectFont(w, IDC_BODY, 14, 0);
        EXPECT_EQ(ControlText(w, IDC_PROXY_SERVER), L"");
        EXPECT_TRUE(GetWindowLongPtrW(GetDlgItem(w, IDC_PROXY_PORT), GWL_STYLE) & ES_NUMBER);
        ExpectColours(w, {{IDC_CAPTION, kOrange, kWhite},   {IDC_BODY, kCream, kBlack},
                          {IDC_HEADLINE, kCream, kBlack},   {IDC_SERVER_LABEL, kCream, kBlack},
                          {IDC_SERVER_EXAMPLE, kCream, kBlack}, {IDC_PORT_LABEL, kCream, kBlack},
                          {IDC_PORT_EXAMPLE, kCream, kBlack},   {IDC_CLOSE_CONTROL, kWhite, kBlack}});
        PostClose(w);
    });
}

TEST(CredUiDialog, ResultOfEveryEnding)
{
    const Ending endings[] = {
        {"Continue", [](HWND w) { ClickButton(w, IDOK); }, 1, true},
        {"Enter", [](HWND w) { PressKeyIn(w, IDC_PASSWORD, VK_RETURN); }, 1, true},
        {"Escape does nothing, then Continue",
         [](HWND w) {
             PressKeyIn(w, IDC_USER_NAME, VK_ESCAPE);
             ClickButton(w, IDOK);
         },
         1, true},
        {"WM_CLOSE without a question", [](HWND w) { PostClose(w); }, 0, false},
        {"close control, yes", CloseControlYes, 0, false},
        {"system Close, yes", SystemCloseYes, 0, false},
        {"system Close, no, then Continue",
         [](HWND w) {
             PostSystemClose(w);
             EXPECT_TRUE(AnswerConfirmation(w, false));
             ClickButton(w, IDOK);
         },
         1, true},
    };
    for (const Ending& e : endings) {
        SCOPED_TRACE(e.name);
        CredUiDialog dialog;
        dialog.SetMessage(Text(L"CREDENTIAL_DETAILS"));
        EXPECT_EQ(Drive(dialog, IDD_CRED_UI_DIALOG,
                        [&](HWND w) {
                            SetEditText(w, IDC_USER_NAME, L"BRANCH\\alice");
                            SetEditText(w, IDC_PASSWORD, L"s3cret pass");
                            e.act(w);
                        }),
                  e.result);
        EXPECT_EQ(dialog.m_bClosed, e.textsKept ? FALSE : TRUE);
        EXPECT_EQ(dialog.m_strUserName, e.textsKept ? L"BRANCH\\alice" : L"");
        EXPECT_EQ(dialog.m_strPassword, e.textsKept ? L"s3cret pass" : L"");
    }
}

TEST(CredUiDialog, TextLimitsWideTextAndADialogThatNeverRan)
{
    struct Case {
        std::wstring user, password, wantUser, wantPassword;
    };
    const std::wstring greek = L"\x03B1\x03BB\x03B9\x03BA\x03B7";
    const Case cases[] = {
        {L"", L"", L"", L""},
        {std::wstring(600, L'u'), std::wstring(300, L'p'), std::wstring(511, L'u'), std::wstring(255, L'p')},
        {greek, L"\x20AC" L"uro", greek, L"\x20AC" L"uro"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.password.size() << " password characters");
        CredUiDialog dialog;
        EXPECT_EQ(Drive(dialog, IDD_CRED_UI_DIALOG,
                        [&](HWND w) {
                            SetEditText(w, IDC_USER_NAME, c.user);
                            SetEditText(w, IDC_PASSWORD, c.password);
                            ClickButton(w, IDOK);
                        }),
                  1);
        EXPECT_FALSE(dialog.m_bClosed);
        EXPECT_EQ(dialog.m_strUserName, c.wantUser);
        EXPECT_EQ(dialog.m_strPassword, c.wantPassword);
    }

    // A dialog that could not be shown counts as closed, so its caller stops instead of sending
    // empty credentials.
    struct Broken : CredUiDialog {
        INT_PTR DoModal() override
        {
            m_nIDTemplate = 9999;
            return CredUiDialog::DoModal();
        }
    } broken;
    EXPECT_EQ(broken.DoModal(), -1);
    EXPECT_TRUE(broken.m_bClosed);
}

TEST(CredUiDialog, TextsFontsAndColours)
{
    CredUiDialog dialog;
    dialog.SetMessage(L"The proxy asks who you are.");
    Drive(dialog, IDD_CRED_UI_DIALOG, [](HWND w) {
        struct Row { int id; const wchar_t* key; int height, weight; };
        for (const Row& r : {Row{IDC_CAPTION, L"DIALOG_CAPTION", 14, 700}, Row{IDC_HEADLINE, L"CREDENTIAL_BOLD_TEXT", 14, 700},
                             Row{IDC_USER_LABEL, L"USER_NAME", 14, 0}, Row{IDC_PASSWORD_LABEL, L"PASSWORD", 14, 0},
                             Row{IDC_USER_EXAMPLE, L"USER_NAME_EXAMPLE", 12, 0}, Row{IDOK, L"CONTINUE_BUTTON", 14, 700}}) {
            EXPECT_FALSE(Text(r.key).empty()) << r.id;
            EXPECT_EQ(ControlText(w, r.id), Text(r.key)) << r.id;
            ExpectFont(w, r.id, r.height, r.weight);
        }
        EXPECT_EQ(ControlText(w, IDC_BODY), L"The proxy asks who you are.");
        EXPECT_TRUE(GetWindowLongPtrW(GetDlgItem(w, IDC_PASSWORD), GWL_STYLE) & ES_PASSWORD);
        ExpectColours(w, {{IDC_CAPTION, kOrange, kWhite},     {IDC_BODY, kCream, kBlack},
                          {IDC_HEADLINE, kCream, kBlack},     {IDC_USER_LABEL, kCream, kBlack},
                          {IDC_USER_EXAMPLE, kCream, kBlack}, {IDC_PASSWORD_LABEL, kCream, kBlack},
                          {IDC_CLOSE_CONTROL, kWhite, kBlack}});
        PostClose(w);
    });
}

TEST(ProxyPrompts, LieOnTheProgressDialogOrAreCentredWithoutIt)
{
    auto check = [](CBitmapDialog& prompt, UINT templateId, HWND owner) {
        Drive(prompt, templateId, [&](HWND w) {
            RECT r{};
            GetWindowRect(w, &r);
            EXPECT_EQ(GetWindow(w, GW_OWNER), owner);
            if (owner) {
                RECT o{};
                GetWindowRect(owner, &o);
                EXPECT_EQ(r.left, o.left);
                EXPECT_EQ(r.top, o.top);
                EXPECT_FALSE(IsWindowEnabled(owner)) << "the progress dialog waits behind the prompt";
            } else {
                RECT area{};
                SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
                EXPECT_EQ(r.left, (area.left + area.right) / 2 - (r.right - r.left) / 2);
                EXPECT_EQ(r.top, (area.top + area.bottom) / 2 - (r.bottom - r.top) / 2);
            }
            PostClose(w);
        });
    };
    {
        SCOPED_TRACE("no progress dialog published");
        ASSERT_EQ(ProgressDialog.load(), nullptr);
        ProxyInfoDialog proxy;
        check(proxy, IDD_PROXY_INFO_DIALOG, nullptr);
        CredUiDialog credentials;
        check(credentials, IDD_CRED_UI_DIALOG, nullptr);
    }
    {
        SCOPED_TRACE("over the progress dialog, which runs on its own thread");
        ProgressRun run(TRUE);
        ASSERT_NE(run.window, nullptr);
        // Dragged away from the centre first, so that the corner is not the centred position.
        SetWindowPos(run.window, nullptr, 17, 23, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        ProxyInfoDialog proxy;
        check(proxy, IDD_PROXY_INFO_DIALOG, run.window);
        CredUiDialog credentials;
        check(credentials, IDD_CRED_UI_DIALOG, run.window);
        EXPECT_TRUE(IsWindowEnabled(run.window)) << "and is usable again afterwards";
        EXPECT_EQ(run.End(), 0);
    }
}
