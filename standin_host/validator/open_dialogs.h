// Settings dialogs opened through Invoke and held open while a check looks
// at what the plug-in does meanwhile: one at a time on the calling thread, or
// many at once, each by a copy of the plug-in under a file name of its own
// on a thread of its own. Copies share none of the plug-in's globals, so
// many dialogs wait together as if each had its own host process.
//
// Every wait here has a limit, so a dialog that never shows or never ends is
// reported as such instead of holding the check up.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "standin_host/hosting/session.h"
#include "standin_host/random_user/dialog_rules.h"
#include "standin_host/records/options.h"
#include "standin_host/records/problem_list.h"

struct HeldDialog;

// The user of one dialog: looks at it once it is shown (the rules hold, it
// shows `expected`) and leaves it alone until told to end it, then ends it
// with `ending` (IDOK or IDCANCEL) as a click would.
struct DialogUser {
  ShownValues expected;
  int ending;
  volatile LONG endNow;  // set by the check, on whichever thread
  HeldDialog* holder;    // the held dialog told when it is shown, or null
  DWORD openedAt;        // GetTickCount when shown, 0 before
  bool userEnded;
  ShownValues shownAtEnding;
  std::string failure;  // "what was expected; what happened", "" while none
};

// A user who ends the dialog with `ending`, at once or when told.
DialogUser UserEndingWith(int ending, bool endAtOnce);
// Runs the session's tools on this thread, each dialog used by `user`;
// after it, `user->failure` says what went wrong.
void OpenAndEnd(Session* session, DialogUser* user);

// Where a held dialog is in its life; each state follows the one before,
// and a dialog may pass through some at once (ended before it was shown).
enum class HeldState {
  kLoading,   // its copy of the plug-in loading and registering
  kReady,     // loaded (or not: see HeldRegistered), waiting to be let open
  kShown,     // its dialog shown and judged; the user waits
  kEnded,     // Invoke has returned; the copy stays loaded until let unload
  kUnloaded,  // its session ended and the copy unloaded
};
constexpr int kHeldStateCount = 5;

// Starts a thread for each of `count` dialogs, each with its own copy of the
// plug-in (copy numbers from `firstCopy`), and waits until every copy has
// loaded and registered or failed to.
std::vector<HeldDialog*> StartHeldDialogs(const Options& options, int count, int firstCopy);
bool HeldRegistered(const HeldDialog& held);
// The settings file the held copy's calls are bound to.
std::wstring HeldSettingsFile(const HeldDialog& held);
HeldState CurrentState(const HeldDialog& held);

// Lets the dialog open, expecting it to show `expected`, and waits until it
// is shown or Invoke returned. "" once shown; else what went wrong.
std::string OpenHeldDialog(HeldDialog* held, const ShownValues& expected);
// Tells the user to end the dialog and waits up to 5 s for Invoke to
// return. "" once it has; else what went wrong.
std::string EndHeldDialog(HeldDialog* held);
// Lets the dialog's session end and waits until its copy of the plug-in is
// unloaded, so that what Cancel did and what unloading did are told apart.
bool UnloadHeldDialog(HeldDialog* held);

// Ends every thread (a dialog not yet opened is never opened), adds what
// their sessions found to `problemList` and removes the copies. A thread whose
// dialog will not end keeps its record until the process ends.
void FinishHeldDialogs(std::vector<HeldDialog*>* dialogs, ProblemList* problemList);
