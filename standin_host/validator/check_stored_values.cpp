#include "standin_host/validator/check_stored_values.h"

#include "standin_host/random_user/stored_values.h"
#include "standin_host/system/console.h"
#include "standin_host/system/progress.h"
#include "standin_host/validator/check_support.h"
#include "standin_host/validator/open_dialogs.h"

namespace {

// Long enough for any timer or message a dialog might use to end itself.
constexpr DWORD kQuietMs = 1000;
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

// What changed in the file at `path` since `planted`, after "`expected` to
// leave it alone".
std::string Written(const std::wstring& path, const FileState& planted, const char* expected) {
  FileState now = ReadFileState(path);
  if (SameFile(planted, now)) return std::string();
  return std::string(expected) + " to leave the file's bytes and time alone; " +
         FileChange(planted, now);
}

// Plants the case's file and lets its held dialog open on it; the first
// thing wrong.
std::string OpenOnFile(HeldDialog* held, const StartingCase& row, FileState* planted,
                       ProblemList* problemList) {
  if (!HeldRegistered(*held))
    return "a copy of the plug-in under its own name to load and register";
  std::wstring path = HeldSettingsFile(*held);
  if (!PlantSettingsFileAt(path, row.bytes, problemList)) return kNotPlanted;
  *planted = ReadFileState(path);
  std::string failure = OpenHeldDialog(held, OpeningValues(path));
  if (!failure.empty()) return failure;
  return Written(path, *planted, "the dialogs open so far");
}

// After the quiet second: plants the file again and ends the dialog with
// Cancel; Cancel, then unloading, must leave it alone.
std::string CancelOnFile(HeldDialog* held, const StartingCase& row, ProblemList* problemList) {
  if (CurrentState(*held) >= HeldState::kEnded) return EndHeldDialog(held);  // ended by itself
  std::wstring path = HeldSettingsFile(*held);
  if (!PlantSettingsFileAt(path, row.bytes, problemList)) return kNotPlanted;
  FileState planted = ReadFileState(path);
  std::string failure = EndHeldDialog(held);
  if (!failure.empty()) return failure;
  std::string written = Written(path, planted, "Cancel, with the later files' dialogs still open,");
  if (!written.empty()) return written;
  if (!UnloadHeldDialog(held)) return "unloading the plug-in after Cancel to finish; it did not";
  return Written(path, planted,
                 "unloading the plug-in after Cancel, with the later files' dialogs still open,");
}

// Every file's dialog open at once, each on the file it was opened on, a
// quiet second for all, then Cancel on each; the first case that failed and
// why, the number of cases when the quiet second itself failed, or -1.
int JudgeQuietAndCancel(const Options& options, const std::vector<StartingCase>& cases,
                        ProblemList* problemList, std::string* failure) {
  int count = static_cast<int>(cases.size());
  ProgressStep("loading a copy of the plug-in for each of %d starting files", count);
  std::vector<HeldDialog*> dialogs = StartHeldDialogs(options, count, 2);
  std::vector<FileState> planted(static_cast<size_t>(count));
  int failed = -1;
  for (int i = 0; failed < 0 && i < count; ++i) {
    ProgressStep("case %d: opening its dialog", i + 1);
    *failure = OpenOnFile(dialogs[i], cases[i], &planted[i], problemList);
    if (!failure->empty()) failed = i;
  }
  if (failed < 0) {
    ProgressStep("every dialog open: a quiet second");
    Sleep(kQuietMs);
    // Each copy has a file of its own, each looked at after the quiet second.
    for (int i = 0; failed < 0 && i < count; ++i) {
      *failure =
          Written(HeldSettingsFile(*dialogs[i]), planted[i], "the dialogs, open with no action,");
      if (!failure->empty()) failed = count;
    }
  }
  for (int i = 0; failed < 0 && i < count; ++i) {
    ProgressStep("case %d: Cancel", i + 1);
    *failure = CancelOnFile(dialogs[i], cases[i], problemList);
    if (!failure->empty()) failed = i;
  }
  FinishHeldDialogs(&dialogs, problemList);
  return failed;
}

// OK at once on a fresh opening: the file must hold exactly what was shown.
std::string JudgeOk(Session* session, const StartingCase& row, ProblemList* problemList) {
  if (!PlantSettingsFile(row.bytes, problemList)) return kNotPlanted;
  DialogUser ok = UserEndingWith(IDOK, true);
  ok.expected = OpeningValues(SettingsFilePath());
  OpenAndEnd(session, &ok);
  if (!ok.failure.empty()) return ok.failure;
  std::string stored = StoredDifference(ok.shownAtEnding, ReadSettingsFile());
  return stored.empty() ? stored : "OK to store what the dialog showed; " + stored;
}

}  // namespace

bool CheckStoredValues(const Options& options) {
  ProblemList problemList = {0, 0};
  std::vector<StartingCase> cases = StartingCases();
  for (size_t i = 0; i < cases.size(); ++i) {
    Print("Case %u: %s\n", static_cast<unsigned>(i + 1), cases[i].what.c_str());
  }
  SetReportQuiet(true);
  std::string failure;
  int failed = JudgeQuietAndCancel(options, cases, &problemList, &failure);
  DialogScript unused = {{}, DialogEnding::kCancel, std::wstring()};
  Session session = {};
  bool begun = failed < 0 && BeginSession(options, &unused, &session, &problemList);
  bool registered = begun && RegisterAll(&session);
  for (size_t i = 0; registered && failed < 0 && i < cases.size(); ++i) {
    ProgressStep("case %u: OK", static_cast<unsigned>(i + 1));
    failure = JudgeOk(&session, cases[i], &problemList);
    if (!failure.empty()) failed = static_cast<int>(i);
  }
  SetReportQuiet(false);
  if (failed == static_cast<int>(cases.size())) {
    ReportProblem(&problemList, "with every starting file's dialog open at once, expected %s",
                  failure.c_str());
  } else if (failed >= 0) {
    ReportProblem(&problemList, "from a file with %s (case %d), expected %s",
                  cases[static_cast<size_t>(failed)].what.c_str(), failed + 1, failure.c_str());
  } else if (begun && !registered) {
    ReportProblem(&problemList, "expected the plug-in to register its command");
  }
  if (problemList.problems == 0) {
    Note(
        "%u starting files, every catalogued value of each key; their dialogs held open at "
        "once for a quiet second",
        static_cast<unsigned>(cases.size()));
  }
  if (begun) EndSession(&session, &problemList);
  return problemList.problems == 0;
}
