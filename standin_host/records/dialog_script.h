// The user's part in a headless run, as the command line gives it: choices
// made in the settings dialog as a user would make them, an optional
// picture, and how the dialog is ended. Plain data; user/scripted_dialog.h
// plays it on a dialog.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

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
