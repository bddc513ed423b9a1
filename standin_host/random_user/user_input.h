// A person's input, delivered the way the platform delivers it: a mouse
// button goes to the window that has the capture, or else to the enabled,
// visible window under the pointer (a click on a disabled control reaches
// the dialog behind it); a key goes to the window with the keyboard focus.
// Every message is posted, so the dialog's own modal loop handles it.
#pragma once

#include <windows.h>

enum class InputKind { kButtonDown, kButtonUp, kKeyDown, kKeyUp, kAltKeyDown, kAltKeyUp, kClose };

struct InputEvent {
  InputKind kind;
  POINT screenPoint;  // mouse events
  WPARAM virtualKey;  // key events
};

// The centre of a control, in screen coordinates.
POINT ControlCentre(HWND dialog, int id);
// The centre of entry `index` of a dropped-down list, in screen
// coordinates; false when the list is not dropped down or the entry is
// scrolled out of its window.
bool DroppedEntryCentre(HWND combo, int index, POINT* point);
// The entries of a dropped-down list that can be clicked, as [first, last];
// false when the list is not dropped down.
bool VisibleDroppedEntries(HWND combo, int* first, int* last);

// Posts the event to the window that would receive it.
void DeliverInput(HWND dialog, const InputEvent& event);
