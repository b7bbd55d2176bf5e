// The compiled templates, icon and manifest, checked through the windows the system builds from
// them (no dialog code involved), and the generated skin measured against those windows.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "support/scratch_folder.h"

namespace {

INT_PTR CALLBACK PlainProc(HWND, UINT msg, WPARAM, LPARAM) { return msg == WM_INITDIALOG; }

struct Expected {
    int id;
    const wchar_t* cls;  // system class name
    DWORD style;         // exactly
    const wchar_t* text;
};

// A modeless instance of a template, destroyed at the end of the test.
struct TemplateWindow {
    HWND hwnd;
    explicit TemplateWindow(UINT id)
    {
        hwnd = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), nullptr, PlainProc, 0);
    }
    ~TemplateWindow()
    {
        if (hwnd) DestroyWindow(hwnd);
    }
    RECT Dlu(int x, int y, int cx, int cy) const
    {
        RECT r{x, y, x + cx, y + cy};
        MapDialogRect(hwnd, &r);
        return r;
    }
};

// One control of a DLGTEMPLATEEX as stored in the exe.
struct RawItem {
    DWORD style = 0;
    int id = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::wstring cls, text;
};

struct RawTemplate {
    DWORD style = 0;
    short cx = 0, cy = 0;
    std::wstring title, face;
    WORD points = 0;
    std::vector<RawItem> items;
};

const WORD* ReadSzOrOrd(const WORD* p, std::wstring& out)
{
    static const wchar_t* const kAtoms[] = {L"Button", L"Edit", L"Static", L"ListBox", L"ScrollBar", L"ComboBox"};
    out.clear();
    if (*p == 0xFFFF) {
        const WORD atom = p[1];
        if (atom >= 0x80 && atom <= 0x85) out = kAtoms[atom - 0x80];
        return p + 2;
    }
    while (*p) out += static_cast<wchar_t>(*p++);
    return p + 1;
}

RawTemplate ReadTemplate(UINT id)
{
    RawTemplate t;
    HMODULE self = GetModuleHandleW(nullptr);
    HRSRC res = FindResourceW(self, MAKEINTRESOURCEW(id), reinterpret_cast<LPCWSTR>(RT_DIALOG));
    if (!res) return t;
    const BYTE* base = static_cast<const BYTE*>(LockResource(LoadResource(self, res)));
    const WORD* w = reinterpret_cast<const WORD*>(base);
    if (w[0] != 1 || w[1] != 0xFFFF) return t;  // not DLGTEMPLATEEX
    const DWORD* d = reinterpret_cast<const DWORD*>(base + 4);
    t.style = d[2];
    const WORD count = *reinterpret_cast<const WORD*>(base + 16);
    const short* pos = reinterpret_cast<const short*>(base + 18);
    t.cx = pos[2];
    t.cy = pos[3];
    std::wstring menu, cls;
    const WORD* p = reinterpret_cast<const WORD*>(base + 26);
    p = ReadSzOrOrd(p, menu);
    p = ReadSzOrOrd(p, cls);
    p = ReadSzOrOrd(p, t.title);
    if (t.style & DS_SETFONT) {
        t.points = p[0];
        p += 3;  // points, weight, italic + charset
        p = ReadSzOrOrd(p, t.face);
    }
    for (WORD i = 0; i < count; ++i) {
        const BYTE* b = reinterpret_cast<const BYTE*>(p);
        b = base + ((b - base + 3) & ~3);
        RawItem item;
        const DWORD* h = reinterpret_cast<const DWORD*>(b);
        item.style = h[2];
        const short* ip = reinterpret_cast<const short*>(b + 12);
        item.x = ip[0];
        item.y = ip[1];
        item.cx = ip[2];
        item.cy = ip[3];
        item.id = static_cast<int>(*reinterpret_cast<const DWORD*>(b + 20));
        p = reinterpret_cast<const WORD*>(b + 24);
        p = ReadSzOrOrd(p, item.cls);
        p = ReadSzOrOrd(p, item.text);
        const WORD extra = *p++;
        p = reinterpret_cast<const WORD*>(reinterpret_cast<const BYTE*>(p) + extra);
        t.items.push_back(item);
    }
    return t;
}

void CheckTemplate(UINT id, DWORD dialogStyle, const std::vector<Expected>& controls)
{
    const RawTemplate t = ReadTemplate(id);
    ASSERT_FALSE(t.items.empty()) << "template " << id;
    EXPECT_EQ(t.style, dialogStyle) << "template " << id << std::hex << " style " << t.style;
    EXPECT_EQ(t.title, L"");
    EXPECT_EQ(t.face, L"MS Shell Dlg");
    EXPECT_EQ(t.points, 8);
    ASSERT_EQ(t.items.size(), controls.size()) << "template " << id;
    // Controls in tab (creation) order, each of its kind and style, and wholly inside the dialog.
    for (size_t i = 0; i < controls.size(); ++i) {
        const Expected& e = controls[i];
        const RawItem& r = t.items[i];
        EXPECT_EQ(r.id, e.id) << "template " << id << " item " << i;
        EXPECT_EQ(_wcsicmp(r.cls.c_str(), e.cls), 0) << "control " << e.id << ": " << r.cls;
        EXPECT_EQ(r.style, e.style) << "control " << e.id << std::hex << " style " << r.style;
        EXPECT_GT(r.cx, 0) << "control " << e.id;
        EXPECT_GT(r.cy, 0) << "control " << e.id;
        EXPECT_GE(r.x, 0) << "control " << e.id;
        EXPECT_GE(r.y, 0) << "control " << e.id;
        EXPECT_LE(r.x + r.cx, t.cx) << "control " << e.id;
        EXPECT_LE(r.y + r.cy, t.cy) << "control " << e.id;
        if (e.text) {
            EXPECT_EQ(r.text, e.text) << "control " << e.id;
        }
    }

    // The system builds a borderless window of the expected size from it.
    TemplateWindow w(id);
    ASSERT_NE(w.hwnd, nullptr) << "template " << id;
    const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(w.hwnd, GWL_STYLE));
    EXPECT_EQ(style & (WS_CAPTION | WS_THICKFRAME), 0u) << "template " << id << " must be borderless";
    RECT client;
    GetClientRect(w.hwnd, &client);
    const RECT size = w.Dlu(0, 0, t.cx, t.cy);
    EXPECT_EQ(client.right, size.right);
    EXPECT_EQ(client.bottom, size.bottom);
    const RECT units = w.Dlu(0, 0, 4, 8);
    std::printf("template %u: base units %ld x %ld, client %ld x %ld px\n", id, units.right, units.bottom,
                client.right, client.bottom);
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(w.hwnd, WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr);
    HDC dc = GetDC(w.hwnd);
    HGDIOBJ old = SelectObject(dc, font);
    wchar_t face[64] = {};
    GetTextFaceW(dc, 64, face);
    SelectObject(dc, old);
    ReleaseDC(w.hwnd, dc);
    std::printf("template %u: font face %ls\n", id, face);
}

const DWORD kText = WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT;
const DWORD kEdit = WS_CHILD | WS_VISIBLE | WS_BORDER | ES_LEFT | ES_AUTOHSCROLL | WS_TABSTOP;
const DWORD kButton = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
const DWORD kClose = WS_CHILD | WS_VISIBLE | SS_BITMAP | SS_NOTIFY;
const DWORD kShellFont = DS_SETFONT | DS_FIXEDSYS;

}  // namespace

TEST(Templates, ProgressDialog102)
{
    CheckTemplate(IDD_DEPENDENCY_DIALOG, WS_POPUP | WS_VISIBLE | WS_SYSMENU | DS_SETFOREGROUND | kShellFont,
                  {{IDC_CAPTION, L"Static", kText, L"Static1"},
                   {IDC_HEADLINE, L"Static", kText, L"Static"},
                   {IDC_BODY, L"Static", kText, L"Static"},
                   {IDC_FEATURE1, L"Static", kText, L"Static"},
                   {IDC_FEATURE2, L"Static", kText, L"Static"},
                   {IDC_FEATURE3, L"Static", kText, L"Static"},
                   {IDC_TOUR_LINK, L"Static", kText, L"Static"},
                   {IDC_PROGRESS_LINE, L"Static", kText, L"Static"},
                   {IDC_PROGRESS, L"msctls_progress32", WS_CHILD | WS_VISIBLE | WS_BORDER | PBS_SMOOTH, nullptr},
                   {IDC_CLOSE_CONTROL, L"Static", kClose | WS_TABSTOP, nullptr}});
}

TEST(Templates, ProxyDialog103)
{
    CheckTemplate(IDD_PROXY_INFO_DIALOG, WS_POPUP | WS_VISIBLE | WS_SYSMENU | DS_SETFOREGROUND | kShellFont,
                  {{IDC_PROXY_SERVER, L"Edit", kEdit, L""},
                   {IDC_PROXY_PORT, L"Edit", kEdit | ES_NUMBER, L""},
                   {IDC_CONTINUE, L"Button", kButton, nullptr},
                   {IDC_SERVER_LABEL, L"Static", kText, nullptr},
                   {IDC_PORT_LABEL, L"Static", kText, nullptr},
                   {IDC_PORT_EXAMPLE, L"Static", kText, nullptr},
                   {IDC_SERVER_EXAMPLE, L"Static", kText, nullptr},
                   {IDC_BODY, L"Static", kText, nullptr},
                   {IDC_CAPTION, L"Static", kText, nullptr},
                   {IDC_CLOSE_CONTROL, L"Static", kClose, nullptr},
                   {IDC_HEADLINE, L"Static", kText, nullptr}});
}

TEST(Templates, CredentialsDialog104)
{
    CheckTemplate(IDD_CRED_UI_DIALOG, WS_POPUP | WS_VISIBLE | WS_SYSMENU | DS_SETFOREGROUND | kShellFont,
                  {{IDC_USER_NAME, L"Edit", kEdit, L""},
                   {IDC_PASSWORD, L"Edit", kEdit | ES_PASSWORD | ES_OEMCONVERT, L""},
                   {IDOK, L"Button", kButton, nullptr},
                   {IDC_USER_LABEL, L"Static", kText, nullptr},
                   {IDC_PASSWORD_LABEL, L"Static", kText, nullptr},
                   {IDC_USER_EXAMPLE, L"Static", kText, nullptr},
                   {IDC_BODY, L"Static", kText, nullptr},
                   {IDC_CAPTION, L"Static", kText, nullptr},
                   {IDC_CLOSE_CONTROL, L"Static", kClose, nullptr},
                   {IDC_HEADLINE, L"Static", kText, nullptr}});
}

TEST(Templates, MessageDialog112)
{
    CheckTemplate(IDD_MESSAGE_DIALOG,
                  WS_POPUP | WS_VISIBLE | WS_SYSMENU | DS_CENTER | DS_SETFOREGROUND | kShellFont,
                  {{IDOK, L"Button", (kButton & ~BS_PUSHBUTTON) | BS_DEFPUSHBUTTON, nullptr},
                   {IDCANCEL, L"Button", kButton, nullptr},
                   {IDC_CAPTION, L"Static", kText, nullptr},
                   {IDC_BODY, L"Static", kText, nullptr},
                   {IDC_CLOSE_CONTROL, L"Static", kClose, nullptr},
                   {IDC_LINK, L"Static", kText, L""},
                   {IDC_HEADLINE, L"Static", kText, nullptr}});
}

TEST(Templates, SmallerDialog117)
{
    CheckTemplate(IDD_SMALLER_DIALOG, WS_POPUP | WS_SYSMENU | DS_SYSMODAL | DS_CENTER | DS_SETFOREGROUND | kShellFont,
                  {{IDOK, L"Button", (kButton & ~BS_PUSHBUTTON) | BS_DEFPUSHBUTTON | BS_NOTIFY, nullptr},
                   {IDCANCEL, L"Button", kButton, nullptr},
                   {IDC_BODY, L"Static", kText, L""},
                   {IDC_SMALL_HEADLINE, L"Static", kText, nullptr}});
    TemplateWindow w(IDD_SMALLER_DIALOG);
    EXPECT_FALSE(IsWindowVisible(w.hwnd)) << "the small dialog starts hidden";
}

TEST(Resources, IconAndManifest)
{
    HMODULE self = GetModuleHandleW(nullptr);
    // The larger two images are stored as PNG: each size must still come out as itself.
    for (int size : {16, 32, 48}) {
        HICON icon = static_cast<HICON>(LoadImageW(self, MAKEINTRESOURCEW(IDI_PROGRAM), IMAGE_ICON, size, size, 0));
        ASSERT_NE(icon, nullptr) << size;
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP bm{};
        GetObjectW(info.hbmColor, sizeof bm, &bm);
        EXPECT_EQ(bm.bmWidth, size);
        EXPECT_EQ(bm.bmHeight, size);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }

    HRSRC res = FindResourceW(self, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // RT_MANIFEST
    ASSERT_NE(res, nullptr);
    const char* data = static_cast<const char*>(LockResource(LoadResource(self, res)));
    const std::string manifest(data, SizeofResource(self, res));
    EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos);
    EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    EXPECT_NE(manifest.find("version=\"6.0.0.0\""), std::string::npos);
    for (const char* os : {"e2011457-1546-43c5-a5fe-008deee3d3f0", "35138b9a-5d96-4fbd-8e2d-a2440225f93a",
                           "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38", "1f676c76-80e1-4239-95bb-83d0f6d0da78",
                           "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"})
        EXPECT_NE(manifest.find(os), std::string::npos) << os;
}

// The size of a bitmap file; 0 x 0 when it cannot be loaded.
static SIZE BitmapFileSize(const std::wstring& path)
{
    SIZE s{0, 0};
    HBITMAP bmp = static_cast<HBITMAP>(
        LoadImageW(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
    if (bmp) {
        BITMAP bm{};
        GetObjectW(bmp, sizeof bm, &bm);
        s = {bm.bmWidth, bm.bmHeight};
        DeleteObject(bmp);
    }
    return s;
}

// The generated backgrounds are exactly the client size of the dialogs that show them, and the
// close images are the size the close control takes.
TEST(Skin, BitmapsFitTheDialogs)
{
    const std::wstring images = BuildTreePath(L"run\\Images\\");
    ASSERT_FALSE(images.empty());
    auto size = [&](const char* name) {
        std::wstring path = images;
        for (const char* p = name; *p; ++p) path += static_cast<wchar_t>(*p);
        return BitmapFileSize(path);
    };
    for (UINT id : {IDD_MESSAGE_DIALOG, IDD_DEPENDENCY_DIALOG, IDD_PROXY_INFO_DIALOG}) {
        TemplateWindow w(id);
        RECT c;
        GetClientRect(w.hwnd, &c);
        for (const char* name : {"Small.bmp", "InstallImage.bmp"}) {
            const SIZE s = size(name);
            EXPECT_EQ(s.cx, c.right) << name << " for " << id;
            EXPECT_EQ(s.cy, c.bottom) << name << " for " << id;
        }
    }
    {
        TemplateWindow w(IDD_SMALLER_DIALOG);
        RECT c;
        GetClientRect(w.hwnd, &c);
        const SIZE s = size("Smallest.bmp");
        EXPECT_EQ(s.cx, c.right);
        EXPECT_EQ(s.cy, c.bottom);
    }
    TemplateWindow w(IDD_DEPENDENCY_DIALOG);
    RECT close{};
    ASSERT_TRUE(GetWindowRect(GetDlgItem(w.hwnd, IDC_CLOSE_CONTROL), &close));
    for (const char* name : {"CancelButton.bmp", "MouseOver.bmp", "OnPress.bmp", "Disabled.bmp"}) {
        const SIZE s = size(name);
        // The image must fill the progress dialog's close control (the message dialog's is a
        // unit wider) and so stay on the caption band, inside the window.
        EXPECT_GE(s.cx, close.right - close.left - 1) << name;
        EXPECT_LE(s.cx, close.right - close.left) << name;
        EXPECT_EQ(s.cy, close.bottom - close.top) << name;
    }
}

// Every display scale has its set of the seven images, each its 100 % size at that scale (as the
// dialogs round their layout), so that a dialog's face at 125, 150 or 200 % is drawn for it.
TEST(Skin, EveryScaleHasEveryImageAtItsSize)
{
    const std::wstring images = BuildTreePath(L"run\\Images\\");
    ASSERT_FALSE(images.empty());
    const auto size = BitmapFileSize;
    const wchar_t* const names[] = {L"Small.bmp",     L"InstallImage.bmp", L"Smallest.bmp", L"CancelButton.bmp",
                                    L"MouseOver.bmp", L"OnPress.bmp",      L"Disabled.bmp"};
    for (const wchar_t* name : names) {
        const SIZE reference = size(images + name);
        ASSERT_GT(reference.cx, 0);
        for (int percent : {125, 150, 200}) {
            const SIZE s = size(images + std::to_wstring(percent) + L"\\" + name);
            // Half a pixel rounds up, as MulDiv rounds.
            EXPECT_EQ(s.cx, (reference.cx * percent + 50) / 100) << percent;
            EXPECT_EQ(s.cy, (reference.cy * percent + 50) / 100) << percent;
        }
    }
}
