#include "standin_host/user/scripted_dialog.h"

#include <stdio.h>

#include "host/dialog_ids.h"
#include "standin_host/system/console.h"
#include "standin_host/system/progress.h"
#include "standin_host/user/dialog_driver.h"

namespace {

const wchar_t kRunProperty[] = L"StandinHostScriptRun";
constexpr UINT_PTR kCaptureTimer = 0x5C;
// Long enough for the platform to put the repainted dialog on the screen
// before it is read back.
constexpr UINT kCaptureDelayMs = 300;
constexpr UINT_PTR kEndingTimer = 0x5D;
// A dialog handles a key or a close request within milliseconds; one still
// open this long after its ending ignored it.
constexpr UINT kEndingWaitMs = 5000;

struct ScriptRun {
  const DialogScript* script;
  ProblemList* problemList;
  DialogOutcome* outcome;
  bool closedEarly;  // reported once
};

struct FieldControl {
  DialogField field;
  int id;
};
const FieldControl kFields[] = {
    {DialogField::kEnabled, IDC_ENABLE},
    {DialogField::kBitRate, IDC_BITRATE},
    {DialogField::kQuality, IDC_QUALITY_HIGH},
    {DialogField::kPreprocessing, IDC_STEREO_TO_MONO},
};

bool FieldEnabled(HWND dialog, DialogField field) {
  if (field == DialogField::kQuality) {
    return IsEnabled(dialog, IDC_QUALITY_HIGH) && IsEnabled(dialog, IDC_QUALITY_NORMAL);
  }
  for (const FieldControl& control : kFields) {
    if (control.field == field) return IsEnabled(dialog, control.id);
  }
  return false;
}

std::string Describe(HWND dialog) {
  std::string text;
  std::string disabled;
  for (const FieldControl& control : kFields) {
    int value = ShownValue(dialog, control.field);
    text += std::string(text.empty() ? "" : " ") + FieldName(control.field) + "=" +
            (value < 0 ? std::string("none") : std::to_string(value));
    if (!FieldEnabled(dialog, control.field)) {
      disabled += std::string(disabled.empty() ? "" : ", ") + FieldName(control.field);
    }
  }
  if (!disabled.empty()) text += " (disabled: " + disabled + ")";
  return text;
}

void MakeChoice(HWND dialog, const DialogChoice& choice, ProblemList* problemList) {
  const char* name = FieldName(choice.field);
  if (ShownValue(dialog, choice.field) == choice.value) return;  // nothing for a user to do
  int listIndex = -1;
  if (choice.field == DialogField::kBitRate) {
    wchar_t text[16];
    swprintf(text, 16, L"%d", choice.value);
    listIndex =
        static_cast<int>(SendMessageW(GetDlgItem(dialog, IDC_BITRATE), CB_FINDSTRINGEXACT,
                                      static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(text)));
    if (listIndex < 0) {
      ReportProblem(problemList, "cannot set %s=%d: the bit-rate list offers no such entry", name,
                    choice.value);
      return;
    }
  }
  if (!FieldEnabled(dialog, choice.field)) {
    ReportProblem(problemList,
                  "cannot set %s=%d: the control is disabled, a user could not change it", name,
                  choice.value);
    return;
  }
  switch (choice.field) {
    case DialogField::kEnabled:
      ClickButton(dialog, IDC_ENABLE);
      break;
    case DialogField::kPreprocessing:
      ClickButton(dialog, IDC_STEREO_TO_MONO);
      break;
    case DialogField::kQuality:
      ClickButton(dialog, choice.value == 0 ? IDC_QUALITY_HIGH : IDC_QUALITY_NORMAL);
      break;
    case DialogField::kBitRate:
      SelectListEntry(dialog, IDC_BITRATE, listIndex);
      break;
  }
  int shown = ShownValue(dialog, choice.field);
  if (shown != choice.value) {
    ReportProblem(problemList,
                  "expected the dialog to show %s=%d once the user set it; it shows %d", name,
                  choice.value, shown);
  }
}

// A dialog ended with EndDialog is hidden at once and gone once the modal
// loop sees it; a user can act only on one still showing.
bool StillOpen(HWND dialog, ScriptRun* run, const char* before) {
  if (IsWindow(dialog) && IsWindowVisible(dialog)) return true;
  if (!run->closedEarly) {
    ReportProblem(run->problemList,
                  "expected the dialog to stay open for the user's %s; it had closed by itself",
                  before);
  }
  run->closedEarly = true;
  return false;
}

void RecordShown(HWND dialog, DialogOutcome* outcome) {
  for (const FieldControl& control : kFields) {
    outcome->shownAtEnding[static_cast<int>(control.field)] = ShownValue(dialog, control.field);
  }
}

void CALLBACK OnEndingIgnored(HWND dialog, UINT, UINT_PTR timer, DWORD) {
  KillTimer(dialog, timer);
  ScriptRun* run = static_cast<ScriptRun*>(RemovePropW(dialog, kRunProperty));
  if (run == nullptr) return;
  ReportProblem(run->problemList, "expected the %s to end the dialog; it was still open %u s later",
                EndingName(run->script->ending), kEndingWaitMs / 1000);
  run->outcome->endingDelivered = false;
  // Ended for the user, without OK, so the run can go on.
  EndDialog(dialog, IDCANCEL);
}

void EndAsScripted(HWND dialog, ScriptRun* run) {
  DialogEnding ending = run->script->ending;
  if (ending != DialogEnding::kWaitForUser && !StillOpen(dialog, run, EndingName(ending))) return;
  RecordShown(dialog, run->outcome);
  run->outcome->endingDelivered = ending != DialogEnding::kWaitForUser;
  ProgressStep("the user's %s", EndingName(ending));
  switch (ending) {
    case DialogEnding::kOk:
      ClickButton(dialog, IDOK);
      break;
    case DialogEnding::kCancel:
      ClickButton(dialog, IDCANCEL);
      break;
    case DialogEnding::kEnter:
      PressKey(dialog, VK_RETURN);
      break;
    case DialogEnding::kEscape:
      PressKey(dialog, VK_ESCAPE);
      break;
    case DialogEnding::kCloseBox:
      PressCloseBox(dialog);
      break;
    case DialogEnding::kWaitForUser:
      Print("  Waiting for the user to close the dialog\n");
      return;
  }
  SetPropW(dialog, kRunProperty, run);
  SetTimer(dialog, kEndingTimer, kEndingWaitMs, OnEndingIgnored);
}

void CaptureAndEnd(HWND dialog, ScriptRun* run) {
  const DialogScript& script = *run->script;
  if (SaveDialogBitmap(dialog, script.capturePath.c_str())) {
    RECT rect = {};
    GetWindowRect(dialog, &rect);
    Print("  Dialog captured: %s (%ldx%ld)\n", Utf8FromWide(script.capturePath.c_str()).c_str(),
          rect.right - rect.left, rect.bottom - rect.top);
  } else {
    ReportProblem(run->problemList, "could not save the dialog to %s",
                  Utf8FromWide(script.capturePath.c_str()).c_str());
  }
  EndAsScripted(dialog, run);
}

void CALLBACK OnCaptureTimer(HWND dialog, UINT, UINT_PTR timer, DWORD) {
  KillTimer(dialog, timer);
  ScriptRun* run = static_cast<ScriptRun*>(RemovePropW(dialog, kRunProperty));
  if (run != nullptr) CaptureAndEnd(dialog, run);
}

void OnDialogReady(HWND dialog, void* context) {
  ScriptRun* run = static_cast<ScriptRun*>(context);
  const DialogScript& script = *run->script;
  run->outcome->userActed = true;
  Print("  Dialog opened: %s\n", Describe(dialog).c_str());
  ProgressStep("dialog shown: %s", Describe(dialog).c_str());
  for (const DialogChoice& choice : script.choices) {
    std::string before =
        std::string("choice ") + FieldName(choice.field) + "=" + std::to_string(choice.value);
    if (!StillOpen(dialog, run, before.c_str())) return;
    MakeChoice(dialog, choice, run->problemList);
  }
  if (!script.choices.empty()) Print("  Dialog after choices: %s\n", Describe(dialog).c_str());
  if (script.capturePath.empty()) {
    EndAsScripted(dialog, run);
    return;
  }
  // The picture is taken once the changed controls have reached the screen.
  RedrawWindow(dialog, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  SetPropW(dialog, kRunProperty, run);
  SetTimer(dialog, kCaptureTimer, kCaptureDelayMs, OnCaptureTimer);
}

}  // namespace

int ShownValue(HWND dialog, DialogField field) {
  switch (field) {
    case DialogField::kEnabled:
      return IsChecked(dialog, IDC_ENABLE) ? 1 : 0;
    case DialogField::kPreprocessing:
      return IsChecked(dialog, IDC_STEREO_TO_MONO) ? 1 : 0;
    case DialogField::kQuality:
      if (IsChecked(dialog, IDC_QUALITY_HIGH)) return 0;
      return IsChecked(dialog, IDC_QUALITY_NORMAL) ? 1 : -1;
    case DialogField::kBitRate: {
      int index = SelectedIndex(dialog, IDC_BITRATE);
      if (index < 0) return -1;
      wchar_t text[32] = {};
      HWND list = GetDlgItem(dialog, IDC_BITRATE);
      if (SendMessageW(list, CB_GETLBTEXTLEN, index, 0) >= 32) return -1;
      SendMessageW(list, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text));
      return _wtoi(text);
    }
  }
  return -1;
}

INT_PTR RunScriptedDialog(HINSTANCE instance, int dialogId, DLGPROC proc,
                          const DialogScript& script, ProblemList* problemList,
                          DialogOutcome* outcome) {
  *outcome = DialogOutcome{false, false, {-1, -1, -1, -1}};
  ScriptRun run = {&script, problemList, outcome, false};
  INT_PTR result = RunDialog(instance, dialogId, proc, DialogCharset::kWide, OnDialogReady, &run);
  if (result == -1) {
    ReportProblem(problemList, "dialog %d could not be created (error %lu)", dialogId,
                  GetLastError());
    return result;
  }
  DialogEnding ending = script.ending;
  if (ending == DialogEnding::kWaitForUser) return result;
  if (!outcome->userActed) {
    ReportProblem(problemList,
                  "expected the dialog to wait for the user (who would end it with the %s); it "
                  "ended by itself with %d before the user acted",
                  EndingName(ending), static_cast<int>(result));
  } else if (outcome->endingDelivered && result != ExpectedResult(ending)) {
    ReportProblem(problemList, "expected the %s to end the dialog with %s; it ended with %d",
                  EndingName(ending), ExpectedResult(ending) == IDOK ? "OK (1)" : "Cancel (2)",
                  static_cast<int>(result));
  }
  return result;
}
