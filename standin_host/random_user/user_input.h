// A person's input, delivered the way the platform delivers it: a mouse
// button goes to the window that has the capture, or else to the enabled,
// visible window under the pointer (a click on a disabled control reaches
// the dialog behind it); a key goes to the window with the keyboard focus.
// Every message is posted, so the dialog's own modal loop handles it.
//
// Only the dialog's own windows ever get input: the window under a point is
// found from the dialog's geometry (its controls and its dropped-down list),
// never from what the desktop shows there, so another program's window over
// the dialog neither takes the input nor keeps it from the control beneath.
#pragma once

#include <windows.h>

#include <string>

enum class InputKind {
  kButtonDown,
  kButtonUp,
  kKeyDown,
  kKeyUp,
  kAltKeyDown,
  kAltKeyUp,
  kShiftDown,  // the Shift key, held as a keyboard holds it
  kShiftUp,
  kWheel,
  kCaptionClick,  // a press and release at one point of the caption
  kClose,
};

struct InputEvent {
  InputKind kind;
  POINT screenPoint;   // mouse events
  WPARAM virtualKey;   // key events
  int wheelDelta = 0;  // kWheel: WHEEL_DELTA a notch, negative towards the user
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

// The centre of a dropped-down list's window, in screen coordinates; false
// when the list is not dropped down.
bool DroppedListCentre(HWND combo, POINT* point);
// The middle of the close box on a window's caption, in screen coordinates,
// where the platform's hit test finds it; false when there is none.
bool CloseBoxCentre(HWND window, POINT* point);

// Posts the event to the window of the dialog that would receive it. False,
// with what stood in the way in `unreachable`, when no window of the
// dialog's thread would: nothing is posted then.
bool DeliverInput(HWND dialog, const InputEvent& event, std::string* unreachable);
// Lets go of every key the input held down in this thread's key state (Shift
// for Shift+Tab), so that input cut short leaves the thread as it found it.
void ReleaseHeldKeys();
// Whether the dialog is its thread's active window: a window of another
// program that takes the foreground takes this from it, closes its dropped
// list and leaves its thread with no focus, as the platform does.
bool DialogActive(HWND dialog);
// Whether the foreground, on the dialog's desktop, is a window of another
// thread.
bool AnotherWindowActive(HWND dialog);
// Whether this thread is on the desktop the person sees and works on, where
// other programs' windows are; a desktop the validator made for its checks
// has none.
bool OnInputDesktop();
