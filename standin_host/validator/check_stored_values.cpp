#include "standin_host/validator/check_stored_values.h"

#include <stdio.h>

#include <memory>

#include "standin_host/console.h"
#include "standin_host/dialog_driver.h"
#include "standin_host/random_user/stored_values.h"
#include "standin_host/validator/check_support.h"

namespace {

// Long enough for any timer or message a dialog might use to end itself.
constexpr DWORD kQuietMs = 1000;
// As long as a user waits for a click to end the dialog.
constexpr DWORD kEndMs = 5000;
// How often a held dialog's user looks whether the check wants it ended.
constexpr UINT kPollMs = 20;
constexpr UINT_PTR kPollTimer = 0x5E;
const wchar_t kRunProperty[] = L"StandinHostUserRun";
const char kNotPlanted[] = "the starting file to be planted; it could not be";

struct StartingCase {
  std::string bytes;
  std::string what;  // "bitRate=-1 (extreme) enabled=2 (unlisted) ..."
};

// The bit rate's catalogue sets the number of files; the switches' values
// come round in turn beside it, each key at its own offset.
std::vector<StartingCase> StartingCases() {
  std::vector<std::vector<StoredValue>> values;
  values.reserve(kShownKeyCount);
  for (int key = 0; key < kShownKeyCount; ++key) values.push_back(CataloguedValues(key));
  size_t count = values[static_cast<int>(DialogField::kBitRate)].size();
  std::vector<StartingCase> cases;
  for (size_t i = 0; i < count; ++i) {
    StartingCase row = {"[VELConfigData]\r\n", std::string()};
    for (int key = 0; key < kShownKeyCount; ++key) {
      const StoredValue& value = values[key][(i + 2 * key) % values[key].size()];
      std::string line = StoredLine(value);
      if (!line.empty()) row.bytes += line + "\r\n";
      row.what += std::string(row.what.empty() ? "" : " ") +
                  (line.empty() ? std::string(kSettingKeys[key]) + " missing" : line) + " (" +
                  ValueClassName(value.valueClass) + ")";
    }
    row.bytes += "version=1\r\n";
    cases.push_back(row);
  }
  return cases;
}

// The user of one dialog: looks at it until `endNow` is set (by the check,
// on whichever thread), then ends it with OK or Cancel.
struct UserRun {
  ShownValues expected;
  int ending;  // IDOK or IDCANCEL
  volatile LONG endNow;
  HANDLE opened;  // set once the dialog is shown and judged; may be null
  DWORD openedAt;
  bool userEnded;
  ShownValues shownAtEnding;
  std::string failure;
};

UserRun RunEndedBy(int ending, bool endAtOnce) {
  return UserRun{{}, ending, endAtOnce ? 1 : 0, nullptr, 0, false, {}, std::string()};
}

void EndAsUser(HWND dialog, UserRun* run) {
  run->shownAtEnding = ViewDialog(dialog).values;
  run->userEnded = true;
  ClickButton(dialog, run->ending);
}

void CALLBACK OnPoll(HWND dialog, UINT, UINT_PTR timer, DWORD) {
  UserRun* run = static_cast<UserRun*>(GetPropW(dialog, kRunProperty));
  if (run == nullptr || InterlockedCompareExchange(&run->endNow, 0, 0) == 0) return;
  KillTimer(dialog, timer);
  RemovePropW(dialog, kRunProperty);
  EndAsUser(dialog, run);
}

void OnOpened(HWND dialog, void* context) {
  UserRun* run = static_cast<UserRun*>(context);
  run->openedAt = GetTickCount();
  DialogView view = ViewDialog(dialog);
  std::string broken = BrokenRule(view);
  if (!broken.empty()) {
    run->failure = "a state the rules allow when it opens; " + broken;
  } else if (!(view.values == run->expected)) {
    run->failure = "it to open showing " + DescribeValues(run->expected) + "; it shows " +
                   DescribeValues(view.values);
  }
  if (InterlockedCompareExchange(&run->endNow, 0, 0) != 0) {
    EndAsUser(dialog, run);
  } else {
    SetPropW(dialog, kRunProperty, run);
    SetTimer(dialog, kPollTimer, kPollMs, OnPoll);
  }
  if (run->opened != nullptr) SetEvent(run->opened);
}

// One opening of the dialog through the session's tools, on this thread.
void OpenAndEnd(Session* session, UserRun* run) {
  DialogRunner* runner = &session->host.dialogRunner;
  runner->actor = OnOpened;
  runner->actorContext = run;
  RunTools(session);
  runner->actor = nullptr;
  if (session->lastInvokeStatus != STATUS_OK && run->failure.empty()) {
    char status[16];
    snprintf(status, sizeof status, "0x%08X", session->lastInvokeStatus);
    run->failure = std::string("Invoke to succeed; it returned ") + status;
  }
  if (!run->userEnded && run->failure.empty()) {
    run->failure =
        "it to stay open until the user acts; it ended by itself with " +
        std::to_string(runner->lastResult) +
        (run->openedAt == 0
             ? std::string(" before it was shown")
             : " after " + std::to_string(GetTickCount() - run->openedAt) + " ms with no action");
  } else if (run->failure.empty() && runner->lastResult != run->ending) {
    run->failure = std::string("the ") + (run->ending == IDOK ? "OK" : "Cancel") +
                   " button to end it with " + std::to_string(run->ending) + "; it ended with " +
                   std::to_string(runner->lastResult);
  }
}

// One starting file's dialog held open by a copy of the plug-in under a file
// name of its own, on a thread of its own. Copies share none of the
// plug-in's globals, so every file's quiet second passes at the same time,
// as if each had its own host process.
struct HeldDialog {
  const StartingCase* row;
  Options options;  // names the copy
  DialogScript unused;
  Session session;
  Ledger ledger;
  UserRun run;
  bool registered;
  volatile LONG abandoned;  // the check stopped before this file's turn
  HANDLE loaded;
  HANDLE go;
  HANDLE invoked;  // Invoke has returned; the plug-in is not yet unloaded
  HANDLE thread;
  FileState planted;
};

DWORD WINAPI HoldDialog(void* parameter) {
  HeldDialog* held = static_cast<HeldDialog*>(parameter);
  bool begun = BeginSession(held->options, &held->unused, &held->session, &held->ledger);
  held->registered = begun && RegisterAll(&held->session);
  SetEvent(held->loaded);
  WaitForSingleObject(held->go, INFINITE);
  if (held->registered && InterlockedCompareExchange(&held->abandoned, 0, 0) == 0) {
    OpenAndEnd(&held->session, &held->run);
  }
  SetEvent(held->invoked);
  if (begun) EndSession(&held->session, &held->ledger);
  return 0;
}

bool Ended(HANDLE event) { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

// What changed in the file since `planted`, after "`expected` to leave it alone".
std::string Written(const FileState& planted, const char* expected) {
  FileState now = ReadFileState(SettingsFilePath());
  if (SameFile(planted, now)) return std::string();
  return std::string(expected) + " to leave the file's bytes and time alone; " +
         FileChange(planted, now);
}

// Plants the held dialog's file and lets its thread open the dialog; the
// first thing wrong.
std::string OpenHeld(HeldDialog* held, Ledger* ledger) {
  if (!held->registered) return "a copy of the plug-in under its own name to load and register";
  if (!PlantSettingsFile(held->row->bytes, ledger)) return kNotPlanted;
  held->planted = ReadFileState(SettingsFilePath());
  held->run.expected = OpeningValues();
  SetEvent(held->go);
  HANDLE either[] = {held->run.opened, held->invoked};
  WaitForMultipleObjects(2, either, FALSE, INFINITE);
  if (Ended(held->invoked) && !held->run.failure.empty()) return held->run.failure;
  return Written(held->planted, "the dialogs open so far");
}

// After the quiet second: plants the file again and ends the dialog with
// Cancel; Cancel, then unloading, must leave it alone.
std::string CancelHeld(HeldDialog* held, Ledger* ledger) {
  if (Ended(held->invoked)) return held->run.failure;  // ended by itself
  if (!PlantSettingsFile(held->row->bytes, ledger)) return kNotPlanted;
  held->planted = ReadFileState(SettingsFilePath());
  InterlockedExchange(&held->run.endNow, 1);
  if (WaitForSingleObject(held->invoked, kEndMs) != WAIT_OBJECT_0) {
    return "the Cancel button to end it within 5 s; it is still open";
  }
  if (!held->run.failure.empty()) return held->run.failure;
  std::string written = Written(held->planted, "Cancel, with the later files' dialogs still open,");
  if (!written.empty()) return written;
  WaitForSingleObject(held->thread, INFINITE);
  return Written(held->planted,
                 "unloading the plug-in after Cancel, with the later files' dialogs still open,");
}

std::unique_ptr<HeldDialog> StartHeld(const Options& options, const StartingCase* row, int number) {
  std::unique_ptr<HeldDialog> held(new HeldDialog{});
  held->row = row;
  held->options = options;
  held->options.pluginPath = PluginCopyPath(options.pluginPath, number);
  held->unused = DialogScript{{}, DialogEnding::kCancel, std::wstring()};
  held->ledger = Ledger{0, 0};
  held->run = RunEndedBy(IDCANCEL, false);
  held->run.opened = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  held->loaded = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  held->go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  held->invoked = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (CopyFileW(options.pluginPath.c_str(), held->options.pluginPath.c_str(), FALSE)) {
    held->thread = CreateThread(nullptr, 0, HoldDialog, held.get(), 0, nullptr);
  }
  if (held->thread == nullptr) SetEvent(held->loaded);
  return held;
}

// Lets every thread finish, adds what their sessions found, removes the copies.
// A thread whose dialog will not end keeps its record until the process ends.
void FinishHeld(std::vector<std::unique_ptr<HeldDialog>>* dialogs, Ledger* ledger) {
  for (auto& held : *dialogs) {
    InterlockedExchange(&held->abandoned, 1);
    InterlockedExchange(&held->run.endNow, 1);
    SetEvent(held->go);
  }
  DWORD start = GetTickCount();
  for (auto& held : *dialogs) {
    DWORD waited = GetTickCount() - start;
    DWORD left = waited < kEndMs ? kEndMs - waited : 0;
    if (held->thread != nullptr && WaitForSingleObject(held->thread, left) != WAIT_OBJECT_0) {
      static_cast<void>(held.release());
      continue;
    }
    if (held->thread != nullptr) CloseHandle(held->thread);
    ledger->problems += held->ledger.problems;
    CloseHandle(held->run.opened);
    CloseHandle(held->loaded);
    CloseHandle(held->go);
    CloseHandle(held->invoked);
    DeleteFileW(held->options.pluginPath.c_str());
  }
}

// Every file's dialog open at once, each on the file it was opened on, a
// quiet second for all, then Cancel on each; the first case that failed and
// why, the number of cases when the quiet second itself failed, or -1.
int JudgeQuietAndCancel(const Options& options, const std::vector<StartingCase>& cases,
                        Ledger* ledger, std::string* failure) {
  std::vector<std::unique_ptr<HeldDialog>> dialogs;
  for (size_t i = 0; i < cases.size(); ++i) {
    dialogs.push_back(StartHeld(options, &cases[i], static_cast<int>(i) + 2));
  }
  for (auto& held : dialogs) WaitForSingleObject(held->loaded, INFINITE);
  int failed = -1;
  for (size_t i = 0; failed < 0 && i < dialogs.size(); ++i) {
    *failure = OpenHeld(dialogs[i].get(), ledger);
    if (!failure->empty()) failed = static_cast<int>(i);
  }
  if (failed < 0) {
    Sleep(kQuietMs);
    // Each Cancel plants its file afresh, so a write meanwhile shows only here.
    *failure = Written(dialogs.back()->planted, "the dialogs, open with no action,");
    if (!failure->empty()) failed = static_cast<int>(dialogs.size());
  }
  for (size_t i = 0; failed < 0 && i < dialogs.size(); ++i) {
    *failure = CancelHeld(dialogs[i].get(), ledger);
    if (!failure->empty()) failed = static_cast<int>(i);
  }
  FinishHeld(&dialogs, ledger);
  return failed;
}

// OK at once on a fresh opening: the file must hold exactly what was shown.
std::string JudgeOk(Session* session, const StartingCase& row, Ledger* ledger) {
  if (!PlantSettingsFile(row.bytes, ledger)) return kNotPlanted;
  UserRun ok = RunEndedBy(IDOK, true);
  ok.expected = OpeningValues();
  OpenAndEnd(session, &ok);
  if (!ok.failure.empty()) return ok.failure;
  std::string stored = StoredDifference(ok.shownAtEnding, ReadSettingsFile());
  return stored.empty() ? stored : "OK to store what the dialog showed; " + stored;
}

}  // namespace

bool CheckStoredValues(const Options& options) {
  Ledger ledger = {0, 0};
  SettingsFileKeeper keeper;
  std::vector<StartingCase> cases = StartingCases();
  for (size_t i = 0; i < cases.size(); ++i) {
    Print("Case %u: %s\n", static_cast<unsigned>(i + 1), cases[i].what.c_str());
  }
  SetReportQuiet(true);
  std::string failure;
  int failed = JudgeQuietAndCancel(options, cases, &ledger, &failure);
  DialogScript unused = {{}, DialogEnding::kCancel, std::wstring()};
  Session session = {};
  bool begun = failed < 0 && BeginSession(options, &unused, &session, &ledger);
  bool registered = begun && RegisterAll(&session);
  for (size_t i = 0; registered && failed < 0 && i < cases.size(); ++i) {
    failure = JudgeOk(&session, cases[i], &ledger);
    if (!failure.empty()) failed = static_cast<int>(i);
  }
  SetReportQuiet(false);
  if (failed == static_cast<int>(cases.size())) {
    ReportProblem(&ledger, "with every starting file's dialog open at once, expected %s",
                  failure.c_str());
  } else if (failed >= 0) {
    ReportProblem(&ledger, "from a file with %s (case %d), expected %s",
                  cases[static_cast<size_t>(failed)].what.c_str(), failed + 1, failure.c_str());
  } else if (begun && !registered) {
    ReportProblem(&ledger, "expected the plug-in to register its command");
  }
  if (ledger.problems == 0) {
    Note(
        "%u starting files, every catalogued value of each key; their dialogs held open at "
        "once for a quiet second",
        static_cast<unsigned>(cases.size()));
  }
  if (begun) EndSession(&session, &ledger);
  return ledger.problems == 0;
}
