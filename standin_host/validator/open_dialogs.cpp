#include "standin_host/validator/open_dialogs.h"

#include <stdio.h>

#include "standin_host/hosting/settings_redirect.h"
#include "standin_host/system/local_machine.h"
#include "standin_host/user/dialog_driver.h"
#include "standin_host/validator/check_support.h"

namespace {

// As long as a user waits for a click to end the dialog.
constexpr DWORD kEndMs = 5000;
// Loading a copy, showing a dialog or unloading takes seconds even where
// each window takes a second to appear; a plug-in that hangs never does it.
constexpr DWORD kStepLimitMs = 30000;
// How long a held dialog's thread waits for the check to let it go on: the
// check moves on within minutes even with every dialog held, so a thread
// left waiting longer goes on by itself.
constexpr DWORD kCheckLimitMs = 600000;
// How often a held dialog's user looks whether the check wants it ended.
constexpr UINT kPollMs = 20;
constexpr UINT_PTR kPollTimer = 0x5E;
const wchar_t kUserProperty[] = L"StandinHostDialogUser";

}  // namespace

struct HeldDialog {
  Options options;  // names the copy
  DialogScript unused;
  Session session;
  ProblemList problemList;
  DialogUser user;
  bool registered;
  volatile LONG state;      // a HeldState, advanced by the dialog's thread only
  volatile LONG abandoned;  // never to be opened
  HANDLE reached[kHeldStateCount];
  HANDLE go;      // may open its dialog
  HANDLE unload;  // may end its session, once the check has judged the ending
  HANDLE thread;
};

namespace {

// Every state up to `to` counts as reached: a wait for one that was passed
// over returns at once.
void Advance(HeldDialog* held, HeldState to) {
  InterlockedExchange(&held->state, static_cast<LONG>(to));
  for (int state = 0; state <= static_cast<int>(to); ++state) SetEvent(held->reached[state]);
}

bool WaitFor(HeldDialog* held, HeldState state, DWORD limitMs) {
  return WaitForSingleObject(held->reached[static_cast<int>(state)], limitMs) == WAIT_OBJECT_0;
}

void EndAsUser(HWND dialog, DialogUser* user) {
  user->shownAtEnding = ViewDialog(dialog).values;
  user->userEnded = true;
  ClickButton(dialog, user->ending);
}

void CALLBACK OnPoll(HWND dialog, UINT, UINT_PTR timer, DWORD) {
  DialogUser* user = static_cast<DialogUser*>(GetPropW(dialog, kUserProperty));
  if (user == nullptr || InterlockedCompareExchange(&user->endNow, 0, 0) == 0) return;
  KillTimer(dialog, timer);
  RemovePropW(dialog, kUserProperty);
  EndAsUser(dialog, user);
}

void OnShown(HWND dialog, void* context) {
  DialogUser* user = static_cast<DialogUser*>(context);
  user->openedAt = GetTickCount();
  DialogView view = ViewDialog(dialog);
  std::string broken = BrokenRule(view);
  if (!broken.empty()) {
    user->failure = "a state the rules allow when it opens; " + broken;
  } else if (!(view.values == user->expected)) {
    user->failure = "it to open showing " + DescribeValues(user->expected) + "; it shows " +
                    DescribeValues(view.values);
  }
  if (InterlockedCompareExchange(&user->endNow, 0, 0) != 0) {
    EndAsUser(dialog, user);
  } else {
    SetPropW(dialog, kUserProperty, user);
    SetTimer(dialog, kPollTimer, kPollMs, OnPoll);
  }
  if (user->holder != nullptr) Advance(user->holder, HeldState::kShown);
}

DWORD WINAPI HoldDialog(void* parameter) {
  HeldDialog* held = static_cast<HeldDialog*>(parameter);
  JoinStartupDesktop();
  bool begun = BeginSession(held->options, &held->unused, &held->session, &held->problemList);
  held->registered = begun && RegisterAll(&held->session);
  Advance(held, HeldState::kReady);
  if (WaitForSingleObject(held->go, kCheckLimitMs) != WAIT_OBJECT_0) {
    InterlockedExchange(&held->abandoned, 1);
  }
  if (held->registered && InterlockedCompareExchange(&held->abandoned, 0, 0) == 0) {
    OpenAndEnd(&held->session, &held->user);
  }
  Advance(held, HeldState::kEnded);
  WaitForSingleObject(held->unload, kCheckLimitMs);
  if (begun) EndSession(&held->session, &held->problemList);
  Advance(held, HeldState::kUnloaded);
  return 0;
}

HeldDialog* StartHeld(const Options& options, int copy) {
  HeldDialog* held = new HeldDialog{};
  held->options = options;
  held->options.pluginPath = PluginCopyPath(options.pluginPath, copy);
  held->session.settingsCopy = copy;
  held->unused = DialogScript{{}, DialogEnding::kCancel, std::wstring()};
  held->problemList = ProblemList{0, 0};
  held->user = UserEndingWith(IDCANCEL, false);
  held->user.holder = held;
  for (HANDLE& event : held->reached) event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  held->go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  held->unload = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (CopyFileW(options.pluginPath.c_str(), held->options.pluginPath.c_str(), FALSE)) {
    held->thread = CreateThread(nullptr, 0, HoldDialog, held, 0, nullptr);
  }
  if (held->thread == nullptr) Advance(held, HeldState::kUnloaded);
  return held;
}

void CloseHeld(HeldDialog* held) {
  if (held->thread != nullptr) CloseHandle(held->thread);
  for (HANDLE event : held->reached) CloseHandle(event);
  CloseHandle(held->go);
  CloseHandle(held->unload);
  DeleteFileW(held->options.pluginPath.c_str());
}

}  // namespace

DialogUser UserEndingWith(int ending, bool endAtOnce) {
  return DialogUser{{}, ending, endAtOnce ? 1 : 0, nullptr, 0, false, {}, std::string()};
}

void OpenAndEnd(Session* session, DialogUser* user) {
  DialogRunner* runner = &session->host.dialogRunner;
  runner->actor = OnShown;
  runner->actorContext = user;
  RunTools(session);
  runner->actor = nullptr;
  if (session->lastInvokeStatus != STATUS_OK && user->failure.empty()) {
    char status[16];
    snprintf(status, sizeof status, "0x%08X", session->lastInvokeStatus);
    user->failure = std::string("Invoke to succeed; it returned ") + status;
  }
  if (!user->userEnded && user->failure.empty()) {
    user->failure =
        "it to stay open until the user acts; it ended by itself with " +
        std::to_string(runner->lastResult) +
        (user->openedAt == 0
             ? std::string(" before it was shown")
             : " after " + std::to_string(GetTickCount() - user->openedAt) + " ms with no action");
  } else if (user->failure.empty() && runner->lastResult != user->ending) {
    user->failure = std::string("the ") + (user->ending == IDOK ? "OK" : "Cancel") +
                    " button to end it with " + std::to_string(user->ending) + "; it ended with " +
                    std::to_string(runner->lastResult);
  }
}

std::vector<HeldDialog*> StartHeldDialogs(const Options& options, int count, int firstCopy) {
  std::vector<HeldDialog*> dialogs;
  dialogs.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) dialogs.push_back(StartHeld(options, firstCopy + i));
  // A copy that has not loaded by then counts as one that would not.
  for (HeldDialog* held : dialogs) WaitFor(held, HeldState::kReady, kStepLimitMs);
  return dialogs;
}

bool HeldRegistered(const HeldDialog& held) {
  return CurrentState(held) != HeldState::kLoading && held.registered;
}

std::wstring HeldSettingsFile(const HeldDialog& held) {
  std::wstring bound = BoundSettingsFile(held.session.settingsCopy);
  return bound.empty() ? SettingsFilePath() : bound;
}

HeldState CurrentState(const HeldDialog& held) {
  return static_cast<HeldState>(
      InterlockedCompareExchange(const_cast<volatile LONG*>(&held.state), 0, 0));
}

std::string OpenHeldDialog(HeldDialog* held, const ShownValues& expected) {
  held->user.expected = expected;
  SetEvent(held->go);
  if (!WaitFor(held, HeldState::kShown, kStepLimitMs)) {
    return "the dialog to show within " + std::to_string(kStepLimitMs / 1000) +
           " s; Invoke had neither shown it nor returned";
  }
  if (CurrentState(*held) >= HeldState::kEnded) return held->user.failure;
  return std::string();
}

std::string EndHeldDialog(HeldDialog* held) {
  if (CurrentState(*held) >= HeldState::kEnded) return held->user.failure;  // ended by itself
  InterlockedExchange(&held->user.endNow, 1);
  if (!WaitFor(held, HeldState::kEnded, kEndMs)) {
    return "the Cancel button to end it within 5 s; it is still open";
  }
  return held->user.failure;
}

bool UnloadHeldDialog(HeldDialog* held) {
  SetEvent(held->unload);
  return WaitFor(held, HeldState::kUnloaded, kStepLimitMs);
}

void FinishHeldDialogs(std::vector<HeldDialog*>* dialogs, ProblemList* problemList) {
  for (HeldDialog* held : *dialogs) {
    InterlockedExchange(&held->abandoned, 1);
    InterlockedExchange(&held->user.endNow, 1);
    SetEvent(held->go);
    SetEvent(held->unload);
  }
  DWORD start = GetTickCount();
  for (HeldDialog* held : *dialogs) {
    DWORD waited = GetTickCount() - start;
    if (!WaitFor(held, HeldState::kUnloaded, waited < kEndMs ? kEndMs - waited : 0)) continue;
    if (held->thread != nullptr &&
        WaitForSingleObject(held->thread, kStepLimitMs) != WAIT_OBJECT_0) {
      continue;
    }
    problemList->problems += held->problemList.problems;
    CloseHeld(held);
    delete held;
  }
  dialogs->clear();
}
