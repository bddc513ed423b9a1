#include "standin_host/validator/check_stored_values.h"

#include <stdio.h>

#include "standin_host/console.h"
#include "standin_host/dialog_driver.h"
#include "standin_host/random_user/stored_values.h"
#include "standin_host/validator/check_support.h"

namespace {

// Long enough for any timer or message a dialog might use to end itself.
constexpr UINT kQuietMs = 1000;
constexpr UINT_PTR kQuietTimer = 0x5E;
const wchar_t kRunProperty[] = L"StandinHostQuietRun";

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

// The user: looks at the dialog for `quietMs`, then ends it with OK or Cancel.
struct QuietRun {
  ShownValues expected;
  UINT quietMs;
  int ending;  // IDOK or IDCANCEL
  DWORD openedAt;
  bool userEnded;
  ShownValues shownAtEnding;
  std::string failure;
};

void EndAsUser(HWND dialog, QuietRun* run) {
  run->shownAtEnding = ViewDialog(dialog).values;
  run->userEnded = true;
  ClickButton(dialog, run->ending);
}

void CALLBACK OnQuietOver(HWND dialog, UINT, UINT_PTR timer, DWORD) {
  KillTimer(dialog, timer);
  QuietRun* run = static_cast<QuietRun*>(RemovePropW(dialog, kRunProperty));
  if (run != nullptr) EndAsUser(dialog, run);
}

void OnOpened(HWND dialog, void* context) {
  QuietRun* run = static_cast<QuietRun*>(context);
  run->openedAt = GetTickCount();
  DialogView view = ViewDialog(dialog);
  std::string broken = BrokenRule(view);
  if (!broken.empty()) {
    run->failure = "a state the rules allow when it opens; " + broken;
  } else if (!(view.values == run->expected)) {
    run->failure = "it to open showing " + DescribeValues(run->expected) + "; it shows " +
                   DescribeValues(view.values);
  }
  if (run->quietMs == 0) {
    EndAsUser(dialog, run);
    return;
  }
  SetPropW(dialog, kRunProperty, run);
  SetTimer(dialog, kQuietTimer, run->quietMs, OnQuietOver);
}

// One opening of the dialog on the planted file; the result it ended with.
INT_PTR OpenAndEnd(Session* session, QuietRun* run) {
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
    run->failure = "it to stay open until the user acts; it ended by itself with " +
                   std::to_string(runner->lastResult) + " after " +
                   std::to_string(GetTickCount() - run->openedAt) + " ms with no action";
  } else if (run->failure.empty() && runner->lastResult != run->ending) {
    run->failure = std::string("the ") + (run->ending == IDOK ? "OK" : "Cancel") +
                   " button to end it with " + std::to_string(run->ending) + "; it ended with " +
                   std::to_string(runner->lastResult);
  }
  return runner->lastResult;
}

// Cancel after a quiet second, then OK at once; the first thing wrong.
std::string JudgeCase(Session* session, const StartingCase& row, Ledger* ledger) {
  if (!PlantSettingsFile(row.bytes, ledger)) return "the starting file could not be planted";
  FileState planted = ReadFileState(SettingsFilePath());
  ShownValues expected = OpeningValues();
  QuietRun cancel = {expected, kQuietMs, IDCANCEL, 0, false, {}, std::string()};
  OpenAndEnd(session, &cancel);
  if (!cancel.failure.empty()) return cancel.failure;
  FileState after = ReadFileState(SettingsFilePath());
  if (!SameFile(planted, after)) {
    return "Cancel to leave the file's bytes and time alone; " + FileChange(planted, after);
  }
  QuietRun ok = {expected, 0, IDOK, 0, false, {}, std::string()};
  OpenAndEnd(session, &ok);
  if (!ok.failure.empty()) return ok.failure;
  std::string stored = StoredDifference(ok.shownAtEnding, ReadSettingsFile());
  return stored.empty() ? stored : "OK to store what the dialog showed; " + stored;
}

}  // namespace

bool CheckStoredValues(const Options& options) {
  Ledger ledger = {0, 0};
  SettingsFileKeeper keeper;
  DialogScript unused = {{}, DialogEnding::kCancel, std::wstring()};
  Session session = {};
  if (!BeginSession(options, &unused, &session, &ledger)) return false;
  SetReportQuiet(true);
  bool registered = RegisterAll(&session);
  std::vector<StartingCase> cases = StartingCases();
  for (size_t i = 0; registered && i < cases.size(); ++i) {
    SetReportQuiet(false);
    Print("Case %u: %s\n", static_cast<unsigned>(i + 1), cases[i].what.c_str());
    SetReportQuiet(true);
    std::string failure = JudgeCase(&session, cases[i], &ledger);
    if (failure.empty()) continue;
    ReportProblem(&ledger, "from a file with %s, expected %s", cases[i].what.c_str(),
                  failure.c_str());
    break;
  }
  SetReportQuiet(false);
  if (!registered) ReportProblem(&ledger, "expected the plug-in to register its command");
  if (ledger.problems == 0) {
    Note("%u starting files, every catalogued value of each key",
         static_cast<unsigned>(cases.size()));
  }
  EndSession(&session, &ledger);
  return ledger.problems == 0;
}
