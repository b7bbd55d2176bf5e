#pragma once
#include <windows.h>

#include <string>

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

// WM_GETOBJECT: when it asks for `answered` (OBJID_CLIENT for a control), the answer for an object
// that takes its facts from `window` (see above). 0 for other objects, or when no object can be
// made: the message then goes on to the platform, which answers with its own.
LRESULT AnswerGetObject(HWND window, WPARAM flags, LPARAM objectId, LONG answered = OBJID_CLIENT);

// Tells accessibility tools that the window's name (a static's text) or value changed.
void AnnounceNameChange(HWND window);
void AnnounceValueChange(HWND window);

// Sets a control's text and announces its new name when the text changed. Any thread.
void SetTextAnnounced(HWND control, const std::wstring& text);

// The text of the label that names `control` for a tool, as the platform finds it for controls
// without text of their own: the nearest visible static before it in the tab order, stopping at
// the previous control that takes the keyboard. Empty when there is none.
std::wstring LabelOf(HWND control);
