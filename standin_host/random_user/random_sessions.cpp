#include "standin_host/random_user/random_sessions.h"

#include "standin_host/console.h"
#include "standin_host/random_user/dialog_rules.h"
#include "standin_host/random_user/random_actor.h"
#include "standin_host/random_user/starting_file.h"

namespace {

constexpr int kMostActions = 12;
// The bit rates the dialog's list offers.
constexpr int kOfferedRates[] = {160, 128, 112, 80, 64, 56, 48, 32};

int ReadSetting(const wchar_t* key, int fallback) {
  return static_cast<int>(
      GetPrivateProfileIntW(L"VELConfigData", key, fallback, SettingsFilePath().c_str()));
}

// What the dialog must show when it opens: the file as the platform reads
// it (the plug-in's defaults for what is missing), in the forms the controls
// offer: any other rate shows as the lowest, which forces the mono box.
ShownValues OpeningValues() {
  ShownValues values;
  values.enabled = ReadSetting(L"enabled", 1) != 0 ? 1 : 0;
  int rate = ReadSetting(L"bitRate", 16);
  values.bitRate = kLowestRate;
  for (int offered : kOfferedRates) {
    if (offered == rate) values.bitRate = rate;
  }
  values.quality = ReadSetting(L"quality", 0) != 0 ? 1 : 0;
  values.preprocessing =
      ReadSetting(L"preprocessing", 1) != 0 || values.bitRate == kLowestRate ? 1 : 0;
  return values;
}

struct StoredKey {
  const char* name;
  int value;
};

std::string Trimmed(const std::string& text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// A line `key=value` in the settings section with the value in plain form
// (no sign, no leading zeros, nothing after it). Section and key are matched
// as the platform matches them, in any case; blanks around key and value are
// allowed because the platform's writer keeps a line whose value already
// reads the same.
bool HasPlainLine(const std::string& bytes, const std::string& key, const std::string& value) {
  size_t start = 0;
  bool inSection = false;
  while (start <= bytes.size()) {
    size_t end = bytes.find_first_of("\r\n", start);
    if (end == std::string::npos) end = bytes.size();
    std::string line = Trimmed(bytes.substr(start, end - start));
    if (!line.empty() && line[0] == '[')
      inSection = lstrcmpiA(line.c_str(), "[VELConfigData]") == 0;
    size_t equals = line.find('=');
    if (inSection && equals != std::string::npos &&
        lstrcmpiA(Trimmed(line.substr(0, equals)).c_str(), key.c_str()) == 0 &&
        Trimmed(line.substr(equals + 1)) == value) {
      return true;
    }
    start = end + 1;
  }
  return false;
}

// How the file after OK differs from what the dialog showed; empty when it
// holds exactly that, every key in plain form.
std::string StoredDifference(const ShownValues& shown, const StartingFile& file) {
  if (!file.present) return "there is no settings file after OK";
  const StoredKey keys[] = {{"enabled", shown.enabled},
                            {"bitRate", shown.bitRate},
                            {"quality", shown.quality},
                            {"preprocessing", shown.preprocessing},
                            {"version", 1}};
  std::wstring path = SettingsFilePath();
  for (const StoredKey& key : keys) {
    std::string expected = std::to_string(key.value);
    wchar_t text[64] = {};
    GetPrivateProfileStringW(L"VELConfigData", WideFromUtf8(key.name).c_str(), L"(absent)", text,
                             64, path.c_str());
    std::string stored = Utf8FromWide(text);
    if (stored != expected) {
      std::string failure = std::string("after OK the file reads ") + key.name + "=" + stored;
      failure += ", the dialog showed " + expected;
      return failure;
    }
    if (!HasPlainLine(file.bytes, key.name, expected)) {
      return std::string("after OK the file has no plain line ") + key.name + "=" + expected;
    }
  }
  return std::string();
}

std::string EndingVerdict(const ActorRun& run, INT_PTR result) {
  if (run.dialogsOpened == 0) return "Invoke opened no dialog";
  if (!run.failure.empty()) return run.failure;
  if (!run.endingStarted) {
    return "the dialog ended by itself with " + std::to_string(result) +
           " before the user ended it";
  }
  if (result != run.expectedResult) {
    return "the dialog returned " + std::to_string(result) + " after the " + run.actions.back() +
           ", not " + std::to_string(run.expectedResult);
  }
  return std::string();
}

std::string FileVerdict(const ActorRun& run, const StartingFile& before) {
  StartingFile after = ReadSettingsFile();
  if (run.expectedResult == IDOK) return StoredDifference(run.shownAtEnding, after);
  if (after.present != before.present) {
    return before.present ? "the settings file was deleted without OK"
                          : "a settings file was created without OK";
  }
  if (after.bytes != before.bytes) return "the settings file changed without OK";
  return std::string();
}

void PrintRepro(const Options& options, int number) {
  PrintError("  repro: standin_host --seed %u --first-session %d --random-sessions 1 \"%s\"\n",
             options.seed, number, Utf8FromWide(options.pluginPath.c_str()).c_str());
}

// One session; false when it failed.
bool RunOneSession(Session* session, const Options& options, int number) {
  Ledger* ledger = &session->host.ledger;
  SeededRandom random(options.seed, static_cast<uint32_t>(number));
  StartingFile start = RandomStartingFile(&random);
  ActorRun run = {};
  run.random = &random;
  run.actionsLeft = random.Below(kMostActions + 1);
  const DialogEnding kEndings[] = {DialogEnding::kOk, DialogEnding::kEnter, DialogEnding::kCancel,
                                   DialogEnding::kEscape, DialogEnding::kCloseBox};
  run.ending = kEndings[random.Below(5)];
  int problemsBefore = ledger->problems;
  if (!PutSettingsFile(start)) {
    ReportProblem(ledger, "seed %u session %d: the starting settings file could not be written",
                  options.seed, number);
    return false;
  }
  run.openingValues = OpeningValues();
  DialogRunner* runner = &session->host.dialogRunner;
  runner->actor = ActOnDialog;
  runner->actorContext = &run;
  RunRoad(session);
  runner->actor = nullptr;
  FinishActorRun(&run);
  ForgetLastRun(&session->host);
  std::string verdict = EndingVerdict(run, runner->lastResult);
  if (verdict.empty()) verdict = FileVerdict(run, start);
  Balanced(&session->host);
  if (verdict.empty() && ledger->problems == problemsBefore) return true;
  if (verdict.empty()) verdict = "the host found the problem(s) above";
  ReportProblem(ledger, "seed %u session %d, after actions %s: %s", options.seed, number,
                ActionList(run).c_str(), verdict.c_str());
  PrintRepro(options, number);
  return false;
}

}  // namespace

void RunRandomSessions(Session* session, const Options& options) {
  StartingFile original = ReadSettingsFile();
  LARGE_INTEGER frequency;
  LARGE_INTEGER started;
  LARGE_INTEGER finished;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&started);
  int failed = 0;
  // Printed first, so that a run that crashes can still be repeated.
  Print("Random user sessions %d to %d of seed %u\n", options.firstSession,
        options.firstSession + options.randomSessions - 1, options.seed);
  SetReportQuiet(true);
  for (int i = 0; i < options.randomSessions; ++i) {
    if (!RunOneSession(session, options, options.firstSession + i)) ++failed;
  }
  SetReportQuiet(false);
  QueryPerformanceCounter(&finished);
  if (!PutSettingsFile(original)) {
    ReportProblem(&session->host.ledger, "the settings file could not be put back as it was");
  }
  double seconds = static_cast<double>(finished.QuadPart - started.QuadPart) /
                   static_cast<double>(frequency.QuadPart);
  Print("Random sessions: %d run (seed %u, first %d), %d failed\n", options.randomSessions,
        options.seed, options.firstSession, failed);
  Print("  %.1f ms a session\n", seconds * 1000.0 / options.randomSessions);
}
