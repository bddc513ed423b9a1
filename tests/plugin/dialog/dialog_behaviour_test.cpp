// The settings dialog run by the platform's dialog manager from the plug-in's
// own template, driven as a user drives it. Every case runs with both the
// ANSI and the wide dialog functions; CTest runs this program once per ANSI
// code page (EXPECTED_CODE_PAGE names the one the run is meant to have).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <windows.h>

#include <functional>
#include <ostream>
#include <string>

#include "host/dialog_ids.h"
#include "plugin/dialog/settings_dialog.h"
#include "plugin/settings/settings.h"
#include "standin_host/user/dialog_driver.h"
#include "test_config.h"

bool operator==(const CompressionSettings& a, const CompressionSettings& b) {
  return a.size == b.size && a.version == b.version && a.enabled == b.enabled &&
         a.bitRate == b.bitRate && a.quality == b.quality && a.preprocessing == b.preprocessing;
}
void PrintTo(const CompressionSettings& s, std::ostream* out) {
  *out << "{size " << s.size << ", version " << s.version << ", enabled " << s.enabled
       << ", bitRate " << s.bitRate << ", quality " << s.quality << ", preprocessing "
       << s.preprocessing << "}";
}

namespace {

// The record as ReadSettings fills it; size and version are the dialog's
// to leave alone.
CompressionSettings Settings(int32_t enabled, int32_t bitRate, int32_t quality,
                             int32_t preprocessing) {
  return CompressionSettings{24, 1, enabled, bitRate, quality, preprocessing};
}

UINT ExpectedCodePage() {
  char value[16] = {};
  if (GetEnvironmentVariableA("EXPECTED_CODE_PAGE", value, sizeof value) == 0) return 1252;
  return static_cast<UINT>(atoi(value));
}

// What the user sees of the controls the procedure drives.
struct Shown {
  bool enableChecked;
  int selection;
  bool highChecked, normalChecked, monoChecked;
  bool enableOn, listOn, highOn, normalOn, monoOn, okOn, cancelOn;

  bool operator==(const Shown& o) const {
    return enableChecked == o.enableChecked && selection == o.selection &&
           highChecked == o.highChecked && normalChecked == o.normalChecked &&
           monoChecked == o.monoChecked && enableOn == o.enableOn && listOn == o.listOn &&
           highOn == o.highOn && normalOn == o.normalOn && monoOn == o.monoOn && okOn == o.okOn &&
           cancelOn == o.cancelOn;
  }
  friend void PrintTo(const Shown& s, std::ostream* out) {
    *out << "{enable " << s.enableChecked << (s.enableOn ? "" : " (off)") << ", list "
         << s.selection << (s.listOn ? "" : " (off)") << ", high " << s.highChecked
         << (s.highOn ? "" : " (off)") << ", normal " << s.normalChecked
         << (s.normalOn ? "" : " (off)") << ", mono " << s.monoChecked << (s.monoOn ? "" : " (off)")
         << ", ok" << (s.okOn ? "" : " (off)") << ", cancel" << (s.cancelOn ? "" : " (off)") << "}";
  }
};

Shown Look(HWND dialog) {
  return Shown{IsChecked(dialog, IDC_ENABLE),
               SelectedIndex(dialog, IDC_BITRATE),
               IsChecked(dialog, IDC_QUALITY_HIGH),
               IsChecked(dialog, IDC_QUALITY_NORMAL),
               IsChecked(dialog, IDC_STEREO_TO_MONO),
               IsEnabled(dialog, IDC_ENABLE),
               IsEnabled(dialog, IDC_BITRATE),
               IsEnabled(dialog, IDC_QUALITY_HIGH),
               IsEnabled(dialog, IDC_QUALITY_NORMAL),
               IsEnabled(dialog, IDC_STEREO_TO_MONO),
               IsEnabled(dialog, IDOK),
               IsEnabled(dialog, IDCANCEL)};
}

std::wstring Text(HWND window) {
  wchar_t text[128] = {};
  GetWindowTextW(window, text, 128);
  return text;
}
std::string AnsiText(HWND window) {
  char text[128] = {};
  GetWindowTextA(window, text, 128);
  return text;
}

// Dialog end values that no user action produces.
constexpr INT_PTR kTimedOut = 0x7E57;
constexpr INT_PTR kAborted = 0x7E58;

thread_local HWND t_openDialog;

// A case that forgets to end the dialog fails instead of hanging the suite.
void CALLBACK Watchdog(HWND, UINT, UINT_PTR, DWORD) {
  if (t_openDialog != nullptr) EndDialog(t_openDialog, kTimedOut);
}

void ActOnDialog(HWND dialog, void* context) {
  t_openDialog = dialog;
  (*static_cast<const std::function<void(HWND)>*>(context))(dialog);
  // A failed ASSERT left the action early, maybe before it ended the dialog.
  if (testing::Test::HasFatalFailure()) EndDialog(dialog, kAborted);
}

const char* CharsetName(DialogCharset charset) {
  return charset == DialogCharset::kWide ? "Wide" : "Ansi";
}

class SettingsDialog : public testing::TestWithParam<DialogCharset> {
 protected:
  static void SetUpTestSuite() { instance_ = LoadLibraryA(PLUGIN_DLL_PATH); }
  static void TearDownTestSuite() {
    if (instance_ != nullptr) FreeLibrary(instance_);
    instance_ = nullptr;
  }
  void SetUp() override { ASSERT_NE(nullptr, instance_) << PLUGIN_DLL_PATH; }

  bool Wide() const { return GetParam() == DialogCharset::kWide; }

  // Opens dialog 101 on `settings`, lets `act` work on it once it is shown,
  // and returns the dialog's end value.
  INT_PTR Run(const CompressionSettings& settings, const std::function<void(HWND)>& act) {
    g_settings = settings;
    UINT_PTR watchdog = SetTimer(nullptr, 0, 10000, Watchdog);
    INT_PTR result = RunDialog(instance_, IDD_SETTINGS, SettingsDialogProc, GetParam(), ActOnDialog,
                               const_cast<std::function<void(HWND)>*>(&act));
    KillTimer(nullptr, watchdog);
    t_openDialog = nullptr;
    EXPECT_NE(kTimedOut, result) << "the dialog was still open after 10 s";
    EXPECT_NE(-1, result) << "the dialog was not created, error " << GetLastError();
    return result;
  }

  // Opens on `settings`, looks, and confirms with OK.
  Shown OpenAndConfirm(const CompressionSettings& settings) {
    Shown shown = {};
    EXPECT_EQ(IDOK, Run(settings, [&](HWND dialog) {
                shown = Look(dialog);
                ClickButton(dialog, IDOK);
              }));
    return shown;
  }

  static HMODULE instance_;
};
HMODULE SettingsDialog::instance_ = nullptr;

INSTANTIATE_TEST_SUITE_P(BothCharsets, SettingsDialog,
                         testing::Values(DialogCharset::kAnsi, DialogCharset::kWide),
                         [](const testing::TestParamInfo<DialogCharset>& info) {
                           return std::string(CharsetName(info.param));
                         });

TEST(DialogTestRun, RunsInTheCodePageItsEntryAsksFor) {
  // A locale that fails to load falls back to 1252 without a word.
  EXPECT_EQ(ExpectedCodePage(), GetACP());
}

// --- opening ----------------------------------------------------------------

TEST_P(SettingsDialog, OpensWithFocusOnOkTheDefaultButton) {
  EXPECT_EQ(IDCANCEL, Run(Settings(1, 64, 0, 0), [](HWND dialog) {
              EXPECT_EQ(IDOK, FocusedControlId(dialog));
              EXPECT_EQ(MAKELRESULT(IDOK, DC_HASDEFID), SendMessageW(dialog, DM_GETDEFID, 0, 0));
              PressCloseBox(dialog);
            }));
}

TEST_P(SettingsDialog, ListHoldsExactlyTheEightRatesInOrder) {
  const wchar_t* const entries[] = {L"160", L"128", L"112", L"80", L"64", L"56", L"48", L"32"};
  Run(Settings(1, 112, 0, 0), [&](HWND dialog) {
    EXPECT_EQ(8, ListEntryCount(dialog, IDC_BITRATE));
    for (int index = 0; index < 8; ++index) {
      wchar_t text[16];
      EXPECT_TRUE(ListEntryText(dialog, IDC_BITRATE, index, text, 16));
      EXPECT_EQ(std::wstring(entries[index]), text) << "entry " << index;
    }
    // The closed list shows the selected entry.
    EXPECT_EQ(L"112", Text(GetDlgItem(dialog, IDC_BITRATE)));
    ClickButton(dialog, IDCANCEL);
  });
}

TEST_P(SettingsDialog, SettingsFromNoFileShowThirtyTwoHighQualityAndForcedMono) {
  Shown shown = {};
  std::wstring listText;
  EXPECT_EQ(IDOK, Run(Settings(1, 16, 0, 1), [&](HWND dialog) {
              shown = Look(dialog);
              listText = Text(GetDlgItem(dialog, IDC_BITRATE));
              ClickButton(dialog, IDOK);
            }));
  Shown expected = {true, 7, true, false, true, true, true, true, true, false, true, true};
  EXPECT_EQ(expected, shown);
  EXPECT_EQ(L"32", listText);
  EXPECT_EQ(Settings(1, 32, 0, 1), g_settings);
}

TEST_P(SettingsDialog, EachRateOpensAtItsEntryAndRatesNotOfferedAtThirtyTwo) {
  const struct {
    int32_t bitRate;
    int selection;
    int32_t stored;
  } rows[] = {{160, 0, 160}, {80, 3, 80}, {48, 6, 48},  {32, 7, 32}, {0, 7, 32},
              {16, 7, 32},   {96, 7, 32}, {200, 7, 32}, {-1, 7, 32}};
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << "bitRate " << row.bitRate);
    Shown shown = OpenAndConfirm(Settings(1, row.bitRate, 0, 0));
    EXPECT_EQ(row.selection, shown.selection);
    // Whatever shows as 32 forces mono, wherever the 32 came from.
    EXPECT_EQ(row.stored == 32, shown.monoChecked);
    EXPECT_EQ(Settings(1, row.stored, 0, row.stored == 32 ? 1 : 0), g_settings);
  }
}

TEST_P(SettingsDialog, ValuesOutsideTheChoicesShowAsTheNearestChoiceAndComeBackSo) {
  const struct {
    const char* name;
    CompressionSettings open;
    CompressionSettings stored;
  } rows[] = {
      {"enabled 3, quality 5, preprocessing 7", Settings(3, 64, 5, 7), Settings(1, 64, 1, 1)},
      {"all -1", Settings(-1, 64, -1, -1), Settings(1, 64, 1, 1)},
      {"enabled 0, quality 0, preprocessing 0", Settings(0, 64, 0, 0), Settings(0, 64, 0, 0)},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Shown shown = OpenAndConfirm(row.open);
    EXPECT_EQ(row.stored.enabled != 0, shown.enableChecked);
    EXPECT_EQ(row.stored.quality == 0, shown.highChecked);
    EXPECT_EQ(row.stored.quality != 0, shown.normalChecked);
    EXPECT_EQ(row.stored.preprocessing != 0, shown.monoChecked);
    EXPECT_EQ(row.stored, g_settings);
  }
}

TEST_P(SettingsDialog, OkLeavesSizeAndVersionAsTheyWere) {
  CompressionSettings open = {99, 7, 1, 80, 1, 0};
  OpenAndConfirm(open);
  EXPECT_EQ(open, g_settings);
}

TEST_P(SettingsDialog, IsCentredOnThePrimaryScreenAtTheTemplateSize) {
  RECT window = {}, client = {};
  RECT units = {0, 0, 274, 109};
  Run(Settings(1, 64, 0, 0), [&](HWND dialog) {
    GetWindowRect(dialog, &window);
    GetClientRect(dialog, &client);
    MapDialogRect(dialog, &units);
    ClickButton(dialog, IDCANCEL);
  });
  const int width = window.right - window.left, height = window.bottom - window.top;
  const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
  const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
  EXPECT_EQ((screenWidth - width) / 2, window.left) << "screen width " << screenWidth;
  EXPECT_EQ((screenHeight - height) / 2, window.top) << "screen height " << screenHeight;
  EXPECT_EQ(units.right, client.right);
  EXPECT_EQ(units.bottom, client.bottom);
}

// --- the enabling rule ---------------------------------------------------

constexpr int kKeepSelection = -2;

struct RuleRow {
  const char* name;
  CompressionSettings open;
  int select;        // index chosen after opening; -1 clears the selection
  int enableClicks;  // clicks on the enable box after that
  bool dependentsOn, monoOn, monoChecked;
  CompressionSettings stored;
};

TEST_P(SettingsDialog, EnablingRuleFollowsTheEnableBoxAndTheSelectedRate) {
  const RuleRow rows[] = {
      {"checked, 64, mono left unchecked", Settings(1, 64, 0, 0), kKeepSelection, 0, true, true,
       false, Settings(1, 64, 0, 0)},
      {"checked, 160, mono left checked", Settings(1, 160, 1, 1), kKeepSelection, 0, true, true,
       true, Settings(1, 160, 1, 1)},
      {"checked, opened at 32", Settings(1, 32, 0, 0), kKeepSelection, 0, true, false, true,
       Settings(1, 32, 0, 1)},
      {"checked, 32 chosen after 64", Settings(1, 64, 0, 0), 7, 0, true, false, true,
       Settings(1, 32, 0, 1)},
      {"checked, 48 chosen after 32", Settings(1, 32, 0, 0), 6, 0, true, true, true,
       Settings(1, 48, 0, 1)},
      {"checked, no selection counts as 32", Settings(1, 64, 0, 0), -1, 0, true, false, true,
       Settings(1, 32, 0, 1)},
      {"unchecked, opened at 64", Settings(0, 64, 0, 0), kKeepSelection, 0, false, false, false,
       Settings(0, 64, 0, 0)},
      {"unchecked by a click at 128", Settings(1, 128, 1, 1), kKeepSelection, 1, false, false, true,
       Settings(0, 128, 1, 1)},
      {"unchecked, opened at 32", Settings(0, 32, 1, 0), kKeepSelection, 0, false, false, true,
       Settings(0, 32, 1, 1)},
      {"unchecked by a click at 32", Settings(1, 32, 0, 1), kKeepSelection, 1, false, false, true,
       Settings(0, 32, 0, 1)},
      {"unchecked, no selection counts as 32", Settings(0, 80, 0, 0), -1, 0, false, false, true,
       Settings(0, 32, 0, 1)},
      {"unchecked and checked again at 32", Settings(1, 32, 0, 0), kKeepSelection, 2, true, false,
       true, Settings(1, 32, 0, 1)},
      {"checked by a click at 64", Settings(0, 64, 1, 0), kKeepSelection, 1, true, true, false,
       Settings(1, 64, 1, 0)},
  };
  for (const RuleRow& row : rows) {
    SCOPED_TRACE(row.name);
    Shown shown = {}, again = {};
    EXPECT_EQ(IDOK, Run(row.open, [&](HWND dialog) {
                if (row.select != kKeepSelection) SelectListEntry(dialog, IDC_BITRATE, row.select);
                for (int i = 0; i < row.enableClicks; ++i) ClickButton(dialog, IDC_ENABLE);
                shown = Look(dialog);
                // The rule again, without a change in between: nothing moves.
                SelectListEntry(dialog, IDC_BITRATE, SelectedIndex(dialog, IDC_BITRATE));
                again = Look(dialog);
                ClickButton(dialog, IDOK);
              }));
    EXPECT_EQ(row.dependentsOn, shown.listOn);
    EXPECT_EQ(row.dependentsOn, shown.highOn);
    EXPECT_EQ(row.dependentsOn, shown.normalOn);
    EXPECT_EQ(row.monoOn, shown.monoOn);
    EXPECT_EQ(row.monoChecked, shown.monoChecked);
    EXPECT_TRUE(shown.enableOn && shown.okOn && shown.cancelOn) << "never disabled";
    EXPECT_EQ(shown, again);
    // OK reads disabled controls like enabled ones.
    EXPECT_EQ(row.stored, g_settings);
  }
}

TEST_P(SettingsDialog, MonoStaysCheckedWhenTheRateRisesAgainUntilTheUserUnchecksIt) {
  for (bool userUnchecks : {false, true}) {
    SCOPED_TRACE(userUnchecks ? "user unchecks mono" : "mono left alone");
    Shown at64 = {}, at32 = {}, back = {};
    EXPECT_EQ(IDOK, Run(Settings(1, 64, 0, 0), [&](HWND dialog) {
                at64 = Look(dialog);
                SelectListEntry(dialog, IDC_BITRATE, 7);
                at32 = Look(dialog);
                SelectListEntry(dialog, IDC_BITRATE, 4);
                back = Look(dialog);
                if (userUnchecks) ClickButton(dialog, IDC_STEREO_TO_MONO);
                ClickButton(dialog, IDOK);
              }));
    EXPECT_TRUE(at64.monoOn && !at64.monoChecked);
    EXPECT_TRUE(!at32.monoOn && at32.monoChecked);
    EXPECT_TRUE(back.monoOn && back.monoChecked);
    EXPECT_EQ(Settings(1, 64, 0, userUnchecks ? 0 : 1), g_settings);
  }
}

TEST_P(SettingsDialog, UncheckingEnableAboveThirtyTwoKeepsEveryShownValue) {
  Shown before = {}, after = {};
  EXPECT_EQ(IDOK, Run(Settings(1, 80, 1, 0), [&](HWND dialog) {
              before = Look(dialog);
              ClickButton(dialog, IDC_ENABLE);
              after = Look(dialog);
              ClickButton(dialog, IDOK);
            }));
  Shown expected = before;
  expected.enableChecked = false;
  expected.listOn = expected.highOn = expected.normalOn = expected.monoOn = false;
  EXPECT_EQ(expected, after);
  EXPECT_EQ(Settings(0, 80, 1, 0), g_settings);
}

TEST_P(SettingsDialog, QualityButtonsFormOneRadioGroupApartFromTheCheckBoxes) {
  for (int32_t preprocessing : {0, 1}) {
    SCOPED_TRACE(testing::Message() << "preprocessing " << preprocessing);
    Shown opened = {}, normal = {}, high = {}, normalAgain = {};
    EXPECT_EQ(IDOK, Run(Settings(1, 64, 0, preprocessing), [&](HWND dialog) {
                opened = Look(dialog);
                ClickButton(dialog, IDC_QUALITY_NORMAL);
                normal = Look(dialog);
                ClickButton(dialog, IDC_QUALITY_HIGH);
                high = Look(dialog);
                ClickButton(dialog, IDC_QUALITY_NORMAL);
                normalAgain = Look(dialog);
                ClickButton(dialog, IDOK);
              }));
    Shown expected = opened;
    EXPECT_TRUE(opened.highChecked && !opened.normalChecked);
    expected.highChecked = false;
    expected.normalChecked = true;
    EXPECT_EQ(expected, normal);
    EXPECT_EQ(opened, high);
    EXPECT_EQ(expected, normalAgain);
    EXPECT_EQ(Settings(1, 64, 1, preprocessing), g_settings);
  }
}

TEST_P(SettingsDialog, ClicksOnQualityButtonsAndMonoRunNoRule) {
  // Every state a user can reach already satisfies the rule, so a rule run
  // shows only after the test puts the mono box in a state the rule undoes:
  // enabled at 32 kbit/s.
  Shown afterMono = {}, afterNormal = {}, afterHigh = {}, afterList = {};
  EXPECT_EQ(IDCANCEL, Run(Settings(1, 32, 0, 1), [&](HWND dialog) {
              EnableWindow(GetDlgItem(dialog, IDC_STEREO_TO_MONO), TRUE);
              ClickButton(dialog, IDC_STEREO_TO_MONO);
              afterMono = Look(dialog);
              ClickButton(dialog, IDC_QUALITY_NORMAL);
              afterNormal = Look(dialog);
              ClickButton(dialog, IDC_QUALITY_HIGH);
              afterHigh = Look(dialog);
              // The list's command does run the rule: the nudge is visible.
              SelectListEntry(dialog, IDC_BITRATE, 7);
              afterList = Look(dialog);
              ClickButton(dialog, IDCANCEL);
            }));
  EXPECT_TRUE(afterMono.monoOn && !afterMono.monoChecked) << testing::PrintToString(afterMono);
  EXPECT_TRUE(afterNormal.monoOn && !afterNormal.monoChecked && afterNormal.normalChecked)
      << testing::PrintToString(afterNormal);
  EXPECT_TRUE(afterHigh.monoOn && !afterHigh.monoChecked && afterHigh.highChecked)
      << testing::PrintToString(afterHigh);
  EXPECT_TRUE(!afterList.monoOn && afterList.monoChecked) << testing::PrintToString(afterList);
}

TEST_P(SettingsDialog, OpeningAndClosingTheDropDownChangesNothing) {
  for (const CompressionSettings& open : {Settings(1, 64, 1, 0), Settings(1, 32, 0, 1)}) {
    SCOPED_TRACE(testing::PrintToString(open));
    Shown before = {}, after = {};
    EXPECT_EQ(IDOK, Run(open, [&](HWND dialog) {
                before = Look(dialog);
                ToggleDropDown(dialog, IDC_BITRATE);
                after = Look(dialog);
                ClickButton(dialog, IDOK);
              }));
    EXPECT_EQ(before, after);
    EXPECT_EQ(open, g_settings);
  }
}

// --- ending --------------------------------------------------------------

enum class Ending { kOkButton, kCancelButton, kEnter, kEscape, kCloseBox };

struct EndingRow {
  const char* name;
  int focus;
  Ending ending;
  INT_PTR result;
};

TEST_P(SettingsDialog, OkCommitsTheShownValuesAndEveryWayOfCancellingKeepsTheOldOnes) {
  const EndingRow rows[] = {
      {"OK button", IDC_ENABLE, Ending::kOkButton, IDOK},
      {"Enter on OK", IDOK, Ending::kEnter, IDOK},
      {"Enter on the enable box", IDC_ENABLE, Ending::kEnter, IDOK},
      {"Cancel button", IDC_ENABLE, Ending::kCancelButton, IDCANCEL},
      {"Enter on Cancel", IDCANCEL, Ending::kEnter, IDCANCEL},
      {"Escape on OK", IDOK, Ending::kEscape, IDCANCEL},
      {"Escape on the enable box", IDC_ENABLE, Ending::kEscape, IDCANCEL},
      {"close box", IDC_ENABLE, Ending::kCloseBox, IDCANCEL},
  };
  const CompressionSettings open = Settings(1, 32, 0, 1);
  for (const EndingRow& row : rows) {
    SCOPED_TRACE(row.name);
    INT_PTR result = Run(open, [&](HWND dialog) {
      // Change every field: 64, mono off, normal quality, then compression
      // off, which disables the others; clicks move the focus as well.
      SelectListEntry(dialog, IDC_BITRATE, 4);
      ClickButton(dialog, IDC_STEREO_TO_MONO);
      ClickButton(dialog, IDC_QUALITY_NORMAL);
      ClickButton(dialog, IDC_ENABLE);
      FocusControl(dialog, row.focus);
      ASSERT_EQ(row.focus, FocusedControlId(dialog));
      switch (row.ending) {
        case Ending::kOkButton:
          ClickButton(dialog, IDOK);
          break;
        case Ending::kCancelButton:
          ClickButton(dialog, IDCANCEL);
          break;
        case Ending::kEnter:
          PressKey(dialog, VK_RETURN);
          break;
        case Ending::kEscape:
          PressKey(dialog, VK_ESCAPE);
          break;
        case Ending::kCloseBox:
          PressCloseBox(dialog);
          break;
      }
    });
    EXPECT_EQ(row.result, result);
    EXPECT_EQ(row.result == IDOK ? Settings(0, 64, 1, 0) : open, g_settings);
  }
}

// --- what the user reads ---------------------------------------------------

struct ChildRow {
  int id;
  const wchar_t* text;
};

// Template order; the list shows its selected entry.
const ChildRow kChildren[12] = {
    {IDOK, L"OK"},
    {IDCANCEL, L"ｷｬﾝｾﾙ"},
    {0xFFFF, L"圧縮："},
    {0xFFFF, L"ﾋﾞｯﾄﾚｰﾄ："},
    {IDC_ENABLE, L"可能"},
    {IDC_BITRATE, L"80"},
    {0xFFFF, L"ｷﾛﾋﾞｯﾄ/秒"},
    {0xFFFF, L"精密度 ："},
    {0xFFFF, L"ﾌﾟﾘﾌﾟﾛｾｯｼﾝｸﾞ："},
    {IDC_QUALITY_HIGH, L"高い（処理に時間がかかります）"},
    {IDC_QUALITY_NORMAL, L"標準"},
    {IDC_STEREO_TO_MONO, L"ｽﾃﾚｵからﾓﾉに変換"},
};

TEST_P(SettingsDialog, ShowsTheJapaneseTextsWhereverTheyCanBeShown) {
  std::wstring caption;
  std::string ansiCaption, ansiCancel;
  std::wstring texts[12];
  int ids[12] = {};
  int count = 0;
  Run(Settings(1, 80, 0, 0), [&](HWND dialog) {
    caption = Text(dialog);
    ansiCaption = AnsiText(dialog);
    ansiCancel = AnsiText(GetDlgItem(dialog, IDCANCEL));
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr && count < 12;
         child = GetWindow(child, GW_HWNDNEXT), ++count) {
      ids[count] = GetDlgCtrlID(child) & 0xFFFF;
      texts[count] = Text(child);
    }
    PressKey(dialog, VK_ESCAPE);
  });
  ASSERT_EQ(12, count);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(kChildren[i].id, ids[i]) << "control " << i + 1;

  if (Wide() || GetACP() == 932) {
    EXPECT_EQ(L"Quorvane for Audio 設定", caption);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(kChildren[i].text, texts[i]) << "control " << i + 1;
  } else {
    // The ANSI dialog turns the template's texts into code page 1252: the
    // Latin part survives, the kanji become question marks.
    EXPECT_EQ(L"Quorvane for Audio ??", caption);
    EXPECT_EQ(L"OK", texts[0]);
    EXPECT_EQ(L"??", texts[4]);
    EXPECT_EQ(L"80", texts[5]);
    EXPECT_EQ(L"??", texts[10]);
  }
  if (GetACP() == 932) {
    // What an ANSI caller reads: Shift-JIS, half-width katakana as one byte each.
    EXPECT_EQ("Quorvane for Audio \x90\xdd\x92\xe8", ansiCaption);
    EXPECT_EQ("\xb7\xac\xdd\xbe\xd9", ansiCancel);
  }
}

}  // namespace
