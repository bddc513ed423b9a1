#include <windows.h>

#include <gtest/gtest.h>

#include "dialog/dialog_ids.h"
#include "dialog/settings_dialog.h"
#include "settings/settings.h"
#include "standin_host/dialog_driver.h"
#include "test_config.h"

namespace {

struct Seen {
  bool monoChecked, monoEnabled;
  int selection, focus;
};

void ObserveThenOk(HWND dialog, void* context) {
  Seen* seen = static_cast<Seen*>(context);
  seen->monoChecked = IsChecked(dialog, IDC_STEREO_TO_MONO);
  seen->monoEnabled = IsEnabled(dialog, IDC_STEREO_TO_MONO);
  seen->selection = SelectedIndex(dialog, IDC_BITRATE);
  seen->focus = FocusedControlId(dialog);
  PressKey(dialog, VK_RETURN);
}

TEST(SettingsDialog, DefaultsShowThirtyTwoAndForceMono) {
  HMODULE dll = LoadLibraryA(PLUGIN_DLL_PATH);
  ASSERT_NE(nullptr, dll);
  g_settings = CompressionSettings{24, 1, 1, 16, 0, 1};
  Seen seen = {};
  INT_PTR result = RunDialog(dll, IDD_SETTINGS, SettingsDialogProc, DialogCharset::kWide,
                             ObserveThenOk, &seen);
  EXPECT_EQ(IDOK, result);
  EXPECT_TRUE(seen.monoChecked);
  EXPECT_FALSE(seen.monoEnabled);
  EXPECT_EQ(7, seen.selection);
  EXPECT_EQ(IDOK, seen.focus);
  EXPECT_EQ(32, g_settings.bitRate);
  FreeLibrary(dll);
}

}  // namespace
