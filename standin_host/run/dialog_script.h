// The user's part in a headless run: choices made in the settings dialog as
// a user would make them, an optional picture, and how the dialog is ended.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "standin_host/run/problem_list.h"

enum class DialogField { kEnabled, kBitRate, kQuality, kPreprocessing };

struct DialogChoice {
  DialogField field;
  int value;
};

enum class DialogEnding { kWaitForUser, kOk, kCancel, kEnter, kEscape, kCloseBox };

struct DialogScript {
  std::vector<DialogChoice> choices;
  DialogEnding ending;
  std::wstring capturePath;  // empty: no picture
};

const char* FieldName(DialogField field);
// How a person would name the ending, for reports.
const char* EndingName(DialogEnding ending);
// What the ending must make the dialog return: IDOK or IDCANCEL.
INT_PTR ExpectedResult(DialogEnding ending);

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
