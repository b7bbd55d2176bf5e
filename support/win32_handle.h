#pragma once
#include <windows.h>

// Owns one handle of a kind and closes it once; move-only. `Traits` says what counts as no
// handle and how one is closed, so that kernel handles, registry keys and WinHTTP handles share
// one owner.
template <typename Handle, typename Traits>
class UniqueOwner {
public:
    UniqueOwner() = default;
    explicit UniqueOwner(Handle handle) : m_handle(handle) {}
    ~UniqueOwner() { Reset(); }
    UniqueOwner(UniqueOwner&& other) noexcept : m_handle(other.Release()) {}
    UniqueOwner& operator=(UniqueOwner&& other) noexcept
    {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    UniqueOwner(const UniqueOwner&) = delete;
    UniqueOwner& operator=(const UniqueOwner&) = delete;

    Handle Get() const { return m_handle; }
    bool Valid() const { return Traits::IsValid(m_handle); }
    explicit operator bool() const { return Valid(); }
    Handle Release()
    {
        Handle handle = m_handle;
        m_handle = nullptr;
        return handle;
    }
    void Reset(Handle handle = nullptr)
    {
        if (Valid()) Traits::Close(m_handle);
        m_handle = handle;
    }
    // For calls that hand a new handle out through a pointer; the old one is closed first.
    Handle* Put()
    {
        Reset();
        return &m_handle;
    }

private:
    Handle m_handle = nullptr;
};

// Kernel handles (file, mutex, process, ...). Both NULL and INVALID_HANDLE_VALUE count as "no
// handle", so the owner fits CreateFileW and CreateMutexW alike.
struct KernelHandleTraits {
    static bool IsValid(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE handle) { CloseHandle(handle); }
};
using UniqueHandle = UniqueOwner<HANDLE, KernelHandleTraits>;

// Open registry keys.
struct RegKeyTraits {
    static bool IsValid(HKEY key) { return key != nullptr; }
    static void Close(HKEY key) { RegCloseKey(key); }
};
using UniqueRegKey = UniqueOwner<HKEY, RegKeyTraits>;

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
