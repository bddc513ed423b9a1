#include "plugin/dialog/settings_dialog.h"

#include "host/dialog_ids.h"
#include "plugin/dialog/dialog_logic.h"
#include "plugin/settings/settings.h"

namespace {

int32_t SelectedBitRate(HWND dialog) {
  LRESULT index = SendMessageA(GetDlgItem(dialog, IDC_BITRATE), CB_GETCURSEL, 0, 0);
  return IndexToBitRate(static_cast<int32_t>(index));
}

void EnableControl(HWND dialog, int id, BOOL enable) {
  EnableWindow(GetDlgItem(dialog, id), enable);
}

void CentreOnScreen(HWND dialog) {
  RECT rect;
  GetWindowRect(dialog, &rect);
  int32_t width = rect.right - rect.left;
  int32_t height = rect.bottom - rect.top;
  Point origin =
      CentredOrigin(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), width, height);
  MoveWindow(dialog, origin.x, origin.y, width, height, FALSE);
}

void LoadControls(HWND dialog) {
  CheckDlgButton(dialog, IDC_ENABLE, g_settings.enabled != 0 ? BST_CHECKED : BST_UNCHECKED);
  FillBitRateList(dialog);
  SendMessageA(GetDlgItem(dialog, IDC_BITRATE), CB_SETCURSEL,
               static_cast<WPARAM>(BitRateToIndex(g_settings.bitRate)), 0);
  CheckDlgButton(dialog, g_settings.quality != 0 ? IDC_QUALITY_NORMAL : IDC_QUALITY_HIGH,
                 BST_CHECKED);
  CheckDlgButton(dialog, IDC_STEREO_TO_MONO,
                 g_settings.preprocessing != 0 ? BST_CHECKED : BST_UNCHECKED);
}

void CommitControls(HWND dialog) {
  g_settings.enabled = IsDlgButtonChecked(dialog, IDC_ENABLE) == BST_CHECKED ? 1 : 0;
  g_settings.bitRate = SelectedBitRate(dialog);
  g_settings.quality = IsDlgButtonChecked(dialog, IDC_QUALITY_HIGH) == BST_CHECKED ? 0 : 1;
  g_settings.preprocessing = IsDlgButtonChecked(dialog, IDC_STEREO_TO_MONO) == BST_CHECKED ? 1 : 0;
}

}  // namespace

void FillBitRateList(HWND dialog) {
  HWND list = GetDlgItem(dialog, IDC_BITRATE);
  for (const char* text : kBitRateTexts) {
    SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
  }
}

void UpdateControlStates(HWND dialog) {
  bool lowRate = SelectedBitRate(dialog) <= 32;
  // Mono is forced at low rates; the rule never unchecks it.
  if (lowRate) {
    CheckDlgButton(dialog, IDC_STEREO_TO_MONO, BST_CHECKED);
  } else {
    EnableControl(dialog, IDC_STEREO_TO_MONO, TRUE);
  }
  BOOL enabled = IsDlgButtonChecked(dialog, IDC_ENABLE) == BST_CHECKED;
  EnableControl(dialog, IDC_BITRATE, enabled);
  EnableControl(dialog, IDC_QUALITY_HIGH, enabled);
  EnableControl(dialog, IDC_QUALITY_NORMAL, enabled);
  EnableControl(dialog, IDC_STEREO_TO_MONO, enabled);
  if (lowRate) EnableControl(dialog, IDC_STEREO_TO_MONO, FALSE);
}

INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) {
    LoadControls(dialog);
    UpdateControlStates(dialog);
    CentreOnScreen(dialog);
    return TRUE;  // the platform focuses the first tab stop, OK
  }
  if (message != WM_COMMAND) return FALSE;
  switch (LOWORD(wParam)) {
    case IDOK:
      CommitControls(dialog);
      EndDialog(dialog, IDOK);
      return TRUE;
    case IDCANCEL:
      EndDialog(dialog, IDCANCEL);
      return TRUE;
    case IDC_ENABLE:
    case IDC_BITRATE:
      UpdateControlStates(dialog);
      return TRUE;
    default:
      return FALSE;
  }
}
