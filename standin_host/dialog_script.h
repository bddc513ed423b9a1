// The user's part in a headless run: choices made in the settings dialog as
// a user would make them, an optional picture, and how the dialog is ended.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "standin_host/ledger.h"

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
// The value a field shows, as the user reads it (the ticked boxes, the text
// of the selected list entry, the radio button that is on); -1 when nothing
// is chosen.
int ShownValue(HWND dialog, DialogField field);

// Runs the dialog with DialogBoxParamW, so its Japanese texts show in any code
// page. Prints what the dialog shows when it opens and after the choices. A
// choice the dialog does not let a user make, or a failed capture, is a
// problem. Returns what the dialog procedure gave EndDialog, or -1.
INT_PTR RunScriptedDialog(HINSTANCE instance, int dialogId, DLGPROC proc,
                          const DialogScript& script, Ledger* ledger);
