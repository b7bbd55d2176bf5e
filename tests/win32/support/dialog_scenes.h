#pragma once
// Every installer dialog in every state the installer shows it in, opened one after another with
// the texts the installer gives it (from the process's text table), the way the installer's
// threads run them. The dialog gallery photographs each state; the text-fit test measures it.
#include <windows.h>

#include <functional>
#include <vector>

namespace dialog_scenes {

// A text control of a dialog state and the key of the text the installer puts in it.
struct KeyedControl {
    int id;
    const wchar_t* key;
};

// One dialog state, on screen while the visitor runs.
struct Scene {
    const wchar_t* name;
    HWND window;  // null when the dialog never came
    std::vector<KeyedControl> texts;
};

// Opens each state in turn, calls `visit` while it is shown and ends it afterwards. A dialog
// that does not end stops the process: its thread still uses this function's objects.
void VisitEveryDialogState(const std::function<void(const Scene&)>& visit);

}  // namespace dialog_scenes
