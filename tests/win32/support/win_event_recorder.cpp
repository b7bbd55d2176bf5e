#include "support/win_event_recorder.h"

#include "support/dialog_driver.h"
#include "ui/controls/accessible.h"

namespace {
WinEventRecorder* g_recorder = nullptr;  // the hook's callback has no context of its own
// A private event (from the range left to applications) that marks a point in the stream.
constexpr DWORD kMarkerEvent = EVENT_OEM_DEFINED_START;
}  // namespace

WinEventRecorder::WinEventRecorder()
{
    InitializeCriticalSection(&m_lock);
    g_recorder = this;
    m_ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_thread = CreateThread(nullptr, 0, Main, this, 0, &m_threadId);
    if (m_thread) WaitForSingleObject(m_ready, dialog_driver::WaitLimitMs());
}

WinEventRecorder::~WinEventRecorder()
{
    if (m_thread) {
        PostThreadMessageW(m_threadId, WM_QUIT, 0, 0);
        WaitForSingleObject(m_thread, dialog_driver::WaitLimitMs());
        CloseHandle(m_thread);
    }
    if (m_ready) CloseHandle(m_ready);
    g_recorder = nullptr;
    DeleteCriticalSection(&m_lock);
}

DWORD WINAPI WinEventRecorder::Main(void* param)
{
    auto* self = static_cast<WinEventRecorder*>(param);
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue exists before anyone posts
    HWINEVENTHOOK names = SetWinEventHook(EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_NAMECHANGE, nullptr, Hook,
                                          GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
    HWINEVENTHOOK values = SetWinEventHook(EVENT_OBJECT_VALUECHANGE, EVENT_OBJECT_VALUECHANGE, nullptr, Hook,
                                           GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
    HWINEVENTHOOK live = SetWinEventHook(EVENT_OBJECT_LIVEREGIONCHANGED, EVENT_OBJECT_LIVEREGIONCHANGED, nullptr,
                                         Hook, GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
    HWINEVENTHOOK markers = SetWinEventHook(kMarkerEvent, kMarkerEvent, nullptr, Hook, GetCurrentProcessId(), 0,
                                            WINEVENT_OUTOFCONTEXT);
    self->m_hooked = names && values && live && markers;
    SetEvent(self->m_ready);
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    for (HWINEVENTHOOK hook : {names, values, live, markers})
        if (hook) UnhookWinEvent(hook);
    return 0;
}

void CALLBACK WinEventRecorder::Hook(HWINEVENTHOOK, DWORD event, HWND window, LONG objectId, LONG childId, DWORD,
                                     DWORD)
{
    WinEventRecorder* self = g_recorder;
    if (!self) return;
    EnterCriticalSection(&self->m_lock);
    self->m_events.push_back({event, window, objectId, childId});
    LeaveCriticalSection(&self->m_lock);
}

int WinEventRecorder::Count(DWORD event, HWND window) const
{
    int n = 0;
    for (const Event& e : Events()) n += e.event == event && e.window == window && e.objectId == OBJID_CLIENT;
    return n;
}

bool WinEventRecorder::WaitFor(DWORD event, HWND window, int count) const
{
    return dialog_driver::WaitUntil([&] { return Count(event, window) >= count; });
}

void WinEventRecorder::Settle() const
{
    // Events reach the hook in the order they were raised on one thread; the marker is raised
    // on this one.
    static LONG marks = 0;
    const LONG mark = InterlockedIncrement(&marks);
    NotifyWinEvent(kMarkerEvent, GetDesktopWindow(), OBJID_CLIENT, mark);
    dialog_driver::WaitUntil([&] {
        for (const Event& e : Events())
            if (e.event == kMarkerEvent && e.childId == mark) return true;
        return false;
    });
}

std::vector<WinEventRecorder::Event> WinEventRecorder::Events() const
{
    EnterCriticalSection(&m_lock);
    std::vector<Event> copy = m_events;
    LeaveCriticalSection(&m_lock);
    return copy;
}

void WinEventRecorder::Clear()
{
    EnterCriticalSection(&m_lock);
    m_events.clear();
    LeaveCriticalSection(&m_lock);
}
