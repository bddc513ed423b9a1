// A random user of the settings dialog: a seeded series of mouse and keyboard
// actions delivered as input (user_input.h), the dialog's rules judged after
// each, then one of the five ways a dialog ends.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "standin_host/random_user/actions.h"
#include "standin_host/random_user/dialog_rules.h"
#include "standin_host/random_user/seeded_random.h"
#include "standin_host/user/scripted_dialog.h"

struct ActorRun {
  // Set by the caller.
  SeededRandom* random;
  int actionsLeft;
  DialogEnding ending;        // one of the five, never kWaitForUser
  ShownValues openingValues;  // what the dialog must show when it opens
  // What happened, for the verdict and the report.
  std::vector<std::string> actions;
  std::string failure;  // the first thing that went wrong, empty while none
  // Why the user's input could not reach the dialog on this computer (the
  // session then says nothing of the plug-in), empty while it could.
  std::string unjudged;
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
  bool activeBefore;    // the dialog was active when the action began
  bool activationLost;  // another thread's window took it since the dialog was ready
  int waitRounds;
  // The entries the dropped list showed before it was scrolled.
  int shownFirst;
  int shownLast;
};

// Why a session was not judged when another window took the activation.
extern const char kActivationTaken[];

// Called with the run as context once the dialog is ready (a DialogReadyFn);
// the rest happens in the dialog's own modal loop.
void ActOnDialog(HWND dialog, void* context);
// Releases what the run kept after its dialog has ended.
void FinishActorRun(ActorRun* run);
// The actions that led to the failure (all of them when none), as the report
// prints them: [a, b, c].
std::string ActionList(const ActorRun& run);
