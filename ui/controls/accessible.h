#pragma once
#include <windows.h>
#include <oleacc.h>

#include <string>

// An event of Windows 8 that the headers give only to programs declaring that version.
#ifndef EVENT_OBJECT_LIVEREGIONCHANGED
#define EVENT_OBJECT_LIVEREGIONCHANGED 0x8019
#endif

// What one of our own controls or dialogs tells accessibility tools (screen readers, Narrator,
// magnifiers) about itself. Whatever it leaves unsaid comes from the platform's standard object
// for its window: its place, parent, children, focus and keyboard shortcut.
struct AccessibleFacts {
    LONG role = 0;  // ROLE_SYSTEM_*; 0 keeps the standard object's
    bool hasName = false;
    std::wstring name;
    bool hasValue = false;
    std::wstring value;
    std::wstring defaultAction;  // empty keeps the standard object's
    DWORD stateAdded = 0;
    DWORD stateRemoved = 0;
    bool doesDefaultAction = false;  // a tool's default action reaches the window (below)
};

// The one message between an object and its window. Sent, on the window's own thread, whenever a
// tool asks the object something: wParam is the object id, lParam an AccessibleFacts* to fill;
// the window returns TRUE when it filled it. Posted with lParam 0 when a tool asks for the
// default action, so that the tool is never blocked by what the action opens. The object keeps
// no pointer to the C++ control, so a tool that holds on to it after the control is gone gets
// failures, never a dangling call; and tools may call from any thread.
UINT AccessibleMessage();

// The object for `objectId` of `window` that takes its facts from the window (see above), not
// marshalled: for the window's own thread. One reference for the caller.
HRESULT CreateAccessibleObject(HWND window, LONG objectId, IAccessible** object);

// WM_GETOBJECT: when it asks for the client object (or, with `windowObjectToo`, the window
// object), the answer for such an object, marshalled for the tool that asked: call it on the
// window's thread, which must be a COM apartment to serve a tool in another process. 0 for other
// objects, or when no object can be made: the message then goes on to the platform, which answers
// with its own.
LRESULT AnswerGetObject(HWND window, WPARAM flags, LPARAM objectId, bool windowObjectToo = false);

// Tells accessibility tools that the window's name (a static's text) or value changed.
void AnnounceNameChange(HWND window);
void AnnounceValueChange(HWND window);

// How a changed text is announced: as a name change, and for a live region (see below) also as
// a change of that region (EVENT_OBJECT_LIVEREGIONCHANGED), which screen readers speak although
// the control does not have the focus.
enum class Announce { Name, LiveRegion };

// Sets a control's text and announces it when the text changed. The control's thread.
void SetTextAnnounced(HWND control, const std::wstring& text, Announce announce = Announce::Name);

// Marks the controls (statics that tell what is happening) as polite live regions for screen
// readers, by annotating their client objects (IAccPropServices, LiveSetting), or with `live`
// false removes that again (before the controls go). On a thread in a COM apartment. Returns how
// many took it: a platform without annotations (Wine 8) takes none, and the texts are then still
// announced by their events.
int MarkLiveRegions(const HWND* controls, size_t count, bool live = true);

// The text of the label that names `control` for a tool, as the platform finds it for controls
// without text of their own: the nearest visible static before it in the tab order, stopping at
// the previous control that takes the keyboard. Empty when there is none.
std::wstring LabelOf(HWND control);
