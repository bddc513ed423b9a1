// Plays a dialog script (records/dialog_script.h) on the real dialog as the user
// would, and tells what the dialog showed and how it ended.
#pragma once

#include <windows.h>

#include "standin_host/records/dialog_script.h"
#include "standin_host/records/problem_list.h"

// The value a field shows, read as a person reads it: 1 or 0 for a box
// ticked or not, the number in the selected list entry, 0 for the high and 1
// for the normal quality radio button; -1 when nothing is chosen.
int ShownValue(HWND dialog, DialogField field);

constexpr int kDialogFieldCount = 4;

// What happened to a scripted dialog, as the user would tell it.
struct DialogOutcome {
  bool userActed;        // the dialog was open when the user began
  bool endingDelivered;  // ...and still open when the ending was given
  // What each field showed (ShownValue, by DialogField) as the ending was given.
  int shownAtEnding[kDialogFieldCount];
};

// Runs the dialog with DialogBoxParamW, so its Japanese texts show in any code
// page. Prints what the dialog shows when it opens and after the choices. A
// choice the dialog does not let a user make or does not show, a failed
// capture, a dialog that closes before the user has acted or ended it, and an
// ending that gives another result than it should are problems. Returns what
// the dialog procedure gave EndDialog, or -1.
INT_PTR RunScriptedDialog(HINSTANCE instance, int dialogId, DLGPROC proc,
                          const DialogScript& script, ProblemList* problemList,
                          DialogOutcome* outcome);
