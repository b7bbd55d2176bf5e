// A small second stage of our own for demonstrations and for testing the robot: a plain dialog
// that shows the language code it was started with and ends when it is closed.
//
// Controls: 1001 headline, 1002 "Language: <first argument>", 1003 install folder label,
// 1004 install folder edit, 1 (IDOK) "Close", 1028 a clickable static "x".
// Exit code tells how it was closed: 0 Close button or Enter, 1 Escape, 2 WM_CLOSE,
// 3 the system Close command, 4 the "x" static.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

namespace {

std::wstring g_language;

// DLGTEMPLATE records must be DWORD aligned; the builder pads as it goes.
class TemplateBuilder {
public:
    void Align() { while (m_bytes.size() % 4) m_bytes.push_back(0); }
    void Word(WORD w) { Raw(&w, sizeof w); }
    void Dword(DWORD d) { Raw(&d, sizeof d); }
    void Text(const std::wstring& s)
    {
        for (wchar_t c : s) Word(static_cast<WORD>(c));
        Word(0);
    }
    void Header(DWORD style, WORD count, short cx, short cy, const std::wstring& title)
    {
        Dword(style);
        Dword(0);
        Word(count);
        Word(0), Word(0), Word(cx), Word(cy);
        Word(0);  // no menu
        Word(0);  // default class
        Text(title);
        Word(8);
        Text(L"MS Shell Dlg");
    }
    void Item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD atom, const std::wstring& text)
    {
        Align();
        Dword(style | WS_CHILD | WS_VISIBLE);
        Dword(0);
        Word(x), Word(y), Word(cx), Word(cy);
        Word(id);
        Word(0xFFFF);
        Word(atom);
        Text(text);
        Word(0);
    }
    const DLGTEMPLATE* Get() { return reinterpret_cast<const DLGTEMPLATE*>(m_bytes.data()); }

private:
    void Raw(const void* p, size_t n)
    {
        const unsigned char* b = static_cast<const unsigned char*>(p);
        m_bytes.insert(m_bytes.end(), b, b + n);
    }
    std::vector<unsigned char> m_bytes;
};

INT_PTR CALLBACK DemoProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        SetDlgItemTextW(dialog, 1002, (L"Language: " + g_language).c_str());
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK: EndDialog(dialog, 0); return TRUE;
        case IDCANCEL: EndDialog(dialog, 1); return TRUE;
        case 1028:
            if (HIWORD(wParam) == STN_CLICKED) EndDialog(dialog, 4);
            return TRUE;
        }
        break;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE) {
            EndDialog(dialog, 3);
            return TRUE;
        }
        break;
    case WM_CLOSE:
        EndDialog(dialog, 2);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    g_language = argv && argc > 1 ? argv[1] : L"(none)";
    if (argv) LocalFree(argv);

    TemplateBuilder t;
    t.Header(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE | DS_CENTER | DS_SETFONT | DS_MODALFRAME,
             6, 240, 100, L"Tarvelo second stage (demonstration)");
    t.Item(SS_LEFT, 10, 8, 220, 12, 1001, 0x0082, L"The first stage has handed over to the second stage.");
    t.Item(SS_LEFT, 10, 24, 220, 12, 1002, 0x0082, L"Language:");
    t.Item(SS_LEFT, 10, 44, 80, 12, 1003, 0x0082, L"Install folder:");
    t.Item(ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 90, 42, 140, 14, 1004, 0x0081, L"C:\\Program Files\\Tarvelo");
    t.Item(BS_DEFPUSHBUTTON | WS_TABSTOP, 170, 76, 60, 16, IDOK, 0x0080, L"Close");
    t.Item(SS_NOTIFY | SS_CENTER, 10, 80, 10, 10, 1028, 0x0082, L"x");
    INT_PTR result = DialogBoxIndirectParamW(instance, t.Get(), nullptr, DemoProc, 0);
    return result < 0 ? 9 : static_cast<int>(result);
}
