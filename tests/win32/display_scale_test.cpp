// Display scale: the skin set chosen for a DPI (and the fallbacks when a set is missing), and the
// dialogs moved to a monitor of another scale (WM_DPICHANGED, which Wine never sends itself).
// Runs at the DPI of its prefix: 96, and 144 through tools/with-dpi.sh.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>

#include "framework/app.h"
#include "resources/resource.h"
#include "support/dialog_driver.h"
#include "support/installer_log.h"
#include "support/progress_run.h"
#include "support/scratch_folder.h"
#include "support/skin_files.h"
#include "ui/controls/bmp_button.h"
#include "ui/controls/display_scale.h"
#include "ui/dialogs/dependency_dialog.h"
#include "ui/dialogs/message_dialog.h"
#include "ui/dialogs/proxy_info_dialog.h"

using namespace dialog_driver;

namespace {

const auto* const g_env = ::testing::AddGlobalTestEnvironment(new RunFolderEnvironment);

constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);

SIZE BitmapSize(HBITMAP bitmap)
{
    BITMAP info{};
    GetObjectW(bitmap, sizeof info, &info);
    return SIZE{info.bmWidth, info.bmHeight};
}

COLORREF PixelOf(HBITMAP bitmap, int x, int y)
{
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, bitmap);
    const COLORREF colour = GetPixel(dc, x, y);
    SelectObject(dc, old);
    DeleteDC(dc);
    return colour;
}

int FontHeight(HWND control)
{
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof font, &font);
    return font.lfHeight;
}

int LineHeight(HWND control)
{
    HDC dc = GetDC(control);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    return metrics.tmHeight;
}

// A skin font of `height` pixels at 96 dpi, at `dpi`: its share rounded down, and a pixel less
// where the font engine would draw that a pixel taller; never taller than its share.
void ExpectSkinFont(HWND control, int height, UINT dpi, const std::string& where)
{
    const int share = ScaleFontHeight(height, static_cast<int>(dpi));
    if (dpi == kReferenceDpi) {
        EXPECT_EQ(FontHeight(control), height) << where;
        return;
    }
    EXPECT_GE(FontHeight(control), share - 1) << where;
    EXPECT_LE(FontHeight(control), share) << where;
    EXPECT_LE(LineHeight(control), share) << where;
}

RECT Scaled(const RECT& reference, UINT dpi)
{
    const int d = static_cast<int>(dpi);
    return RECT{ScaleToDpi(reference.left, d), ScaleToDpi(reference.top, d), ScaleToDpi(reference.right, d),
                ScaleToDpi(reference.bottom, d)};
}

bool Same(const RECT& a, const RECT& b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

std::string Show(const RECT& r)
{
    return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + ")-(" + std::to_string(r.right) + "," +
           std::to_string(r.bottom) + ")";
}

// Sends WM_DPICHANGED as Windows does when the window moves to a monitor of another scale: the
// new DPI, and the rectangle it suggests (where the window is, at the size it asks for itself).
void MoveToScale(HWND dialog, UINT dpi)
{
    SIZE size{0, 0};
    SendMessageW(dialog, WM_GETDPISCALEDSIZE, dpi, reinterpret_cast<LPARAM>(&size));
    RECT window{};
    GetWindowRect(dialog, &window);
    RECT suggested{window.left, window.top, window.left + size.cx, window.top + size.cy};
    SendMessageW(dialog, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
}

// What a screen at `dpi` must show of a skinned dialog: its size, its skin, its shape, its close
// control and its fonts, all from the layout at the reference DPI.
void ExpectLaidOutFor(CBitmapDialog& dialog, UINT dpi, SIZE referenceClient)
{
    const HWND w = dialog.m_hWnd;
    const std::string where = "at " + std::to_string(dpi) + " dpi";
    EXPECT_EQ(dialog.Dpi(), dpi) << where;
    RECT client{}, window{};
    GetClientRect(w, &client);
    GetWindowRect(w, &window);
    EXPECT_EQ(client.right, ScaleToDpi(referenceClient.cx, dpi)) << where;
    EXPECT_EQ(client.bottom, ScaleToDpi(referenceClient.cy, dpi)) << where;
    // The set of its scale, or for 175 % the 200 % set scaled down; the face covers the window.
    EXPECT_EQ(dialog.SkinSet(), dpi == 168 ? 200 : ScalePercent(dpi)) << where;
    BITMAP face{};
    ASSERT_TRUE(dialog.m_pBackground && dialog.m_pBackground->GetBitmap(&face)) << where;
    EXPECT_EQ(face.bmWidth, client.right) << where;
    EXPECT_EQ(face.bmHeight, client.bottom) << where;
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    ASSERT_NE(GetWindowRgn(w, region), ERROR) << where;
    RECT box{};
    GetRgnBox(region, &box);
    DeleteObject(region);
    // A rounded region leaves out its last column and row.
    EXPECT_TRUE(Same(box, RECT{0, 0, window.right - window.left - 1, window.bottom - window.top - 1})) << where << Show(box);
    // Every control where its reference rectangle puts it at this scale (the link fits its text).
    for (HWND child = GetWindow(w, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        const int id = GetDlgCtrlID(child);
        if (id == IDC_TOUR_LINK || id == IDC_LINK || id == IDC_CLOSE_CONTROL) continue;
        const RECT expected = Scaled(dialog.ReferenceRect(child), dpi);
        const RECT placed = ControlRect(w, id);
        EXPECT_TRUE(Same(placed, expected)) << where << " control " << id << " at " << Show(placed) << ", not "
                                            << Show(expected);
    }
    // The close control shows its image of this scale: 22 x 21 at the reference DPI.
    if (HWND close = GetDlgItem(w, IDC_CLOSE_CONTROL)) {
        const RECT r = ControlRect(w, IDC_CLOSE_CONTROL);
        EXPECT_EQ(r.right - r.left, ScaleToDpi(22, dpi)) << where;
        EXPECT_EQ(r.bottom - r.top, ScaleToDpi(21, dpi)) << where;
        const RECT reference = dialog.ReferenceRect(close);
        EXPECT_EQ(r.left, ScaleToDpi(reference.left, dpi)) << where;
        EXPECT_EQ(r.top, ScaleToDpi(reference.top, dpi)) << where;
    }
    ExpectSkinFont(GetDlgItem(w, IDC_CAPTION), 14, dpi, where);
}

class DisplayScale : public ::testing::Test {
protected:
    const UINT startDpi = WindowDpi(GetDesktopWindow());
};

// The layout is taken from the template with the dialog font at the reference DPI, whatever DPI
// the dialog starts at: these are the template's rectangles with base units 6 x 13.
TEST_F(DisplayScale, ReferenceLayoutIsTheTemplatesAtNinetySixDpiWhateverTheStart)
{
    ProgressRun run(TRUE);
    ASSERT_NE(run.window, nullptr);
    DependencyDialog& d = *run.dialog;
    EXPECT_EQ(d.Dpi(), startDpi);
    EXPECT_TRUE(Same(d.ReferenceRect(GetDlgItem(run.window, IDC_PROGRESS)), RECT{39, 265, 413, 285}));
    EXPECT_TRUE(Same(d.ReferenceRect(GetDlgItem(run.window, IDC_CAPTION)), RECT{39, 8, 389, 28}));
    EXPECT_TRUE(Same(d.ReferenceRect(GetDlgItem(run.window, IDC_BODY)), RECT{38, 59, 400, 196}));
    ExpectLaidOutFor(d, startDpi, SIZE{458, 302});
    EXPECT_EQ(run.End(), 0);
}

// Windows 8.1 has per-monitor scales but no GetDpiForWindow: there the first layout takes the
// scale of the monitor the dialog opens on (GetDpiForMonitor, stood in for here by a monitor at
// another scale than the system's), while the template's font, which the dialog manager made at
// the system's scale, still gives the reference layout.
HMONITOR g_monitorAsked = nullptr;
HRESULT WINAPI SecondMonitorDpi(HMONITOR monitor, int type, UINT* x, UINT* y)
{
    g_monitorAsked = monitor;
    if (type != 0) return E_INVALIDARG;  // only the effective scale is asked for
    *x = *y = 120;
    return S_OK;
}

TEST_F(DisplayScale, WithoutDpiForWindowTheFirstLayoutTakesTheScaleOfItsMonitor)
{
    DpiQueries windows81;
    windows81.forMonitor = SecondMonitorDpi;
    SetDpiQueriesForTesting(&windows81);
    ProgressRun run(TRUE);
    ASSERT_NE(run.window, nullptr);
    EXPECT_EQ(g_monitorAsked, MonitorFromWindow(run.window, MONITOR_DEFAULTTONEAREST));
    EXPECT_TRUE(Same(run.dialog->ReferenceRect(GetDlgItem(run.window, IDC_PROGRESS)), RECT{39, 265, 413, 285}));
    ExpectLaidOutFor(*run.dialog, 120, SIZE{458, 302});
    EXPECT_EQ(run.End(), 0);
    SetDpiQueriesForTesting(nullptr);
}

// A move to each scale and back: every length follows, the skin is the set of the scale, and
// the return gives back the very layout and fonts it started with.
TEST_F(DisplayScale, ProgressDialogFollowsMovesBetweenScalesAndComesBackUnchanged)
{
    ProgressRun run(TRUE);
    ASSERT_NE(run.window, nullptr);
    DependencyDialog& d = *run.dialog;
    const HWND w = run.window;
    std::map<HWND, RECT> before;
    for (HWND child = GetWindow(w, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        before[child] = ControlRect(w, GetDlgCtrlID(child));
    const int linkFont = FontHeight(GetDlgItem(w, IDC_TOUR_LINK));

    for (UINT dpi : {120u, 192u, 168u, 144u, 96u}) {
        MoveToScale(w, dpi);
        ExpectLaidOutFor(d, dpi, SIZE{458, 302});
        // The link's own font follows, and the link still fits its text.
        EXPECT_EQ(FontHeight(GetDlgItem(w, IDC_TOUR_LINK)), RescaleLength(linkFont, startDpi, dpi)) << dpi;
        const RECT link = ControlRect(w, IDC_TOUR_LINK);
        EXPECT_EQ(link.left, ScaleToDpi(d.ReferenceRect(GetDlgItem(w, IDC_TOUR_LINK)).left, dpi)) << dpi;
        HDC dc = GetDC(GetDlgItem(w, IDC_TOUR_LINK));
        HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(GetDlgItem(w, IDC_TOUR_LINK), WM_GETFONT, 0, 0)));
        SIZE text{};
        const std::wstring linkText = ControlText(w, IDC_TOUR_LINK);
        GetTextExtentPoint32W(dc, linkText.c_str(), static_cast<int>(linkText.size()), &text);
        SelectObject(dc, old);
        ReleaseDC(GetDlgItem(w, IDC_TOUR_LINK), dc);
        EXPECT_EQ(link.right - link.left, text.cx) << dpi;
        // The bar still moves and is drawn across its new width.
        d.m_progress.SetPos(static_cast<int>(dpi) / 4);
    }
    MoveToScale(w, startDpi);
    for (const auto& entry : before) {
        const int id = GetDlgCtrlID(entry.first);
        EXPECT_TRUE(Same(ControlRect(w, id), entry.second)) << "control " << id << " back at "
                                                           << Show(ControlRect(w, id)) << ", not " << Show(entry.second);
    }
    EXPECT_EQ(FontHeight(GetDlgItem(w, IDC_TOUR_LINK)), linkFont);
    ExpectSkinFont(GetDlgItem(w, IDC_CAPTION), 14, startDpi, "back");
    EXPECT_EQ(run.End(), 0);
}

// The window goes where Windows suggests; the size it asks for beforehand is the skin's.
TEST_F(DisplayScale, SuggestedRectangleIsTakenAndTheAskedSizeIsTheSkins)
{
    ProgressRun run(FALSE);
    ASSERT_NE(run.window, nullptr);
    SIZE asked{0, 0};
    EXPECT_TRUE(SendMessageW(run.window, WM_GETDPISCALEDSIZE, 192, reinterpret_cast<LPARAM>(&asked)));
    EXPECT_EQ(asked.cx, 916);
    EXPECT_EQ(asked.cy, 604);
    RECT suggested{30, 40, 30 + 916, 40 + 604};
    SendMessageW(run.window, WM_DPICHANGED, MAKEWPARAM(192, 192), reinterpret_cast<LPARAM>(&suggested));
    RECT window{};
    GetWindowRect(run.window, &window);
    EXPECT_TRUE(Same(window, suggested)) << Show(window);
    EXPECT_EQ(run.dialog->SkinSet(), 200);
    EXPECT_EQ(run.End(), 0);
}

// The one-button position and the fonts of fields that keep the dialog's font follow the scale.
TEST_F(DisplayScale, OneButtonPositionAndFieldFontsFollowTheScale)
{
    INT_PTR result = RunDriven(
        [] {
            MessageDialog dialog(L"Tarvelo Setup", L"Headline", L"Body", L"OK", L"", nullptr);
            return dialog.DoModal();
        },
        [&] {
            HWND w = WaitForDialog(IDD_MESSAGE_DIALOG);
            if (!w) return false;
            // (320, 140 + its width) at the reference DPI; the button is 74 units (111 pixels) wide.
            const RECT at = ControlRect(w, IDOK);
            EXPECT_EQ(at.left, ScaleToDpi(320, startDpi));
            EXPECT_EQ(at.top, ScaleToDpi(140 + 111, startDpi));
            MoveToScale(w, 192);
            const RECT moved = ControlRect(w, IDOK);
            EXPECT_EQ(moved.left, 640);
            EXPECT_EQ(moved.top, 2 * (140 + 111));
            EXPECT_EQ(moved.right - moved.left, 222);
            EXPECT_FALSE(ControlVisible(w, IDCANCEL));
            PostClose(w);
            return true;
        });
    EXPECT_EQ(result, 2);

    ProgressRun progress(TRUE);
    ASSERT_NE(progress.window, nullptr);
    result = RunDriven(
        [] {
            ProxyInfoDialog dialog;
            dialog.SetMessage(L"Proxy");
            return dialog.DoModal();
        },
        [&] {
            HWND w = WaitForDialog(IDD_PROXY_INFO_DIALOG);
            if (!w) return false;
            const int field = FontHeight(GetDlgItem(w, IDC_PROXY_SERVER));
            for (UINT dpi : {144u, 192u, 96u}) {
                MoveToScale(w, dpi);
                EXPECT_EQ(FontHeight(GetDlgItem(w, IDC_PROXY_SERVER)), RescaleLength(field, startDpi, dpi)) << dpi;
                EXPECT_EQ(FontHeight(GetDlgItem(w, IDC_PROXY_PORT)), RescaleLength(field, startDpi, dpi)) << dpi;
                ExpectSkinFont(GetDlgItem(w, IDC_CONTINUE), 14, dpi, std::to_string(dpi));
            }
            PostClose(w);
            return true;
        });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(progress.End(), 0);
}

class SkinSets : public ::testing::Test {
protected:
    SkinSets() : m_temp(L"TEMP", m_logFolder.Path().c_str()) { InstallerLog::Close(); }
    ~SkinSets() override { InstallerLog::Close(); }

    std::string Log()
    {
        InstallerLog::Close();
        std::string content;
        ReadWholeFile(m_logFolder / L"Tarvelo\\Logs\\InstallerLogs\\Stage1Logs.txt", content);
        return content;
    }
    static int Count(const std::string& text, const std::string& line)
    {
        int n = 0;
        for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++n;
        return n;
    }

    TempFolder m_logFolder{L"skin-sets-log"};
    ScopedEnvironmentVariable m_temp;
    ScratchFolder m_folder{L"skin-sets"};
};

// The set of the scale; between scales the next larger set scaled down; without larger sets a
// smaller one scaled up; each missing set logged once, whatever the image.
TEST_F(SkinSets, MissingSetsFallBackLargerFirstAndAreLoggedOnce)
{
    ASSERT_TRUE(WriteBitmapFile(m_folder.Image(L"Small.bmp"), 20, 10, [](int, int) { return kRed; }));
    CreateDirectoryW((m_folder.Path() + L"\\Images\\200").c_str(), nullptr);
    ASSERT_TRUE(WriteBitmapFile(m_folder.Image(L"200\\Small.bmp"), 40, 20, [](int, int) { return kBlue; }));
    struct Case {
        UINT dpi;
        int set;
        SIZE size;
        COLORREF colour;
    } cases[] = {
        {96, 100, {20, 10}, kRed},   {192, 200, {40, 20}, kBlue},  {144, 200, {30, 15}, kBlue},
        {120, 200, {25, 13}, kBlue}, {168, 200, {35, 18}, kBlue},  {288, 200, {60, 30}, kBlue},
    };
    for (const Case& c : cases) {
        int set = 0;
        HBITMAP image = LoadSkinImageForDpi(kSkinSmallBackground, c.dpi, nullptr, &set);
        ASSERT_NE(image, nullptr) << c.dpi;
        EXPECT_EQ(set, c.set) << c.dpi;
        EXPECT_EQ(BitmapSize(image).cx, c.size.cx) << c.dpi;
        EXPECT_EQ(BitmapSize(image).cy, c.size.cy) << c.dpi;
        EXPECT_EQ(PixelOf(image, c.size.cx / 2, c.size.cy / 2), c.colour) << c.dpi;
        DeleteObject(image);
    }
    // Without the larger set, the reference set is scaled up.
    DeleteFileW(m_folder.Image(L"200\\Small.bmp").c_str());
    int set = 0;
    HBITMAP image = LoadSkinImageForDpi(kSkinSmallBackground, 144, nullptr, &set);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(set, 100);
    EXPECT_EQ(BitmapSize(image).cx, 30);
    EXPECT_EQ(PixelOf(image, 15, 7), kRed);
    DeleteObject(image);
    // No set has it: nothing, and still no line twice.
    EXPECT_EQ(LoadSkinImageForDpi(L"\\Images\\Nothing.bmp", 96, nullptr, &set), nullptr);
    EXPECT_EQ(set, 0);

    const std::string log = Log();
    for (const char* line : {"Skin set 100% missing", "Skin set 125% missing", "Skin set 150% missing",
                             "Skin set 200% missing"})
        EXPECT_EQ(Count(log, line), 1) << line << " in:\n" << log;
}

// A background a pixel short of the dialog (its sizes are rounded at its own scale, and one
// template is a unit wider than its skin) fills it by repeating its edge, without resampling;
// one much smaller keeps its own size.
TEST_F(SkinSets, BackgroundShortOfTheDialogByAPixelFillsItWithoutResampling)
{
    ASSERT_TRUE(WriteBitmapFile(m_folder.Image(L"Small.bmp"), 40, 30, [](int x, int) {
        return x == 39 ? kBlue : (x % 2 ? kRed : RGB(0, 255, 0));
    }));
    const SIZE fit{41, 31};
    HBITMAP image = LoadSkinImageForDpi(kSkinSmallBackground, 96, &fit);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(BitmapSize(image).cx, 41);
    EXPECT_EQ(BitmapSize(image).cy, 31);
    EXPECT_EQ(PixelOf(image, 0, 0), RGB(0, 255, 0));
    EXPECT_EQ(PixelOf(image, 1, 0), kRed);  // the alternation is intact: nothing resampled
    EXPECT_EQ(PixelOf(image, 37, 30), kRed);
    EXPECT_EQ(PixelOf(image, 38, 30), RGB(0, 255, 0));
    EXPECT_EQ(PixelOf(image, 40, 30), kBlue);
    DeleteObject(image);
    const SIZE distant{200, 100};
    image = LoadSkinImageForDpi(kSkinSmallBackground, 96, &distant);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(BitmapSize(image).cx, 40);
    DeleteObject(image);
}

// The close control's images come from the set of the scale, at their size for it.
TEST_F(DisplayScale, CloseControlImagesComeFromTheSetOfTheScale)
{
    for (UINT dpi : {96u, 120u, 144u, 168u, 192u}) {
        HBITMAP image = LoadSkinImageForDpi(kSkinCloseNormal, dpi);
        ASSERT_NE(image, nullptr) << dpi;
        EXPECT_EQ(BitmapSize(image).cx, ScaleToDpi(22, dpi)) << dpi;
        EXPECT_EQ(BitmapSize(image).cy, ScaleToDpi(21, dpi)) << dpi;
        DeleteObject(image);
    }
}

}  // namespace
