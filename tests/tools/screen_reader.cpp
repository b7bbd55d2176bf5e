// Reads a dialog of another process as a screen reader does: a COM client in an apartment of its
// own, asking AccessibleObjectFromWindow for the dialog's window and client objects and for the
// client object of each of its controls.
//
//   screen_reader.exe HWND      (the dialog's handle, decimal)
//
// Output (stdout, UTF-16LE): one line per object, its fields separated by tabs, in this order:
//   what (window, client, control)  control id  visible (0/1)  role  state  name  value  action
// A role or state that could not be read is -1. In the texts, a backslash, a tab and a line
// break are written \\, \t and \n. Exit codes: 0 done, 2 no such window, 3 COM not available.
#include <windows.h>
#include <oleacc.h>

#include <cstdlib>
#include <string>

namespace {

std::wstring Escaped(const std::wstring& text)
{
    std::wstring out;
    for (wchar_t c : text) {
        if (c == L'\\')
            out += L"\\\\";
        else if (c == L'\t')
            out += L"\\t";
        else if (c == L'\n')
            out += L"\\n";
        else if (c != L'\r')
            out += c;
    }
    return out;
}

VARIANT Self()
{
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    return self;
}

std::wstring Text(IAccessible* object, HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, BSTR*))
{
    BSTR text = nullptr;
    if (FAILED((object->*get)(Self(), &text)) || !text) return std::wstring();
    std::wstring result(text, SysStringLen(text));
    SysFreeString(text);
    return result;
}

LONG Number(IAccessible* object, HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, VARIANT*))
{
    VARIANT value;
    VariantInit(&value);
    if (FAILED((object->*get)(Self(), &value)) || value.vt != VT_I4) {
        VariantClear(&value);
        return -1;
    }
    return value.lVal;
}

void Write(const std::wstring& line)
{
    const std::wstring out = line + L"\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), out.data(), static_cast<DWORD>(out.size() * sizeof(wchar_t)),
              &written, nullptr);
}

void Report(const wchar_t* what, HWND window, LONG objectId)
{
    IAccessible* object = nullptr;
    AccessibleObjectFromWindow(window, static_cast<DWORD>(objectId), __uuidof(IAccessible),
                               reinterpret_cast<void**>(&object));
    std::wstring line = std::wstring(what) + L"\t" + std::to_wstring(GetDlgCtrlID(window)) + L"\t" +
                        (IsWindowVisible(window) ? L"1" : L"0") + L"\t";
    if (!object) {
        Write(line + L"-1\t-1\t\t\t");
        return;
    }
    line += std::to_wstring(Number(object, &IAccessible::get_accRole)) + L"\t" +
            std::to_wstring(Number(object, &IAccessible::get_accState)) + L"\t" +
            Escaped(Text(object, &IAccessible::get_accName)) + L"\t" +
            Escaped(Text(object, &IAccessible::get_accValue)) + L"\t" +
            Escaped(Text(object, &IAccessible::get_accDefaultAction));
    object->Release();
    Write(line);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) return 2;
    HWND dialog = reinterpret_cast<HWND>(static_cast<INT_PTR>(std::wcstoll(argv[1], nullptr, 10)));
    if (!IsWindow(dialog)) return 2;
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 3;
    Report(L"window", dialog, OBJID_WINDOW);
    Report(L"client", dialog, OBJID_CLIENT);
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        Report(L"control", child, OBJID_CLIENT);
    CoUninitialize();
    return 0;
}
