// The progress dialog as the installer runs it: modal on a thread of its own, driven from this
// thread the way the download thread drives it (texts, bar, close lock, end request), with the
// user's clicks posted to it.
#include <windows.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/shared_state.h"
#include "framework/app.h"
#include "resources/resource.h"
#include "support/dialog_driver.h"
#include "support/installer_log.h"
#include "support/localized_text.h"
#include "support/progress_run.h"
#include "support/scratch_folder.h"
#include "support/win_event_recorder.h"
#include "ui/dialogs/dependency_dialog.h"

using namespace dialog_driver;

namespace {

TempFolder* g_logFolder = nullptr;

class Environment : public RunFolderEnvironment {
public:
    void SetUp() override
    {
        RunFolderEnvironment::SetUp();
        g_logFolder = new TempFolder(L"progress-log");
        SetEnvironmentVariableW(L"TEMP", g_logFolder->Path().c_str());
    }
    void TearDown() override
    {
        InstallerLog::Close();
        delete g_logFolder;
    }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new Environment);


HWND Confirmation(HWND asking) { return WaitForDialog(IDD_SMALLER_DIALOG, WaitLimitMs(), asking); }

bool NoConfirmation(HWND asking)
{
    for (HWND w : ProcessDialogs())
        if (w != asking && GetWindow(w, GW_OWNER) == asking) return false;
    return true;
}

void Answer(HWND confirmation, bool yes)
{
    ClickButton(confirmation, yes ? IDOK : IDCANCEL);
    EXPECT_TRUE(WaitForClosed(confirmation));
}

std::vector<std::string> ClosedLogLines()
{
    InstallerLog::Close();
    std::string content;
    ReadWholeFile(g_logFolder->Path() + L"\\Tarvelo\\Logs\\InstallerLogs\\Stage1Logs.txt", content);
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = content.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(content.substr(start, end - start));
    return lines;
}

}  // namespace

TEST(DependencyDialog, CloseLockStatesAndTheirLogLines)
{
    InstallerLog::Close();  // the next line starts a fresh log
    AbortRequested = true;  // the dialog clears it when it opens
    ProgressRun run(TRUE);
    ASSERT_NE(run.window, nullptr);
    HWND w = run.window;
    EXPECT_FALSE(AbortRequested) << "opening the dialog clears the flag";

    auto tryEveryClose = [&] {
        ClickStatic(w, IDC_CLOSE_CONTROL);
        PostSystemClose(w);
        PostClose(w);
        PressEscape(w);
        PressEnter(w);
        EXPECT_TRUE(SettleProgressDialog(w));
    };

    // Blocked from construction: nothing asks, nothing aborts, nothing closes.
    EXPECT_TRUE(run.dialog->IsCloseBlocked());
    tryEveryClose();
    EXPECT_TRUE(NoConfirmation(w));
    EXPECT_FALSE(AbortRequested);
    EXPECT_TRUE(IsWindowVisible(w));

    // Open: a no changes nothing; WM_CLOSE aborts without a question.
    run.dialog->HideButton(FALSE, FALSE);
    ClickStatic(w, IDC_CLOSE_CONTROL);
    HWND question = Confirmation(w);
    ASSERT_NE(question, nullptr);
    Answer(question, false);
    EXPECT_TRUE(SettleProgressDialog(w));
    EXPECT_FALSE(AbortRequested);
    PostClose(w);
    EXPECT_TRUE(WaitUntil([] { return AbortRequested.load(); }));
    EXPECT_TRUE(SettleProgressDialog(w));
    EXPECT_TRUE(NoConfirmation(w));
    EXPECT_TRUE(IsWindowVisible(w)) << "the dialog is ended only by the install sequence";
    AbortRequested = false;

    // Blocked and disabled: ignored again, and the disabled image shows from the next mouse move.
    run.dialog->HideButton(TRUE, TRUE);
    tryEveryClose();
    EXPECT_TRUE(NoConfirmation(w));
    EXPECT_FALSE(AbortRequested);
    HWND closeControl = GetDlgItem(w, IDC_CLOSE_CONTROL);
    EXPECT_NE(reinterpret_cast<HBITMAP>(SendMessageW(closeControl, STM_GETIMAGE, IMAGE_BITMAP, 0)),
              run.dialog->m_closeButton.m_hDisabledImage);
    MoveMouseOver(w, 40, 60);
    EXPECT_TRUE(SettleProgressDialog(w));
    EXPECT_EQ(reinterpret_cast<HBITMAP>(SendMessageW(closeControl, STM_GETIMAGE, IMAGE_BITMAP, 0)),
              run.dialog->m_closeButton.m_hDisabledImage);

    EXPECT_EQ(run.End(), 0);

    // Set-up lines in their order, then one line per lock change.
    const std::vector<std::string> expected = {
        "Image loaded..",          "Caption & Body text loaded..", "All strings loaded with proper text",
        "all Croxx Images loaded...", "Rounded Rectangle carved...", "Window position set...",
        "HideButton Locked...",    "HideButton Locked...",
    };
    std::vector<std::string> seen;
    for (const std::string& line : ClosedLogLines())
        for (const std::string& want : expected)
            if (line == want) {
                seen.push_back(line);
                break;
            }
    EXPECT_EQ(seen, expected);
}

TEST(DependencyDialog, YesToTheQuestionAbortsAndLeavesTheDialogOpen)
{
    for (bool systemClose : {false, true}) {
        SCOPED_TRACE(systemClose ? "system Close" : "close control");
        ProgressRun run(FALSE);
        ASSERT_NE(run.window, nullptr);
        run.dialog->HideButton(FALSE, FALSE);
        if (systemClose)
            PostSystemClose(run.window);
        else
            ClickStatic(run.window, IDC_CLOSE_CONTROL);
        HWND question = Confirmation(run.window);
        ASSERT_NE(question, nullptr);
        EXPECT_FALSE(IsWindowEnabled(run.window)) << "the question is modal over the dialog";
        Answer(question, true);
        EXPECT_TRUE(WaitUntil([] { return AbortRequested.load(); }));
        EXPECT_TRUE(SettleProgressDialog(run.window));
        EXPECT_TRUE(IsWindowVisible(run.window));
        EXPECT_TRUE(NoConfirmation(run.window)) << "a yes is not asked twice";
        EXPECT_EQ(run.End(), 0);
        AbortRequested = false;
    }
}

TEST(DependencyDialog, LockArrivingWhileTheQuestionIsOpenSuppressesTheAbort)
{
    ProgressRun run(TRUE);
    ASSERT_NE(run.window, nullptr);
    run.dialog->HideButton(FALSE, FALSE);
    ClickStatic(run.window, IDC_CLOSE_CONTROL);
    HWND question = Confirmation(run.window);
    ASSERT_NE(question, nullptr);
    run.dialog->HideButton(TRUE, TRUE);  // the downloads finish meanwhile
    Answer(question, true);
    EXPECT_TRUE(SettleProgressDialog(run.window));
    EXPECT_FALSE(AbortRequested);
    EXPECT_EQ(run.End(), 0);
}

TEST(DependencyDialog, CallsFromAnotherThreadWhileTheModalLoopRuns)
{
    ProgressRun run(TRUE);
    ASSERT_NE(run.window, nullptr);
    HWND w = run.window;
    run.dialog->SetHeaderTexts(L"Installing", L"Installing the .NET Framework");
    run.dialog->SetStatusTexts(L"Almost there", L"Installing...");
    run.dialog->SetProgressPos(61);
    EXPECT_TRUE(SettleProgressDialog(w));
    EXPECT_EQ(ControlText(w, IDC_CAPTION), L"Installing");
    EXPECT_EQ(WindowText(w), L"Installing") << "the caption names the dialog";
    EXPECT_EQ(ControlText(w, IDC_BODY), L"Installing the .NET Framework");
    EXPECT_EQ(ControlText(w, IDC_HEADLINE), L"Almost there");
    EXPECT_EQ(ControlText(w, IDC_PROGRESS_LINE), L"Installing...");
    EXPECT_EQ(run.dialog->m_progress.GetPos(), 61);
    EXPECT_EQ(ControlFont(w, IDC_BODY).lfWeight, 0) << "fonts are not touched";

    // The same while the quit question holds the dialog thread in its own loop: nothing waits.
    run.dialog->HideButton(FALSE, FALSE);
    ClickStatic(w, IDC_CLOSE_CONTROL);
    HWND question = Confirmation(w);
    ASSERT_NE(question, nullptr);
    run.dialog->SetHeaderTexts(L"Still here", L"Body while asking");
    run.dialog->SetStatusTexts(L"Bold while asking", L"Line while asking");
    run.dialog->SetProgressPos(90);
    EXPECT_TRUE(SettleProgressDialog(w));
    EXPECT_EQ(ControlText(w, IDC_CAPTION), L"Still here");
    EXPECT_EQ(ControlText(w, IDC_PROGRESS_LINE), L"Line while asking");
    EXPECT_EQ(run.dialog->m_progress.GetPos(), 90);
    Answer(question, false);
    EXPECT_EQ(run.End(), 0);
}

// The download thread hands positions over faster than the dialog's thread shows them: each is
// still shown, in order, and the end request, made right after the last, comes after them all.
TEST(DependencyDialog, EveryPositionIsShownInOrderBeforeTheEnd)
{
    WinEventRecorder events;
    ASSERT_TRUE(events.Hooked());
    ProgressRun run(TRUE);
    ASSERT_NE(run.window, nullptr);
    HWND bar = GetDlgItem(run.window, IDC_PROGRESS);
    HWND line = GetDlgItem(run.window, IDC_PROGRESS_LINE);
    events.Settle();
    events.Clear();
    for (int position = 1; position <= 100; ++position) run.dialog->SetProgressPos(position);
    run.dialog->SetStatusTexts(L"Done", L"All there");
    EXPECT_EQ(run.End(), 0);
    EXPECT_EQ(run.dialog->m_progress.GetPos(), 100);
    events.Settle();
    EXPECT_EQ(events.Count(EVENT_OBJECT_VALUECHANGE, bar), 100) << "each of the hundred percentages, none left out";
    EXPECT_EQ(events.Count(EVENT_OBJECT_LIVEREGIONCHANGED, line), 1) << "the last text came before the end";
}

TEST(DependencyDialog, EndRequestFromAnotherThreadEndsTheLoopWithZero)
{
    {
        ProgressRun run(FALSE);
        ASSERT_NE(run.window, nullptr);
        EXPECT_EQ(run.End(), 0);
        EXPECT_FALSE(IsWindow(run.window));
    }
    {
        // With the quit question open, the question goes too (answered no), and nothing aborts.
        ProgressRun run(TRUE);
        ASSERT_NE(run.window, nullptr);
        run.dialog->HideButton(FALSE, FALSE);
        ClickStatic(run.window, IDC_CLOSE_CONTROL);
        HWND question = Confirmation(run.window);
        ASSERT_NE(question, nullptr);
        EXPECT_EQ(run.End(), 0);
        EXPECT_FALSE(IsWindow(question));
        EXPECT_FALSE(IsWindow(run.window));
        EXPECT_FALSE(AbortRequested);
    }
    {
        // Asked before the dialog has a window: it ends as soon as it has been set up, after
        // showing what the download handed over before (it never waits for the window).
        auto dialog = std::make_unique<DependencyDialog>(L"c", L"b", TRUE, nullptr);
        dialog->SetProgressPos(42);
        dialog->RequestEnd();
        EXPECT_EQ(dialog->DoModal(), 0);
        EXPECT_EQ(dialog->m_progress.GetPos(), 42);
    }
}

TEST(DependencyDialog, BothLayoutsTextsFontsAndColours)
{
    const COLORREF orange = RGB(231, 82, 0), cream = RGB(255, 247, 206), white = RGB(255, 255, 255);
    const COLORREF black = RGB(0, 0, 0), brown = RGB(156, 95, 46), blue = RGB(0, 0, 255);
    struct Colour { int id; COLORREF bk, text; };  // bk CLR_INVALID: transparent over the skin
    auto checkColours = [](HWND w, std::initializer_list<Colour> rows) {
        for (const Colour& r : rows) {
            const CtlColors c = QueryCtlColorStatic(w, r.id);
            if (r.bk == CLR_INVALID) {
                EXPECT_EQ(c.mode, TRANSPARENT) << r.id;
                EXPECT_EQ(c.brush, static_cast<HBRUSH>(GetStockObject(NULL_BRUSH))) << r.id;
                continue;
            }
            EXPECT_EQ(c.mode, OPAQUE) << r.id;
            EXPECT_EQ(c.background, r.bk) << r.id;
            EXPECT_EQ(c.text, r.text) << r.id;
            EXPECT_EQ(c.brushColour, r.bk) << r.id;
        }
    };
    RECT screen{};
    GetWindowRect(GetDesktopWindow(), &screen);

    {
        SCOPED_TRACE(".NET layout");
        ProgressRun run(TRUE);
        ASSERT_NE(run.window, nullptr);
        HWND w = run.window;
        EXPECT_EQ(ControlText(w, IDC_CAPTION), L"Tarvelo Setup");
        EXPECT_EQ(ControlText(w, IDC_BODY), L"Fetching the files");
        EXPECT_EQ(ControlText(w, IDC_HEADLINE), Text(L"DOTNET_HYPERLINK_TEXT"));
        EXPECT_EQ(ControlText(w, IDC_PROGRESS_LINE), Text(L"PROGRESS_BAR_DOWNLOADING_TEXT"));
        EXPECT_EQ(ControlText(w, IDC_TOUR_LINK), Text(L"URL_LABEL2"));
        EXPECT_FALSE(Text(L"URL_LABEL2").empty());
        for (int id : {IDC_FEATURE1, IDC_FEATURE2, IDC_FEATURE3}) EXPECT_EQ(ControlText(w, id), L"") << id;
        EXPECT_FALSE(ControlFont(w, IDC_TOUR_LINK).lfUnderline);
        EXPECT_TRUE(ControlVisible(w, IDC_TOUR_LINK));
        for (int id : {IDC_CAPTION, IDC_HEADLINE, IDC_PROGRESS_LINE}) {
            const LOGFONTW f = ControlFont(w, id);
            EXPECT_STREQ(f.lfFaceName, L"Verdana") << id;
            EXPECT_EQ(f.lfHeight, 14) << id;
            EXPECT_EQ(f.lfWeight, 700) << id;
        }
        checkColours(w, {{IDC_CAPTION, orange, white},
                         {IDC_BODY, cream, black},
                         {IDC_HEADLINE, cream, black},
                         {IDC_FEATURE1, CLR_INVALID, 0},
                         {IDC_TOUR_LINK, cream, blue},
                         {IDC_PROGRESS_LINE, white, black},
                         {IDC_CLOSE_CONTROL, white, black}});
        // Centred on the screen, with the bar in the caption colour and no percentage.
        RECT r{}, c{};
        GetWindowRect(w, &r);
        GetClientRect(w, &c);
        EXPECT_EQ(r.left, (screen.left + screen.right) / 2 - c.right / 2);
        EXPECT_EQ(r.top, (screen.top + screen.bottom) / 2 - c.bottom / 2);
        EXPECT_EQ(run.dialog->m_progress.m_crBar, orange);
        EXPECT_FALSE(run.dialog->m_progress.m_bShowPercent);
        EXPECT_EQ(run.End(), 0);
    }
    {
        SCOPED_TRACE("product layout");
        ProgressRun run(FALSE);
        ASSERT_NE(run.window, nullptr);
        HWND w = run.window;
        EXPECT_EQ(ControlText(w, IDC_HEADLINE), L"");
        EXPECT_EQ(ControlText(w, IDC_TOUR_LINK), L"");
        EXPECT_FALSE(ControlVisible(w, IDC_TOUR_LINK)) << "the empty link would cover the feature texts";
        EXPECT_EQ(ControlText(w, IDC_PROGRESS_LINE), Text(L"PROGRESS_BAR_TARVELO"));
        EXPECT_EQ(ControlText(w, IDC_FEATURE1), Text(L"DOWNLOAD_CONTENT"));
        EXPECT_EQ(ControlText(w, IDC_FEATURE2), Text(L"BROWSE_SEARCH"));
        EXPECT_EQ(ControlText(w, IDC_FEATURE3), Text(L"SYNC_MOBILE"));
        EXPECT_FALSE(Text(L"SYNC_MOBILE").empty());
        for (int id : {IDC_FEATURE1, IDC_FEATURE2, IDC_FEATURE3}) {
            const LOGFONTW f = ControlFont(w, id);
            EXPECT_STREQ(f.lfFaceName, L"Arial") << id;
            EXPECT_EQ(f.lfHeight, 15) << id;
            EXPECT_EQ(f.lfWeight, 700) << id;
        }
        checkColours(w, {{IDC_CAPTION, orange, white},
                         {IDC_BODY, CLR_INVALID, 0},
                         {IDC_HEADLINE, CLR_INVALID, 0},
                         {IDC_FEATURE2, cream, brown},
                         {IDC_TOUR_LINK, cream, blue},
                         {IDC_PROGRESS_LINE, white, black}});
        EXPECT_EQ(run.End(), 0);
    }
}
