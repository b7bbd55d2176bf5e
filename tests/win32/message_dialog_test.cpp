// The message dialog and the small dialog (quit confirmation, notices), driven as a user would:
// every way of ending them, their one-button layouts, placement, texts, fonts and colours.
#include <windows.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "framework/app.h"
#include "resources/resource.h"
#include "support/dialog_driver.h"
#include "support/localized_text.h"
#include "ui/dialogs/message_dialog.h"
#include "ui/dialogs/smaller_dialog.h"

using namespace dialog_driver;

namespace {

const auto* const g_env = ::testing::AddGlobalTestEnvironment(new RunFolderEnvironment);

std::unique_ptr<MessageDialog> Question(CWnd* owner = nullptr)
{
    return std::make_unique<MessageDialog>(L"Tarvelo Setup", L"Headline", L"Body text", L"Install", L"Cancel", owner);
}

std::unique_ptr<MessageDialog> Stop()
{
    return std::make_unique<MessageDialog>(L"Tarvelo Setup", L"Headline", L"Body text", L"OK", L"", nullptr);
}

// Runs the dialog modally here while `act` drives it from a second thread.
INT_PTR Drive(CDialog& dialog, UINT templateId, const std::function<void(HWND)>& act)
{
    bool ok = false;
    INT_PTR result = RunDriven([&] { return dialog.DoModal(); },
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

// Answers the quit confirmation that opens over `asking`.
bool AnswerConfirmation(HWND asking, bool yes, RECT* confirmationRect = nullptr)
{
    HWND confirmation = WaitForDialog(IDD_SMALLER_DIALOG, WaitLimitMs(), asking);
    if (!confirmation) return false;
    if (confirmationRect) GetWindowRect(confirmation, confirmationRect);
    ClickButton(confirmation, yes ? IDOK : IDCANCEL);
    return WaitForClosed(confirmation);
}

}  // namespace

TEST(MessageDialog, ResultOfEveryEnding)
{
    struct Case {
        const char* name;
        bool oneButton;
        std::function<void(HWND)> act;
        INT_PTR expected;
    };
    const Case cases[] = {
        {"first button", false, [](HWND w) { ClickButton(w, IDOK); }, 1},
        {"first button pressed", false, [](HWND w) { PressButton(w, IDOK); }, 1},
        {"second button", false, [](HWND w) { ClickButton(w, IDCANCEL); }, 0},
        {"Enter", false, [](HWND w) { PressEnter(w); }, 1},
        {"Escape", false, [](HWND w) { PressEscape(w); }, 0},
        {"Escape, one button", true, [](HWND w) { PressEscape(w); }, 0},
        {"Enter, one button", true, [](HWND w) { PressEnter(w); }, 1},
        {"WM_CLOSE without a question", false, [](HWND w) { PostClose(w); }, 2},
        {"close control, yes", false,
         [](HWND w) {
             ClickStatic(w, IDC_CLOSE_CONTROL);
             EXPECT_TRUE(AnswerConfirmation(w, true));
         },
         2},
        {"system Close, yes", true,
         [](HWND w) {
             PostSystemClose(w);
             EXPECT_TRUE(AnswerConfirmation(w, true));
         },
         2},
        {"close control, no, then first button", false,
         [](HWND w) {
             ClickStatic(w, IDC_CLOSE_CONTROL);
             EXPECT_TRUE(AnswerConfirmation(w, false));
             EXPECT_TRUE(IsWindowVisible(w)) << "a no leaves the dialog open";
             ClickButton(w, IDOK);
         },
         1},
        {"system Close, no, then Escape", false,
         [](HWND w) {
             PostSystemClose(w);
             EXPECT_TRUE(AnswerConfirmation(w, false));
             PressEscape(w);
         },
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto dialog = c.oneButton ? Stop() : Question();
        EXPECT_EQ(Drive(*dialog, IDD_MESSAGE_DIALOG, c.act), c.expected);
        if (c.expected != 2) {
            EXPECT_EQ(dialog->m_nAnswer, c.expected);
        }
    }
}

TEST(MessageDialog, LayoutTextsFontsAndColours)
{
    auto dialog = Stop();
    dialog->SetLink(L"View the system requirements", L"http://www.tarvelo.com/r/1.3/requirements");
    Drive(*dialog, IDD_MESSAGE_DIALOG, [](HWND w) {
        EXPECT_EQ(ControlText(w, IDC_CAPTION), L"Tarvelo Setup");
        EXPECT_EQ(ControlText(w, IDC_HEADLINE), L"Headline");
        EXPECT_EQ(ControlText(w, IDC_BODY), L"Body text");
        EXPECT_EQ(ControlText(w, IDC_LINK), L"View the system requirements");
        EXPECT_EQ(ControlText(w, IDOK), L"OK");

        // One button: the second is hidden, the first sits at x 320, y 140 + its width.
        EXPECT_FALSE(ControlVisible(w, IDCANCEL));
        const RECT ok = ControlRect(w, IDOK);
        EXPECT_EQ(ok.left, 320);
        EXPECT_EQ(ok.top, 140 + (ok.right - ok.left));

        for (int id : {IDC_CAPTION, IDC_HEADLINE, IDOK}) {
            const LOGFONTW f = ControlFont(w, id);
            EXPECT_STREQ(f.lfFaceName, L"Verdana") << id;
            EXPECT_EQ(f.lfHeight, 14) << id;
            EXPECT_EQ(f.lfWeight, 700) << id;
        }
        const LOGFONTW body = ControlFont(w, IDC_BODY);
        EXPECT_EQ(body.lfHeight, 14);
        EXPECT_EQ(body.lfWeight, 0);
        EXPECT_FALSE(ControlFont(w, IDC_LINK).lfUnderline) << "the link line is not underlined";

        struct Row { int id; COLORREF bk, text; };
        for (const Row& r : {Row{IDC_CAPTION, RGB(231, 82, 0), RGB(255, 255, 255)},
                             Row{IDC_BODY, RGB(255, 247, 206), RGB(0, 0, 0)},
                             Row{IDC_HEADLINE, RGB(255, 247, 206), RGB(0, 0, 0)},
                             Row{IDC_LINK, RGB(255, 247, 206), RGB(0, 0, 255)},
                             Row{IDC_CLOSE_CONTROL, RGB(255, 255, 255), RGB(0, 0, 0)}}) {
            const CtlColors c = QueryCtlColorStatic(w, r.id);
            EXPECT_EQ(c.mode, OPAQUE) << r.id;
            EXPECT_EQ(c.background, r.bk) << r.id;
            EXPECT_EQ(c.text, r.text) << r.id;
            EXPECT_EQ(c.brushColour, r.bk) << r.id;
            // The same brush every time: brushes are kept by the dialog, not made per message.
            EXPECT_EQ(QueryCtlColorStatic(w, r.id).brush, c.brush) << r.id;
        }
        ClickButton(w, IDOK);
    });
}

TEST(MessageDialog, TwoButtonsKeepTheirTemplatePlaces)
{
    auto dialog = Question();
    Drive(*dialog, IDD_MESSAGE_DIALOG, [](HWND w) {
        EXPECT_TRUE(ControlVisible(w, IDCANCEL));
        EXPECT_EQ(ControlText(w, IDCANCEL), L"Cancel");
        RECT want{111, 157, 0, 0};
        MapDialogRect(w, &want);
        EXPECT_EQ(ControlRect(w, IDOK).left, want.left);
        EXPECT_EQ(ControlRect(w, IDOK).top, want.top);
        EXPECT_EQ(ControlText(w, IDC_LINK), L"") << "without SetLink the link line is empty";
        EXPECT_FALSE(ControlVisible(w, IDC_LINK)) << "and hidden: nothing to read, nothing to open";
        ClickButton(w, IDCANCEL);
    });
}

TEST(MessageDialog, CentredOnTheScreenEvenWithAnOwner)
{
    // An owner far from the centre of the screen.
    HWND ownerWindow = CreateWindowExW(0, L"Static", L"owner", WS_POPUP | WS_VISIBLE, 10, 10, 120, 80, nullptr,
                                       nullptr, nullptr, nullptr);
    ASSERT_NE(ownerWindow, nullptr);
    CWnd owner;
    owner.Attach(ownerWindow);
    auto dialog = Question(&owner);
    RECT screen{};
    GetWindowRect(GetDesktopWindow(), &screen);
    Drive(*dialog, IDD_MESSAGE_DIALOG, [&](HWND w) {
        RECT r{}, c{};
        GetWindowRect(w, &r);
        GetClientRect(w, &c);
        EXPECT_EQ(r.left, (screen.left + screen.right) / 2 - c.right / 2);
        EXPECT_EQ(r.top, (screen.top + screen.bottom) / 2 - c.bottom / 2);
        EXPECT_EQ(GetWindow(w, GW_OWNER), ownerWindow);

        // The confirmation opens centred over the message dialog.
        ClickStatic(w, IDC_CLOSE_CONTROL);
        RECT confirmation{};
        HWND small = WaitForDialog(IDD_SMALLER_DIALOG, WaitLimitMs(), w);
        ASSERT_NE(small, nullptr);
        GetWindowRect(small, &confirmation);
        RECT sc{};
        GetClientRect(small, &sc);
        EXPECT_EQ(confirmation.left, (r.left + r.right) / 2 - sc.right / 2);
        EXPECT_EQ(confirmation.top, (r.top + r.bottom) / 2 - sc.bottom / 2);
        EXPECT_EQ(GetWindow(small, GW_OWNER), w);
        // Its texts come from the table.
        EXPECT_EQ(ControlText(small, IDC_SMALL_HEADLINE), Text(L"QUIT_INSTALLING_CAPTION"));
        EXPECT_EQ(ControlText(small, IDC_BODY), Text(L"QUIT_TARVELO"));
        EXPECT_EQ(ControlText(small, IDOK), Text(L"YES"));
        EXPECT_EQ(ControlText(small, IDCANCEL), Text(L"NO"));
        PressEscape(small);  // Escape answers no
        EXPECT_TRUE(WaitForClosed(small));
        EXPECT_TRUE(IsWindowVisible(w));
        ClickButton(w, IDOK);
    });
    owner.Detach();
    DestroyWindow(ownerWindow);
}

TEST(SmallerDialog, AnswersAndLayouts)
{
    struct Case {
        const char* name;
        bool oneButton;
        std::function<void(HWND)> act;
        INT_PTR expected;
    };
    const Case cases[] = {
        {"yes", false, [](HWND w) { ClickButton(w, IDOK); }, 1},
        {"no", false, [](HWND w) { ClickButton(w, IDCANCEL); }, 0},
        {"Enter", false, [](HWND w) { PressEnter(w); }, 1},
        {"Escape", false, [](HWND w) { PressEscape(w); }, 0},
        {"system Close", false, [](HWND w) { PostSystemClose(w); }, 0},
        {"WM_CLOSE", false, [](HWND w) { PostClose(w); }, 0},
        {"one button", true,
         [](HWND w) {
             EXPECT_FALSE(ControlVisible(w, IDCANCEL));
             const RECT ok = ControlRect(w, IDOK);
             EXPECT_EQ(ok.left, 75);
             EXPECT_EQ(ok.top, 45 + (ok.right - ok.left));
             PressButton(w, IDOK);
         },
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SmallerDialog dialog(L"Quit Setup", L"Are you sure?", L"Yes", c.oneButton ? L"" : L"No", nullptr);
        EXPECT_EQ(Drive(dialog, IDD_SMALLER_DIALOG, c.act), c.expected);
        EXPECT_EQ(dialog.m_nAnswer, c.expected);
    }
}

TEST(SmallerDialog, TextsFontsTransparencyAndPlacement)
{
    SmallerDialog dialog(L"Quit Setup", L"Are you sure?", L"Yes", L"No", nullptr);
    RECT screen{};
    GetWindowRect(GetDesktopWindow(), &screen);
    Drive(dialog, IDD_SMALLER_DIALOG, [&](HWND w) {
        EXPECT_EQ(ControlText(w, IDC_SMALL_HEADLINE), L"Quit Setup");
        EXPECT_EQ(ControlText(w, IDC_BODY), L"Are you sure?");
        EXPECT_EQ(ControlFont(w, IDC_SMALL_HEADLINE).lfWeight, 700);
        EXPECT_EQ(ControlFont(w, IDC_BODY).lfWeight, 0);
        EXPECT_STREQ(ControlFont(w, IDC_BODY).lfFaceName, L"Verdana");
        EXPECT_EQ(ControlFont(w, IDCANCEL).lfWeight, 700);
        // No colour table: labels are drawn transparently over the skin.
        const CtlColors c = QueryCtlColorStatic(w, IDC_BODY);
        EXPECT_EQ(c.mode, TRANSPARENT);
        EXPECT_EQ(c.brush, static_cast<HBRUSH>(GetStockObject(NULL_BRUSH)));
        // Without an owner: centred on the screen, and kept above other windows.
        RECT r{}, cl{};
        GetWindowRect(w, &r);
        GetClientRect(w, &cl);
        EXPECT_EQ(r.left, (screen.left + screen.right) / 2 - cl.right / 2);
        EXPECT_EQ(r.top, (screen.top + screen.bottom) / 2 - cl.bottom / 2);
        EXPECT_TRUE(GetWindowLongPtrW(w, GWL_EXSTYLE) & WS_EX_TOPMOST);
        ClickButton(w, IDCANCEL);
    });
}

TEST(SmallerDialog, ModelessNoticeHidesOnItsButton)
{
    auto notice = std::make_unique<SmallerDialog>(Text(L"PROXY_CAPTION"), Text(L"PROXY_SERVER_ERROR"),
                                                  Text(L"CLOSE_BUTTON"), L"", nullptr);
    ASSERT_TRUE(notice->Create(IDD_SMALLER_DIALOG, nullptr));
    notice->ShowWindow(SW_SHOW);
    HWND w = notice->GetSafeHwnd();
    EXPECT_TRUE(IsWindowVisible(w));
    EXPECT_FALSE(ControlVisible(w, IDCANCEL));
    EXPECT_EQ(ControlText(w, IDOK), Text(L"CLOSE_BUTTON"));
    SendMessageW(w, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(w, IDOK)));
    EXPECT_FALSE(IsWindowVisible(w)) << "the button hides the notice";
    EXPECT_TRUE(IsWindow(w)) << "and leaves it to its creator to destroy";
    notice.reset();
    EXPECT_FALSE(IsWindow(w));
}

TEST(SmallerDialog, QuitConfirmationThatNeverRanCountsAsNo)
{
    // A template that does not exist makes DoModal fail before the dialog runs.
    struct Broken : SmallerDialog {
        using SmallerDialog::SmallerDialog;
        INT_PTR DoModal() override
        {
            m_nIDTemplate = 9999;
            return SmallerDialog::DoModal();
        }
    } broken(L"h", L"m", L"Yes", L"No", nullptr);
    EXPECT_EQ(broken.DoModal(), -1);
    EXPECT_EQ(broken.m_nAnswer, 0);
}
