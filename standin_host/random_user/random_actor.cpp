#include "standin_host/random_user/random_actor.h"

#include "host/dialog_ids.h"
#include "standin_host/system/progress.h"
#include "standin_host/user/dialog_driver.h"

const char kActivationTaken[] =
    "another window took the activation from the dialog during the action";

namespace {

// Posted after each input message: when it arrives, the dialog's modal loop
// has handled everything posted before it.
constexpr UINT kMarkerMessage = WM_APP + 0x31;
const wchar_t kMarkerClass[] = L"StandinHostInputMarker";
// The close box ends a dialog one posted message later (WM_CLOSE posts
// IDCANCEL), so an ending gets a few rounds before it counts as ignored.
constexpr int kEndingRounds = 4;
// What the host gives EndDialog when the dialog would not end.
constexpr INT_PTR kEndedByHost = 0x7FFF;

const char* ControlName(int id) {
  switch (id) {
    case IDOK:
      return "OK";
    case IDCANCEL:
      return "Cancel";
    case IDC_ENABLE:
      return "enable";
    case IDC_BITRATE:
      return "list";
    case IDC_QUALITY_HIGH:
      return "high";
    case IDC_QUALITY_NORMAL:
      return "normal";
    case IDC_STEREO_TO_MONO:
      return "mono";
    default:
      return "nothing";
  }
}

// What a click or Space does to a button that takes it.
ActionEffect ButtonEffect(int id) {
  if (id == IDC_QUALITY_HIGH) return {EffectKind::kQuality, id, 0, false};
  if (id == IDC_QUALITY_NORMAL) return {EffectKind::kQuality, id, 1, false};
  if (id == IDC_ENABLE || id == IDC_STEREO_TO_MONO) return {EffectKind::kToggle, id, 0, false};
  return {EffectKind::kNothing, id, 0, false};
}

Action Click(int id) {
  Action action = {std::string("click ") + ControlName(id), {}, ButtonEffect(id)};
  AddClick(&action.steps, StepTarget::kControl, id);
  return action;
}

// The entry is drawn among the visible ones once the list has dropped down.
Action PickByMouse() {
  Action action = {"pick by mouse", {}, {EffectKind::kRate, IDC_BITRATE, -1, false}};
  AddClick(&action.steps, StepTarget::kControl, IDC_BITRATE);
  AddClick(&action.steps, StepTarget::kListEntry, -1);
  return action;
}

// Opens the list from the keyboard, moves through it, takes the entry with
// Enter.
Action PickByKeyboard(SeededRandom* random, HWND dialog) {
  int index = SelectedIndex(dialog, IDC_BITRATE);
  Action action = {
      "pick by keyboard (", {}, {EffectKind::kRate, IDC_BITRATE, EntryRate(dialog, index), false}};
  bool alt = random->Chance(50);
  AddKey(&action.steps, alt ? VK_DOWN : VK_F4, alt);
  action.name += alt ? "Alt+Down" : "F4";
  for (int moves = random->Below(5); moves > 0; --moves) {
    bool down = random->Chance(60);
    AddKey(&action.steps, down ? VK_DOWN : VK_UP, false);
    action.name += down ? ", Down" : ", Up";
    index = MoveSelection(dialog, index, down, &action.effect);
  }
  AddKey(&action.steps, VK_RETURN, false);
  action.name += ", Enter)";
  return action;
}

// An arrow on the closed list moves the selection by one entry.
Action ArrowOnClosedList(SeededRandom* random, HWND dialog) {
  bool down = random->Chance(60);
  Action action = {down ? "key Down on the list" : "key Up on the list", {}, {}};
  action.effect = {EffectKind::kRate, IDC_BITRATE, -1, false};
  MoveSelection(dialog, SelectedIndex(dialog, IDC_BITRATE), down, &action.effect);
  AddKey(&action.steps, down ? VK_DOWN : VK_UP, false);
  return action;
}

Action OpenAndClose(SeededRandom* random, bool focusOnList) {
  Action action = {"open and close the list (", {}, {EffectKind::kNothing, IDC_BITRATE, 0, false}};
  switch (focusOnList ? random->Below(4) : 0) {
    case 0:
      // The second click lands outside the dropped list, which closes it.
      AddClick(&action.steps, StepTarget::kControl, IDC_BITRATE);
      AddClick(&action.steps, StepTarget::kControl, IDC_BITRATE);
      action.name += "click, click)";
      break;
    case 1:
      AddKey(&action.steps, VK_F4, false);
      AddKey(&action.steps, VK_F4, false);
      action.name += "F4, F4)";
      break;
    case 2:
      AddKey(&action.steps, VK_F4, false);
      AddKey(&action.steps, VK_ESCAPE, false);
      action.name += "F4, Escape)";
      break;
    default:
      AddKey(&action.steps, VK_DOWN, true);
      AddKey(&action.steps, VK_UP, true);
      action.name += "Alt+Down, Alt+Up)";
      break;
  }
  return action;
}

Action Keystroke(const char* name, WPARAM key, ActionEffect effect) {
  Action action = {name, {}, effect};
  AddKey(&action.steps, key, false);
  return action;
}

Action RandomAction(SeededRandom* random, HWND dialog, const DialogView& view) {
  bool onList = view.focusId == IDC_BITRATE;
  bool onPushButton = view.focusId == IDOK || view.focusId == IDCANCEL;
  for (;;) {
    switch (random->Below(15)) {
      case 0:
      case 1:
        return Click(IDC_ENABLE);
      case 2:
        return Click(random->Chance(50) ? IDC_QUALITY_HIGH : IDC_QUALITY_NORMAL);
      case 3:
        return Click(IDC_STEREO_TO_MONO);
      case 4:
        return PickByMouse();
      case 5:
        if (onList) return PickByKeyboard(random, dialog);
        break;
      case 6:
        if (onList) return ArrowOnClosedList(random, dialog);
        break;
      case 7:
        return OpenAndClose(random, onList);
      case 8:
      case 9:
        return TabKey(dialog, false);
      case 11:
        return TabKey(dialog, true);
      case 12:
        return WheelOverClosedList(random, dialog);
      case 13:
        // Only an enabled list drops down to be scrolled.
        if (view.listUsable) return ScrollOpenListAndPick(dialog);
        break;
      case 10:
        // Space on a push button would end the dialog outside the endings.
        if (!onPushButton) {
          Action space = Keystroke("Space", VK_SPACE, ButtonEffect(view.focusId));
          space.name += std::string(" on ") + ControlName(view.focusId);
          return space;
        }
        break;
      default:
        break;
    }
  }
}

bool UsableBefore(const DialogView& view, int id) {
  switch (id) {
    case IDC_ENABLE:
      return view.enableBoxUsable;
    case IDC_QUALITY_HIGH:
      return view.highUsable;
    case IDC_QUALITY_NORMAL:
      return view.normalUsable;
    case IDC_STEREO_TO_MONO:
      return view.monoUsable;
    default:
      return view.listUsable;
  }
}

// The values an action must leave; a greyed control leaves them as they were.
ShownValues ExpectedValues(const ActionEffect& effect, const DialogView& before) {
  ShownValues expected = before.values;
  if (!UsableBefore(before, effect.id)) return expected;
  switch (effect.kind) {
    case EffectKind::kToggle:
      if (effect.id == IDC_ENABLE) expected.enabled = 1 - expected.enabled;
      if (effect.id == IDC_STEREO_TO_MONO) expected.preprocessing = 1 - expected.preprocessing;
      break;
    case EffectKind::kQuality:
      expected.quality = effect.value;
      break;
    case EffectKind::kRate:
      expected.bitRate = effect.value;
      // The lowest rate ticks the mono box; leaving it never unticks it.
      if (effect.forcesMono || effect.value == kLowestRate) expected.preprocessing = 1;
      break;
    default:
      break;
  }
  return expected;
}

void Fail(ActorRun* run, const std::string& problem) {
  if (!run->failure.empty()) return;
  run->failure = problem;
  run->actionsBeforeFailure = run->actions.size();
}

void PostMarker(ActorRun* run) { PostMessageW(run->marker, kMarkerMessage, 0, 0); }

// The wheel turns towards the entries the dropped list hides, and the
// entries it showed before are remembered.
bool ResolveListScroll(ActorRun* run, ActorStep* step) {
  HWND combo = GetDlgItem(run->dialog, IDC_BITRATE);
  if (!VisibleDroppedEntries(combo, &run->shownFirst, &run->shownLast)) return false;
  step->event.wheelDelta = run->shownFirst > 0 ? WHEEL_DELTA : -WHEEL_DELTA;
  return DroppedListCentre(combo, &step->event.screenPoint);
}

// An entry of the dropped list: any visible one, or one the scrolling
// brought into view. False when there is none to click.
bool ResolveListEntry(ActorRun* run, ActorStep* step) {
  HWND combo = GetDlgItem(run->dialog, IDC_BITRATE);
  if (step->id < 0) {
    int first = 0;
    int last = -1;
    if (!VisibleDroppedEntries(combo, &first, &last)) return false;
    std::vector<int> candidates;
    for (int entry = first; entry <= last; ++entry) {
      bool hiddenBefore = entry < run->shownFirst || entry > run->shownLast;
      if (step->id == kAnyVisibleEntry || hiddenBefore) candidates.push_back(entry);
    }
    if (candidates.empty()) {
      Fail(run, "the wheel over the open list did not scroll it");
      return false;
    }
    step->id = candidates[run->random->Below(static_cast<int>(candidates.size()))];
    // The button's release lands on the same entry.
    if (run->nextStep < run->steps.size()) run->steps[run->nextStep].id = step->id;
    run->effect.value = EntryRate(run->dialog, step->id);
    run->actions.back() += " " + std::to_string(run->effect.value);
  }
  return DroppedEntryCentre(combo, step->id, &step->event.screenPoint);
}

// Works out where a mouse step lands now; false when there is nothing there
// to click (the list did not drop down).
bool ResolveStep(ActorRun* run, ActorStep* step) {
  switch (step->target) {
    case StepTarget::kControl:
      step->event.screenPoint = ControlCentre(run->dialog, step->id);
      return true;
    case StepTarget::kListEntry:
      return ResolveListEntry(run, step);
    case StepTarget::kDroppedList:
      return ResolveListScroll(run, step);
    case StepTarget::kCloseBox:
      if (CloseBoxCentre(run->dialog, &step->event.screenPoint)) return true;
      Fail(run, "the dialog's caption has no close box where the platform hit-tests it");
      return false;
    default:
      return true;
  }
}

// The rest of the action's input is not given, nor a key it held left down.
void DropRemainingSteps(ActorRun* run) {
  run->nextStep = run->steps.size();
  ReleaseHeldKeys();
}

// The session stops without a verdict: what the dialog did after input it
// never got says nothing of the plug-in.
void CannotJudge(ActorRun* run, const std::string& unreachable) {
  run->unjudged = unreachable;
  DropRemainingSteps(run);
  EndDialog(run->dialog, kEndedByHost);
}

// What an inactive dialog does with input is the platform's, not the
// plug-in's: an action during which another thread's window took the
// activation from the dialog is not judged. The marker, a top-level window
// of the dialog's thread, hears of that (WM_ACTIVATEAPP). On a desktop of the
// validator's own no other program should take it, but where the system
// gives every desktop one keyboard focus (Wine on an X display), a dialog
// that another check opens meanwhile does. On the person's desktop the
// dialog's thread may have made it active again meanwhile (setting the focus
// does), but not the foreground.
bool LostActivation(ActorRun* run) {
  bool taken = run->activationLost;
  if (OnInputDesktop()) {
    taken = taken || AnotherWindowActive(run->dialog) ||
            (run->activeBefore && !DialogActive(run->dialog));
  }
  if (!taken) return false;
  CannotJudge(run, kActivationTaken);
  return true;
}

void DeliverStep(ActorRun* run) {
  ActorStep* step = &run->steps[run->nextStep++];
  std::string unreachable;
  if (ResolveStep(run, step)) {
    if (!DeliverInput(run->dialog, step->event, &unreachable)) {
      CannotJudge(run, unreachable);
      return;
    }
  } else {
    if (LostActivation(run)) return;
    if (run->before.listUsable) Fail(run, "a click on the enabled bit-rate list did not open it");
    DropRemainingSteps(run);
  }
  PostMarker(run);
}

// False when the action could not be judged, which ends the session.
bool JudgeAction(ActorRun* run) {
  if (LostActivation(run)) return false;
  DialogView after = ViewDialog(run->dialog);
  std::string problem = BrokenRule(after);
  if (problem.empty() && after.listDropped) problem = "the bit-rate list is still open";
  ShownValues expected = ExpectedValues(run->effect, run->before);
  if (problem.empty() && !(after.values == expected)) {
    problem = "the dialog shows " + DescribeValues(after.values) + " instead of " +
              DescribeValues(expected) +
              (UsableBefore(run->before, run->effect.id) ? "" : " (the control was greyed)");
  }
  if (problem.empty() && run->effect.focusId != 0 && after.focusId != run->effect.focusId) {
    problem = std::string("the focus is on ") + ControlName(after.focusId) + ", not on " +
              ControlName(run->effect.focusId);
  }
  if (!problem.empty()) Fail(run, problem);
  return true;
}

std::vector<ActorStep> EndingSteps(DialogEnding ending, SeededRandom* random, int focusId,
                                   std::string* how) {
  std::vector<ActorStep> steps;
  switch (ending) {
    case DialogEnding::kOk:
      AddClick(&steps, StepTarget::kControl, IDOK);
      break;
    case DialogEnding::kCancel:
      AddClick(&steps, StepTarget::kControl, IDCANCEL);
      break;
    case DialogEnding::kEnter:
      AddKey(&steps, VK_RETURN, false);
      break;
    case DialogEnding::kEscape:
      AddKey(&steps, VK_ESCAPE, false);
      break;
    case DialogEnding::kCloseBox:
      return CloseBoxSteps(random, focusId == IDC_BITRATE, how);
    case DialogEnding::kWaitForUser:
      break;  // a random session always ends the dialog itself
  }
  return steps;
}

void StartEnding(ActorRun* run) {
  DialogView view = ViewDialog(run->dialog);
  run->shownAtEnding = view.values;
  run->endingStarted = true;
  run->expectedResult = ExpectedResult(run->ending);
  // Enter presses the focused push button, which may be Cancel.
  if (run->ending == DialogEnding::kEnter && view.focusId == IDCANCEL)
    run->expectedResult = IDCANCEL;
  std::string how = EndingName(run->ending);
  run->steps = EndingSteps(run->ending, run->random, view.focusId, &how);
  ProgressStep("ending: %s", how.c_str());
  run->actions.push_back(how + (run->ending == DialogEnding::kEnter
                                    ? std::string(" on ") + ControlName(view.focusId)
                                    : std::string()));
  run->nextStep = 0;
  DeliverStep(run);
}

void StartNextAction(ActorRun* run) {
  if (!run->failure.empty() || run->actionsLeft <= 0) {
    StartEnding(run);
    return;
  }
  --run->actionsLeft;
  run->before = ViewDialog(run->dialog);
  run->activeBefore = DialogActive(run->dialog);
  Action action = RandomAction(run->random, run->dialog, run->before);
  run->actions.push_back(action.name);
  ProgressStep("action: %s", action.name.c_str());
  run->steps = action.steps;
  run->effect = action.effect;
  run->nextStep = 0;
  DeliverStep(run);
}

void WaitForEnd(ActorRun* run) {
  if (++run->waitRounds < kEndingRounds) {
    PostMarker(run);
    return;
  }
  if (LostActivation(run)) return;
  Fail(run, "the dialog was still open after the " + run->actions.back());
  EndDialog(run->dialog, kEndedByHost);
}

void OnMarker(ActorRun* run) {
  if (!IsWindow(run->dialog)) return;
  if (run->nextStep < run->steps.size()) {
    DeliverStep(run);
  } else if (run->endingStarted) {
    WaitForEnd(run);
  } else if (JudgeAction(run)) {
    StartNextAction(run);
  }
}

LRESULT CALLBACK MarkerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* run = reinterpret_cast<ActorRun*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  // Only while the dialog is shown: an ending hides it, and the activation
  // then moves on as it should.
  if (message == WM_ACTIVATEAPP && !wParam && run != nullptr && IsWindowVisible(run->dialog)) {
    run->activationLost = true;
  }
  if (message != kMarkerMessage) return DefWindowProcW(window, message, wParam, lParam);
  OnMarker(run);
  return 0;
}

HWND CreateMarker(ActorRun* run) {
  static ATOM registered = 0;
  HINSTANCE instance = GetModuleHandleW(nullptr);
  if (registered == 0) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = MarkerProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kMarkerClass;
    registered = RegisterClassW(&windowClass);
  }
  // Top-level, never shown: it hears when the thread loses the activation,
  // which a message-only window does not.
  HWND marker = CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, kMarkerClass, L"", WS_POPUP, 0,
                                0, 0, 0, nullptr, nullptr, instance, nullptr);
  if (marker != nullptr) SetWindowLongPtrW(marker, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(run));
  return marker;
}

}  // namespace

void ActOnDialog(HWND dialog, void* context) {
  ActorRun* run = static_cast<ActorRun*>(context);
  if (++run->dialogsOpened > 1) {
    Fail(run, "one Invoke opened more than one dialog");
    EndDialog(dialog, IDCANCEL);
    return;
  }
  run->dialog = dialog;
  run->marker = CreateMarker(run);
  if (run->marker == nullptr) {
    Fail(run, "the host could not create its input marker window");
    EndDialog(dialog, kEndedByHost);
    return;
  }
  DialogView view = ViewDialog(dialog);
  std::string problem = BrokenRule(view);
  if (!problem.empty()) Fail(run, "when the dialog opened, " + problem);
  if (!(view.values == run->openingValues)) {
    Fail(run, "the dialog opened showing " + DescribeValues(view.values) + ", the file holds " +
                  DescribeValues(run->openingValues));
  }
  StartNextAction(run);
}

void FinishActorRun(ActorRun* run) {
  ReleaseHeldKeys();  // the dialog may have ended between Shift's press and release
  // A dialog that ended during an action whose activation was taken (Enter
  // reaching OK once the dropped list was cancelled, say) ended for the
  // platform's reason, not the plug-in's.
  if (run->activationLost && run->failure.empty() && run->unjudged.empty()) {
    run->unjudged = kActivationTaken;
  }
  if (run->marker != nullptr) DestroyWindow(run->marker);
  run->marker = nullptr;
}

std::string ActionList(const ActorRun& run) {
  size_t count = run.failure.empty() ? run.actions.size() : run.actionsBeforeFailure;
  std::string list;
  for (size_t i = 0; i < count; ++i) list += (list.empty() ? "" : ", ") + run.actions[i];
  return "[" + list + "]";
}
