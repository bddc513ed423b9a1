// The settings dialog's documented rules, judged from what a person sees:
// with compression off the list, both quality buttons and the mono box are
// greyed; at the lowest rate, 32 kbit/s, the mono box is ticked and greyed;
// OK, Cancel and the enable box are always usable; exactly one quality
// button is on and a bit-rate entry is selected.
#pragma once

#include <windows.h>

#include <string>

// The lowest rate the list offers, where the mono conversion is forced.
constexpr int kLowestRate = 32;

// The values the dialog shows, as DialogField values read them.
struct ShownValues {
  int enabled;
  int bitRate;  // the selected entry's text as a number, -1 for none
  int quality;  // -1 when neither or both buttons are on
  int preprocessing;
  bool operator==(const ShownValues& other) const;
};

struct DialogView {
  ShownValues values;
  bool highOn;
  bool normalOn;
  bool okUsable;
  bool cancelUsable;
  bool enableBoxUsable;
  bool listUsable;
  bool highUsable;
  bool normalUsable;
  bool monoUsable;
  bool listDropped;
  int focusId;  // the control with the keyboard focus, 0 for none
};

DialogView ViewDialog(HWND dialog);
std::string DescribeValues(const ShownValues& values);
// The first rule the view breaks, or an empty text when all hold.
std::string BrokenRule(const DialogView& view);
