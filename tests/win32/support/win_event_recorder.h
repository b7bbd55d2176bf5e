#pragma once
// Listens to this process's accessibility events as a screen reader does: a WinEvent hook on a
// thread of its own, whose message loop the events arrive through.
#include <windows.h>

#include <vector>

class WinEventRecorder {
public:
    struct Event {
        DWORD event;
        HWND window;
        LONG objectId;
        LONG childId;
    };

    // Hooks EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_VALUECHANGE and EVENT_OBJECT_LIVEREGIONCHANGED
    // of this process.
    WinEventRecorder();
    ~WinEventRecorder();
    WinEventRecorder(const WinEventRecorder&) = delete;
    WinEventRecorder& operator=(const WinEventRecorder&) = delete;

    bool Hooked() const { return m_hooked; }
    // Every event of `event` from `window` so far.
    int Count(DWORD event, HWND window) const;
    // Waits (bounded, polling) until `count` such events have come; false after the timeout.
    bool WaitFor(DWORD event, HWND window, int count) const;
    // Lets every event raised before this call arrive: one raised now is waited for.
    void Settle() const;
    std::vector<Event> Events() const;
    void Clear();

private:
    static DWORD WINAPI Main(void* self);
    static void CALLBACK Hook(HWINEVENTHOOK, DWORD event, HWND window, LONG objectId, LONG childId, DWORD, DWORD);

    HANDLE m_thread = nullptr;
    DWORD m_threadId = 0;
    HANDLE m_ready = nullptr;
    bool m_hooked = false;
    mutable CRITICAL_SECTION m_lock;
    std::vector<Event> m_events;
};
