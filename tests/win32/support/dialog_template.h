#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include <vector>

#include "tests/tools/support/wait_limit.h"

// Builds a DLGTEMPLATE in memory, so tests can run dialogs without resource templates.
class DialogTemplate {
public:
    DialogTemplate(DWORD style, short x, short y, short cx, short cy,
                   const std::wstring& font = L"MS Shell Dlg", WORD pointSize = 8);
    DialogTemplate& Add(WORD id, const std::wstring& className, const std::wstring& text, DWORD style,
                        short x, short y, short cx, short cy, DWORD exStyle = 0);
    const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(m_words.data()); }

private:
    void PushDword(DWORD value);
    void PushString(const std::wstring& text);
    void Align();
    std::vector<WORD> m_words;
};

// Polls `condition` (pumping this thread's messages) until it holds or `timeoutMs` (the test
// programs' one limit unless given) has passed.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = e2e::WaitLimitMs());

// Dispatches every message waiting for this thread.
void PumpMessages();

// Reads one pixel of a DC as a COLORREF.
COLORREF PixelAt(HDC dc, int x, int y);
