// No text is clipped: every dialog in every state, in the language of TARVELO_TEXT_LANGUAGE
// (one program run per shipped language, since the text table is fixed per process). Each text
// is measured with its control's own font and wrapping the way the control draws it, against the
// control's client rectangle. Wine draws Verdana and Arial with DejaVu Sans (tools/setup.sh
// installs it), whose glyphs come out at least as wide at the same cell height, so what fits here
// fits with the real fonts.
// The program runs once per display scale too (tools/with-dpi.sh, TARVELO_TEST_DPI): at each, the
// texts fit, and the skin of that scale covers each dialog exactly and lies under it as drawn.
#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/dialog_driver.h"
#include "support/dialog_scenes.h"
#include "support/localized_text.h"
#include "ui/controls/bitmap_dialog.h"
#include "ui/controls/display_scale.h"

using namespace dialog_driver;
using dialog_scenes::Scene;

namespace {

std::wstring Language()
{
    const char* value = std::getenv("TARVELO_TEXT_LANGUAGE");
    const std::string language = value && *value ? value : "en-GB";
    return std::wstring(language.begin(), language.end());
}

// The DPI the run was started for; the prefix must really give it.
UINT TestDpi()
{
    const char* value = std::getenv("TARVELO_TEST_DPI");
    return value && *value ? static_cast<UINT>(std::atoi(value)) : kReferenceDpi;
}

class LanguageEnvironment : public RunFolderEnvironment {
public:
    void SetUp() override
    {
        RunFolderEnvironment::SetUp();
        // The first call fixes the table for the process, as the configuration reader's does.
        ASSERT_EQ(LocalizedText::Instance(Language())->GetLanguage(), Language()) << "no text table for it";
        ASSERT_EQ(WindowDpi(GetDesktopWindow()), TestDpi()) << "the prefix does not have the display scale asked for";
    }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new LanguageEnvironment);

std::wstring ClassName(HWND window)
{
    wchar_t name[32] = {};
    GetClassNameW(window, name, 32);
    return name;
}

// How the control lays its text out: DrawText flags and the part of its client area the text
// may use.
struct Layout {
    UINT flags;
    RECT area;
};

Layout LayoutOf(HWND control)
{
    RECT client{};
    GetClientRect(control, &client);
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    if (lstrcmpiW(ClassName(control).c_str(), L"Button") == 0) {
        // A push button draws its label inside its frame (2 pixels), the default button's outline
        // (1) and a margin of 1, on one line unless it is BS_MULTILINE.
        InflateRect(&client, -4, -4);
        return {(style & BS_MULTILINE) ? UINT(DT_WORDBREAK | DT_CENTER) : UINT(DT_SINGLELINE | DT_CENTER), client};
    }
    UINT flags = DT_EXPANDTABS;
    switch (style & SS_TYPEMASK) {
    case SS_LEFT: flags |= DT_WORDBREAK; break;
    case SS_CENTER: flags |= DT_WORDBREAK | DT_CENTER; break;
    case SS_RIGHT: flags |= DT_WORDBREAK | DT_RIGHT; break;
    default: flags |= DT_SINGLELINE; break;  // SS_LEFTNOWORDWRAP, SS_SIMPLE
    }
    if (style & SS_CENTERIMAGE) flags = (flags & ~DT_WORDBREAK) | DT_SINGLELINE | DT_VCENTER;
    if (style & SS_NOPREFIX) flags |= DT_NOPREFIX;
    if (style & SS_EDITCONTROL) flags |= DT_EDITCONTROL;
    return {flags, client};
}

struct Measure {
    SIZE text{};
    SIZE room{};
    int lineWidth = 0;   // the text on one line
    int lineHeight = 0;
    std::wstring face;
    int SpareX() const { return room.cx - text.cx; }
    int SpareY() const { return room.cy - text.cy; }
    // What is left: on a text's only line, the room beside it; for several lines, below them.
    int Spare() const { return text.cy <= lineHeight ? room.cx - lineWidth : SpareY(); }
};

Measure MeasureText(HWND control, const std::wstring& text)
{
    Measure m;
    const Layout layout = LayoutOf(control);
    m.room = {layout.area.right - layout.area.left, layout.area.bottom - layout.area.top};
    DWORD_PTR font = 0;
    SendMessageTimeoutW(control, WM_GETFONT, 0, 0, SMTO_NORMAL, WaitLimitMs(), &font);
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    ReleaseDC(nullptr, screen);
    HGDIOBJ old = font ? SelectObject(dc, reinterpret_cast<HFONT>(font)) : nullptr;
    RECT r{0, 0, m.room.cx, 0};
    DrawTextW(dc, text.c_str(), -1, &r, layout.flags | DT_CALCRECT);
    m.text = {r.right - r.left, r.bottom - r.top};
    RECT line{0, 0, 0, 0};
    DrawTextW(dc, text.c_str(), -1, &line, (layout.flags & ~DT_WORDBREAK) | DT_SINGLELINE | DT_CALCRECT);
    m.lineWidth = line.right - line.left;
    m.lineHeight = line.bottom - line.top;
    wchar_t face[LF_FACESIZE] = {};
    GetTextFaceW(dc, LF_FACESIZE, face);
    m.face = face;
    if (old) SelectObject(dc, old);
    DeleteDC(dc);
    return m;
}

bool Inside(const RECT& inner, const RECT& outer)
{
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

struct ChildList {
    HWND dialog;
    std::vector<HWND> children;
};

BOOL CALLBACK CollectChild(HWND child, LPARAM param)
{
    auto* list = reinterpret_cast<ChildList*>(param);
    if (GetParent(child) == list->dialog) list->children.push_back(child);
    return TRUE;
}

}  // namespace

namespace {

// The face as the dialog paints it: its background erase into a bitmap of the client's size.
struct Face {
    explicit Face(HWND dialog)
    {
        RECT client{};
        GetClientRect(dialog, &client);
        width = client.right;
        height = client.bottom;
        HDC screen = GetDC(nullptr);
        dc = CreateCompatibleDC(screen);
        bitmap = CreateCompatibleBitmap(screen, width, height);
        ReleaseDC(nullptr, screen);
        old = SelectObject(dc, bitmap);
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(dialog, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0, SMTO_NORMAL, WaitLimitMs(),
                            &ignored);
    }
    ~Face()
    {
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    COLORREF At(int x, int y) const { return GetPixel(dc, x, y); }
    int width, height;
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ old;
};

std::string Colour(COLORREF c)
{
    return "RGB(" + std::to_string(GetRValue(c)) + "," + std::to_string(GetGValue(c)) + "," +
           std::to_string(GetBValue(c)) + ")";
}

// The skin at this scale: the set drawn for it covers the dialog exactly and lies under its
// controls as drawn.
void CheckSkin(const Scene& scene)
{
    const UINT dpi = TestDpi();
    SCOPED_TRACE("the skin at " + std::to_string(dpi) + " dpi");
    auto* dialog = dynamic_cast<CBitmapDialog*>(CDialog::FromDialogHandle(scene.window));
    ASSERT_NE(dialog, nullptr);

    // The set drawn for this scale.
    EXPECT_EQ(dialog->Dpi(), dpi);
    EXPECT_EQ(dialog->SkinSet(), ScalePercent(static_cast<int>(dpi))) << "the skin set chosen";

    // The face covers the window exactly: the background is the client area, the client
    // area the window, and the window's shape spans it (a rounded region leaves out its
    // last column and row).
    RECT window{}, client{};
    GetWindowRect(scene.window, &window);
    GetClientRect(scene.window, &client);
    EXPECT_EQ(client.right, window.right - window.left);
    EXPECT_EQ(client.bottom, window.bottom - window.top);
    BITMAP face{};
    ASSERT_TRUE(dialog->m_pBackground && dialog->m_pBackground->GetBitmap(&face));
    EXPECT_EQ(face.bmWidth, client.right);
    EXPECT_EQ(face.bmHeight, client.bottom);
    HRGN shape = CreateRectRgn(0, 0, 0, 0);
    ASSERT_NE(GetWindowRgn(scene.window, shape), ERROR);
    RECT box{};
    GetRgnBox(shape, &box);
    EXPECT_EQ(box.left, 0);
    EXPECT_EQ(box.top, 0);
    EXPECT_EQ(box.right, client.right - 1);
    EXPECT_EQ(box.bottom, client.bottom - 1);

    // Every control lies on the face, inside the window's shape; each label painted opaque
    // lies on skin of its own colour (so that its rectangle disappears into the face), and
    // the close control's image on skin of the image's ground.
    const Face painted(scene.window);
    ChildList list{scene.window, {}};
    EnumChildWindows(scene.window, CollectChild, reinterpret_cast<LPARAM>(&list));
    for (HWND child : list.children) {
        if (!IsWindowVisible(child)) continue;
        const int id = GetDlgCtrlID(child);
        const RECT r = ControlRect(scene.window, id);
        const std::string where = "control " + std::to_string(id);
        EXPECT_TRUE(Inside(r, client)) << where << " lies off the face";
        const POINT corners[] = {{r.left, r.top}, {r.right - 1, r.top}, {r.left, r.bottom - 1}, {r.right - 1, r.bottom - 1}};
        for (const POINT& p : corners) EXPECT_TRUE(PtInRegion(shape, p.x, p.y)) << where << " is cut by the window's shape";

        const LONG type = GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK;
        COLORREF ground = CLR_INVALID;
        const bool isStatic = lstrcmpiW(ClassName(child).c_str(), L"Static") == 0;
        if (isStatic && type == SS_BITMAP) {
            HBITMAP image = reinterpret_cast<HBITMAP>(SendMessageW(child, STM_GETIMAGE, IMAGE_BITMAP, 0));
            HDC dc = CreateCompatibleDC(nullptr);
            HGDIOBJ old = SelectObject(dc, image);
            ground = GetPixel(dc, 0, 0);
            SelectObject(dc, old);
            DeleteDC(dc);
        } else if (isStatic) {
            const CtlColors colours = QueryCtlColorStatic(scene.window, id);
            if (colours.mode == OPAQUE) ground = colours.background;
        }
        if (ground == CLR_INVALID) continue;
        for (const POINT& p : corners)
            EXPECT_EQ(Colour(painted.At(p.x, p.y)), Colour(ground)) << where << " at (" << p.x << "," << p.y << ")";
    }
    DeleteObject(shape);
}

}  // namespace

TEST(TextFit, EveryTextFitsItsControlAndTheSkinOfTheScaleCoversEveryDialogState)
{
    const std::string language = Narrow(Language());
    std::set<std::wstring> keysShown, faces;
    std::map<std::string, int> tightest;  // "key in control" -> its least spare room
    int scenes = 0;

    dialog_scenes::VisitEveryDialogState([&](const Scene& scene) {
        const std::string name = Narrow(scene.name);
        SCOPED_TRACE(language + " " + name);
        ++scenes;
        ASSERT_NE(scene.window, nullptr) << "the dialog did not open";
        RECT dialogClient{};
        GetClientRect(scene.window, &dialogClient);

        std::set<int> measured;
        for (const dialog_scenes::KeyedControl& c : scene.texts) {
            const std::string where = name + ", " + Narrow(c.key) + " in control " + std::to_string(c.id);
            HWND control = GetDlgItem(scene.window, c.id);
            ASSERT_NE(control, nullptr) << where;
            EXPECT_TRUE(IsWindowVisible(control)) << where;
            const std::wstring text = WindowText(control);
            EXPECT_FALSE(text.empty()) << where << ": the key has no text";
            EXPECT_EQ(text, Text(c.key)) << where << ": the control does not show this key";
            measured.insert(c.id);
            keysShown.insert(c.key);

            const Measure m = MeasureText(control, text);
            faces.insert(m.face);
            EXPECT_GE(m.SpareX(), 0) << where << " overflows by " << -m.SpareX() << " px to the right (text "
                                     << m.text.cx << " px wide, room " << m.room.cx << ")";
            EXPECT_GE(m.SpareY(), 0) << where << " overflows by " << -m.SpareY() << " px below (text "
                                     << m.text.cy << " px high, room " << m.room.cy << ")";
            const RECT placed = ControlRect(scene.window, c.id);
            EXPECT_TRUE(Inside(placed, dialogClient))
                << where << " lies outside the dialog: (" << placed.left << "," << placed.top << ")-(" << placed.right
                << "," << placed.bottom << ") in " << dialogClient.right << " x " << dialogClient.bottom;
            const std::string item = Narrow(c.key) + " in control " + std::to_string(c.id);
            tightest[item] = tightest.count(item) ? std::min(tightest[item], m.Spare()) : m.Spare();
        }

        // Nothing on screen escapes the measuring: every visible text belongs to a key above.
        ChildList list{scene.window, {}};
        EnumChildWindows(scene.window, CollectChild, reinterpret_cast<LPARAM>(&list));
        for (HWND child : list.children) {
            if (!IsWindowVisible(child) || lstrcmpiW(ClassName(child).c_str(), L"Edit") == 0) continue;
            if (measured.count(GetDlgCtrlID(child)) || WindowText(child).empty()) continue;
            ADD_FAILURE() << name << ": control " << GetDlgCtrlID(child) << " shows \""
                          << Narrow(WindowText(child)) << "\", which no key accounts for";
        }
        CheckSkin(scene);
    });

    EXPECT_EQ(scenes, 15);
    EXPECT_EQ(keysShown.size(), 44u) << "every key of the table is shown in some dialog state";

    std::vector<std::pair<int, std::string>> order;
    for (const auto& entry : tightest) order.emplace_back(entry.second, entry.first);
    std::sort(order.begin(), order.end());
    std::string faceList;
    for (const std::wstring& f : faces) faceList += " \"" + Narrow(f) + "\"";
    std::printf("%s: fonts as drawn:%s; the tightest texts (spare pixels):\n", language.c_str(), faceList.c_str());
    for (size_t i = 0; i < order.size() && i < 10; ++i) std::printf("  %4d  %s\n", order[i].first, order[i].second.c_str());
}

