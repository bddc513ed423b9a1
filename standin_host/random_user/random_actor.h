// A random user of the settings dialog: a seeded series of mouse and keyboard
// actions delivered as input (user_input.h), the dialog's rules judged after
// each, then one of the five ways a dialog ends.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "standin_host/dialog_script.h"
#include "standin_host/random_user/dialog_rules.h"
#include "standin_host/random_user/seeded_random.h"
#include "standin_host/random_user/user_input.h"

// Where a mouse step lands, worked out when it is delivered: a control's
// centre, or an entry of the dropped-down list (entry -1: a random visible
// one).
enum class StepTarget { kNone, kControl, kListEntry };

struct ActorStep {
  InputEvent event;
  StepTarget target;
  int id;  // control id or list entry
};

// What an action must do to the values shown, judged against the view
// before it; a control that was greyed must take no input.
enum class EffectKind { kNothing, kToggle, kQuality, kRate };

struct ActionEffect {
  EffectKind kind;
  int id;     // kToggle: the check box
  int value;  // kQuality: 0 high, 1 normal; kRate: the rate finally selected
  // kRate: the selection passed the lowest rate on the way, which ticks the
  // mono box for good.
  bool forcesMono;
};

struct ActorRun {
  // Set by the caller.
  SeededRandom* random;
  int actionsLeft;
  DialogEnding ending;        // one of the five, never kWaitForUser
  ShownValues openingValues;  // what the dialog must show when it opens
  // What happened, for the verdict and the report.
  std::vector<std::string> actions;
  std::string failure;          // the first thing that went wrong, empty while none
  size_t actionsBeforeFailure;  // the actions that led to it
  int dialogsOpened;
  bool endingDelivered;
  INT_PTR expectedResult;  // what the ending must make the dialog return
  ShownValues shownAtEnding;
  // Progress inside the dialog's modal loop.
  HWND dialog;
  HWND marker;
  std::vector<ActorStep> steps;
  size_t nextStep;
  ActionEffect effect;
  bool endingStarted;
  DialogView before;
  int waitRounds;
};

// Called with the run as context once the dialog is ready (a DialogReadyFn);
// the rest happens in the dialog's own modal loop.
void ActOnDialog(HWND dialog, void* context);
// Releases what the run kept after its dialog has ended.
void FinishActorRun(ActorRun* run);
// The actions that led to the failure (all of them when none), as the report
// prints them: [a, b, c].
std::string ActionList(const ActorRun& run);
