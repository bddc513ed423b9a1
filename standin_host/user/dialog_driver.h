// Runs a dialog modally through the platform's dialog manager, as the host's
// dialog service does, and lets a caller act on it as a user would once it is
// open. Used by the stand-in host and by the tests.
#pragma once

#include <windows.h>

// Called once on the dialog's thread, inside the modal loop, after the dialog
// has been initialised and painted. Whatever it posts is handled after it
// returns; it must end the dialog (directly or through posted input).
typedef void (*DialogReadyFn)(HWND dialog, void* context);

enum class DialogCharset { kAnsi, kWide };

// DialogBoxParamA or W from `instance`; returns what the dialog procedure gave
// EndDialog, or -1 when the dialog could not be created.
INT_PTR RunDialog(HINSTANCE instance, int dialogId, DLGPROC proc, DialogCharset charset,
                  DialogReadyFn ready, void* context);

// User actions.
void ClickButton(HWND dialog, int id);
// Selects entry `index` of a drop-down list and notifies the dialog as a
// user's choice does.
void SelectListEntry(HWND dialog, int id, int index);
// Opens and closes a drop-down list without choosing, with its notifications.
void ToggleDropDown(HWND dialog, int id);
// Moves the keyboard focus to a control, as Tab or a click would.
void FocusControl(HWND dialog, int id);
// Key presses go to the focused control of the dialog's thread, as the
// keyboard's would, or else to the dialog itself.
void PressKey(HWND dialog, WPARAM virtualKey);
// The caption's close box.
void PressCloseBox(HWND dialog);

// State of a control as the user sees it.
bool IsChecked(HWND dialog, int id);
bool IsEnabled(HWND dialog, int id);
int SelectedIndex(HWND dialog, int id);
// Entries of a list in the order the user sees them.
int ListEntryCount(HWND dialog, int id);
// Copies the text of entry `index`; false (and an empty text) when there is no
// such entry or its text does not fit.
bool ListEntryText(HWND dialog, int id, int index, wchar_t* text, int capacity);
// Id of the control that has the keyboard focus, or 0.
int FocusedControlId(HWND dialog);

// Saves the dialog as it appears on the screen as a 24-bit BMP file.
bool SaveDialogBitmap(HWND dialog, const wchar_t* path);
