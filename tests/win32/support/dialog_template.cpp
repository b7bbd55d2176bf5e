#include "support/dialog_template.h"

DialogTemplate::DialogTemplate(DWORD style, short x, short y, short cx, short cy, const std::wstring& font,
                               WORD pointSize)
{
    if (!font.empty()) style |= DS_SETFONT;
    PushDword(style);
    PushDword(0);        // extended style
    m_words.push_back(0);  // item count, patched by Add
    m_words.push_back(static_cast<WORD>(x));
    m_words.push_back(static_cast<WORD>(y));
    m_words.push_back(static_cast<WORD>(cx));
    m_words.push_back(static_cast<WORD>(cy));
    m_words.push_back(0);  // no menu
    m_words.push_back(0);  // default class
    m_words.push_back(0);  // empty title
    if (!font.empty()) {
        m_words.push_back(pointSize);
        PushString(font);
    }
}

DialogTemplate& DialogTemplate::Add(WORD id, const std::wstring& className, const std::wstring& text, DWORD style,
                                    short x, short y, short cx, short cy, DWORD exStyle)
{
    Align();
    PushDword(style | WS_CHILD);
    PushDword(exStyle);
    m_words.push_back(static_cast<WORD>(x));
    m_words.push_back(static_cast<WORD>(y));
    m_words.push_back(static_cast<WORD>(cx));
    m_words.push_back(static_cast<WORD>(cy));
    m_words.push_back(id);
    PushString(className);
    PushString(text);
    m_words.push_back(0);  // no creation data
    m_words[4]++;          // cdit
    return *this;
}

void DialogTemplate::PushDword(DWORD value)
{
    m_words.push_back(LOWORD(value));
    m_words.push_back(HIWORD(value));
}

void DialogTemplate::PushString(const std::wstring& text)
{
    for (wchar_t c : text) m_words.push_back(static_cast<WORD>(c));
    m_words.push_back(0);
}

void DialogTemplate::Align()
{
    if (m_words.size() % 2) m_words.push_back(0);
}

void PumpMessages()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        PumpMessages();
        if (condition()) return true;
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(5);
    }
}

COLORREF PixelAt(HDC dc, int x, int y) { return GetPixel(dc, x, y); }
