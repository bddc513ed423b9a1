#include "standin_host/random_user/actions.h"

#include "host/dialog_ids.h"
#include "standin_host/random_user/dialog_rules.h"
#include "standin_host/user/dialog_driver.h"

namespace {

void AddStep(std::vector<ActorStep>* steps, InputKind kind, WPARAM key, StepTarget target) {
  steps->push_back({{kind, {}, key, 0}, target, 0});
}

}  // namespace

void AddKey(std::vector<ActorStep>* steps, WPARAM key, bool alt) {
  AddStep(steps, alt ? InputKind::kAltKeyDown : InputKind::kKeyDown, key, StepTarget::kNone);
  AddStep(steps, alt ? InputKind::kAltKeyUp : InputKind::kKeyUp, key, StepTarget::kNone);
}

void AddClick(std::vector<ActorStep>* steps, StepTarget target, int id) {
  steps->push_back({{InputKind::kButtonDown, {}, 0, 0}, target, id});
  steps->push_back({{InputKind::kButtonUp, {}, 0, 0}, target, id});
}

int EntryRate(HWND dialog, int index) {
  wchar_t text[16];
  if (!ListEntryText(dialog, IDC_BITRATE, index, text, 16)) return -1;
  return _wtoi(text);
}

int MoveSelection(HWND dialog, int index, bool down, ActionEffect* effect) {
  int last = ListEntryCount(dialog, IDC_BITRATE) - 1;
  index = down ? (index < last ? index + 1 : last) : (index > 0 ? index - 1 : 0);
  effect->value = EntryRate(dialog, index);
  if (effect->value == kLowestRate) effect->forcesMono = true;
  return index;
}

Action TabKey(HWND dialog, bool shift) {
  Action action = {shift ? "Shift+Tab" : "Tab", {}, {EffectKind::kNothing, 0, 0, false}};
  HWND next = GetNextDlgTabItem(dialog, GetFocus(), shift ? TRUE : FALSE);
  action.effect.focusId = next != nullptr ? GetDlgCtrlID(next) : 0;
  if (shift) AddStep(&action.steps, InputKind::kShiftDown, VK_SHIFT, StepTarget::kNone);
  AddKey(&action.steps, VK_TAB, false);
  if (shift) AddStep(&action.steps, InputKind::kShiftUp, VK_SHIFT, StepTarget::kNone);
  return action;
}

Action WheelOverClosedList(SeededRandom* random, HWND dialog) {
  bool down = random->Chance(60);
  Action action = {down ? "wheel down over the closed list" : "wheel up over the closed list",
                   {},
                   {EffectKind::kRate, IDC_BITRATE, -1, false}};
  MoveSelection(dialog, SelectedIndex(dialog, IDC_BITRATE), down, &action.effect);
  action.steps.push_back({{InputKind::kWheel, {}, 0, down ? -WHEEL_DELTA : WHEEL_DELTA},
                          StepTarget::kControl,
                          IDC_BITRATE});
  return action;
}

Action ScrollOpenListAndPick(HWND dialog) {
  Action action = {"scroll the open list and pick",
                   {},
                   {EffectKind::kRate, IDC_BITRATE,
                    EntryRate(dialog, SelectedIndex(dialog, IDC_BITRATE)), false}};
  AddClick(&action.steps, StepTarget::kControl, IDC_BITRATE);
  // The direction is worked out once the list shows which way it can go.
  action.steps.push_back({{InputKind::kWheel, {}, 0, 0}, StepTarget::kDroppedList, 0});
  AddClick(&action.steps, StepTarget::kListEntry, kScrolledIntoView);
  return action;
}

std::vector<ActorStep> CloseBoxSteps(SeededRandom* random, bool focusOnList, std::string* how) {
  std::vector<ActorStep> steps;
  switch (random->Below(focusOnList ? 2 : 3)) {
    case 0:
      *how = "close box (window menu)";
      AddStep(&steps, InputKind::kClose, 0, StepTarget::kNone);
      break;
    case 1:
      *how = "close box (click on the caption)";
      AddStep(&steps, InputKind::kCaptionClick, 0, StepTarget::kCloseBox);
      break;
    default:
      *how = "close box (Alt+F4)";
      AddKey(&steps, VK_F4, true);
      break;
  }
  return steps;
}
