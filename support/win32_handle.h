#pragma once
#include <windows.h>

// Owns a kernel handle (file, mutex, process, ...) and closes it once. Both NULL and
// INVALID_HANDLE_VALUE count as "no handle", so it fits CreateFileW and CreateMutexW alike.
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : m_handle(handle) {}
    ~UniqueHandle() { Reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : m_handle(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    HANDLE Get() const { return m_handle; }
    bool Valid() const { return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE; }
    explicit operator bool() const { return Valid(); }
    HANDLE Release()
    {
        HANDLE handle = m_handle;
        m_handle = nullptr;
        return handle;
    }
    void Reset(HANDLE handle = nullptr)
    {
        if (Valid()) CloseHandle(m_handle);
        m_handle = handle;
    }

private:
    HANDLE m_handle = nullptr;
};

// Owns an open registry key.
class UniqueRegKey {
public:
    UniqueRegKey() = default;
    ~UniqueRegKey() { Reset(); }
    UniqueRegKey(UniqueRegKey&& other) noexcept : m_key(other.m_key) { other.m_key = nullptr; }
    UniqueRegKey& operator=(UniqueRegKey&& other) noexcept
    {
        if (this != &other) {
            Reset();
            m_key = other.m_key;
            other.m_key = nullptr;
        }
        return *this;
    }
    UniqueRegKey(const UniqueRegKey&) = delete;
    UniqueRegKey& operator=(const UniqueRegKey&) = delete;

    HKEY Get() const { return m_key; }
    HKEY* Put()
    {
        Reset();
        return &m_key;
    }
    void Reset()
    {
        if (m_key) RegCloseKey(m_key);
        m_key = nullptr;
    }

private:
    HKEY m_key = nullptr;
};

// A process-wide lock for code below the window framework (log, text table). Meant for objects
// of static storage duration: constructed before the entry runs, never copied or moved.
// It is deliberately not deleted when static objects are destroyed: a thread that is still
// running at exit may log once more, and entering a deleted section is undefined, while the
// system reclaims the section with the process anyway.
class StaticCriticalSection {
public:
    StaticCriticalSection() { InitializeCriticalSection(&m_section); }
    ~StaticCriticalSection() = default;
    StaticCriticalSection(const StaticCriticalSection&) = delete;
    StaticCriticalSection& operator=(const StaticCriticalSection&) = delete;

    void Enter() { EnterCriticalSection(&m_section); }
    void Leave() { LeaveCriticalSection(&m_section); }

private:
    CRITICAL_SECTION m_section;
};

class StaticCriticalSectionLock {
public:
    explicit StaticCriticalSectionLock(StaticCriticalSection& section) : m_section(section)
    {
        m_section.Enter();
    }
    ~StaticCriticalSectionLock() { m_section.Leave(); }
    StaticCriticalSectionLock(const StaticCriticalSectionLock&) = delete;
    StaticCriticalSectionLock& operator=(const StaticCriticalSectionLock&) = delete;

private:
    StaticCriticalSection& m_section;
};
