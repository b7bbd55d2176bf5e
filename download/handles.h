#pragma once
#include <windows.h>
#include <winhttp.h>

// Move-only owners of the handles the download engine and the installers hold.

class WinHttpHandle {
public:
    WinHttpHandle() = default;
    explicit WinHttpHandle(HINTERNET h) : m_h(h) {}
    ~WinHttpHandle() { Reset(); }
    WinHttpHandle(WinHttpHandle&& other) noexcept : m_h(other.Release()) {}
    WinHttpHandle& operator=(WinHttpHandle&& other) noexcept
    {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    WinHttpHandle(const WinHttpHandle&) = delete;
    WinHttpHandle& operator=(const WinHttpHandle&) = delete;

    HINTERNET Get() const { return m_h; }
    explicit operator bool() const { return m_h != nullptr; }
    HINTERNET Release()
    {
        HINTERNET h = m_h;
        m_h = nullptr;
        return h;
    }
    void Reset(HINTERNET h = nullptr)
    {
        if (m_h) WinHttpCloseHandle(m_h);
        m_h = h;
    }

private:
    HINTERNET m_h = nullptr;
};
