#include "standin_host/random_user/dialog_rules.h"

#include "host/dialog_ids.h"
#include "standin_host/user/dialog_driver.h"
#include "standin_host/user/scripted_dialog.h"

namespace {

std::string Usable(const char* control, bool usable) {
  return std::string("the ") + control + (usable ? " is enabled" : " is greyed");
}

// OK, Cancel and the enable box are never greyed; the other four follow the
// enable box, the mono box also the rate.
std::string BrokenEnabling(const DialogView& view) {
  if (!view.okUsable) return Usable("OK button", false);
  if (!view.cancelUsable) return Usable("Cancel button", false);
  if (!view.enableBoxUsable) return Usable("enable box", false);
  bool on = view.values.enabled == 1;
  const char* state = on ? " with compression on" : " with compression off";
  if (view.listUsable != on) return Usable("bit-rate list", view.listUsable) + state;
  if (view.highUsable != on) return Usable("high-quality button", view.highUsable) + state;
  if (view.normalUsable != on) return Usable("normal-quality button", view.normalUsable) + state;
  bool lowRate = view.values.bitRate == kLowestRate;
  if (view.monoUsable && lowRate) return Usable("mono box", true) + " at 32 kbit/s";
  if (view.monoUsable != (on && !lowRate)) return Usable("mono box", view.monoUsable) + state;
  return std::string();
}

}  // namespace

bool ShownValues::operator==(const ShownValues& other) const {
  return enabled == other.enabled && bitRate == other.bitRate && quality == other.quality &&
         preprocessing == other.preprocessing;
}

DialogView ViewDialog(HWND dialog) {
  DialogView view = {};
  view.values.enabled = ShownValue(dialog, DialogField::kEnabled);
  view.values.bitRate = ShownValue(dialog, DialogField::kBitRate);
  view.values.preprocessing = ShownValue(dialog, DialogField::kPreprocessing);
  view.highOn = IsChecked(dialog, IDC_QUALITY_HIGH);
  view.normalOn = IsChecked(dialog, IDC_QUALITY_NORMAL);
  view.values.quality = view.highOn == view.normalOn ? -1 : (view.highOn ? 0 : 1);
  view.okUsable = IsEnabled(dialog, IDOK);
  view.cancelUsable = IsEnabled(dialog, IDCANCEL);
  view.enableBoxUsable = IsEnabled(dialog, IDC_ENABLE);
  view.listUsable = IsEnabled(dialog, IDC_BITRATE);
  view.highUsable = IsEnabled(dialog, IDC_QUALITY_HIGH);
  view.normalUsable = IsEnabled(dialog, IDC_QUALITY_NORMAL);
  view.monoUsable = IsEnabled(dialog, IDC_STEREO_TO_MONO);
  view.listDropped =
      SendMessageW(GetDlgItem(dialog, IDC_BITRATE), CB_GETDROPPEDSTATE, 0, 0) != FALSE;
  view.focusId = FocusedControlId(dialog);
  return view;
}

std::string DescribeValues(const ShownValues& values) {
  return "enabled=" + std::to_string(values.enabled) +
         " bitRate=" + std::to_string(values.bitRate) +
         " quality=" + std::to_string(values.quality) +
         " preprocessing=" + std::to_string(values.preprocessing);
}

std::string BrokenRule(const DialogView& view) {
  if (view.highOn == view.normalOn) {
    return view.highOn ? "both quality buttons are on" : "neither quality button is on";
  }
  if (view.values.bitRate < 0) return "no bit-rate entry is selected";
  std::string enabling = BrokenEnabling(view);
  if (!enabling.empty()) return enabling;
  if (view.values.bitRate == kLowestRate && view.values.preprocessing != 1) {
    return "the mono box is not ticked at 32 kbit/s";
  }
  return std::string();
}
