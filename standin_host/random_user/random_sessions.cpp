#include "standin_host/random_user/random_sessions.h"

#include "standin_host/random_user/dialog_rules.h"
#include "standin_host/random_user/random_actor.h"
#include "standin_host/random_user/starting_file.h"
#include "standin_host/random_user/stored_values.h"
#include "standin_host/system/console.h"
#include "standin_host/system/progress.h"

namespace {

constexpr int kMostActions = 12;
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

enum class SessionEnd { kPassed, kFailed, kNotJudged };

// One session, judged or not.
SessionEnd RunOneSession(Session* session, const Options& options, int number) {
  ProblemList* problemList = &session->host.problemList;
  ProgressStep("session %d of seed %u", number, options.seed);
  SeededRandom random(options.seed, static_cast<uint32_t>(number));
  // Classes in turn, so that every few sessions hold them all.
  StartingFile start =
      RandomStartingFile(&random, static_cast<ValueClass>((number - 1) % kValueClassCount));
  ActorRun run = {};
  run.random = &random;
  run.actionsLeft = random.Below(kMostActions + 1);
  const DialogEnding kEndings[] = {DialogEnding::kOk, DialogEnding::kEnter, DialogEnding::kCancel,
                                   DialogEnding::kEscape, DialogEnding::kCloseBox};
  run.ending = kEndings[random.Below(5)];
  int problemsBefore = problemList->problems;
  if (!PutSettingsFile(start)) {
    ReportProblem(problemList,
                  "seed %u session %d: the starting settings file could not be written",
                  options.seed, number);
    return SessionEnd::kFailed;
  }
  run.openingValues = OpeningValues(SettingsFilePath());
  DialogRunner* runner = &session->host.dialogRunner;
  runner->actor = ActOnDialog;
  runner->actorContext = &run;
  RunRoad(session);
  runner->actor = nullptr;
  FinishActorRun(&run);
  ForgetLastRun(&session->host);
  if (!run.unjudged.empty()) {
    PrintError(
        "CANNOT JUDGE: seed %u session %d, after actions %s: the user's input could not "
        "reach the dialog here: %s\n",
        options.seed, number, ActionList(run).c_str(), run.unjudged.c_str());
    return SessionEnd::kNotJudged;
  }
  std::string verdict = EndingVerdict(run, runner->lastResult);
  if (verdict.empty()) verdict = FileVerdict(run, start);
  Balanced(&session->host);
  if (verdict.empty() && problemList->problems == problemsBefore) return SessionEnd::kPassed;
  if (verdict.empty()) verdict = "the host found the problem(s) above";
  ReportProblem(problemList, "seed %u session %d, after actions %s: %s", options.seed, number,
                ActionList(run).c_str(), verdict.c_str());
  PrintRepro(options, number);
  return SessionEnd::kFailed;
}

}  // namespace

bool RunRandomSessions(Session* session, const Options& options) {
  StartingFile original = ReadSettingsFile();
  LARGE_INTEGER frequency;
  LARGE_INTEGER started;
  LARGE_INTEGER finished;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&started);
  int failed = 0;
  bool judged = true;
  // Printed first, so that a run that crashes can still be repeated.
  Print("Random user sessions %d to %d of seed %u\n", options.firstSession,
        options.firstSession + options.randomSessions - 1, options.seed);
  SetReportQuiet(true);
  // Input that cannot reach the dialog once will not reach it later either.
  for (int i = 0; judged && i < options.randomSessions; ++i) {
    SessionEnd end = RunOneSession(session, options, options.firstSession + i);
    if (end == SessionEnd::kFailed) ++failed;
    judged = end != SessionEnd::kNotJudged;
  }
  SetReportQuiet(false);
  QueryPerformanceCounter(&finished);
  if (!PutSettingsFile(original)) {
    ReportProblem(&session->host.problemList, "the settings file could not be put back as it was");
  }
  double seconds = static_cast<double>(finished.QuadPart - started.QuadPart) /
                   static_cast<double>(frequency.QuadPart);
  Print("Random sessions: %d run (seed %u, first %d), %d failed\n", options.randomSessions,
        options.seed, options.firstSession, failed);
  Print("  %.1f ms a session\n", seconds * 1000.0 / options.randomSessions);
  return judged;
}
