#include "standin_host/validator/validator.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <vector>

#include "standin_host/hosting/settings_file.h"
#include "standin_host/system/child_process.h"
#include "standin_host/system/console.h"
#include "standin_host/validator/checks.h"
#include "standin_host/validator/interruption.h"
#include "standin_host/validator/output_files.h"
#include "standin_host/validator/run_desktop.h"
#include "standin_host/validator/settings_watch.h"

namespace {

const char kRandomSessionsCheck[] = "random-user-sessions";
// Sessions per child process: a hang or crash costs one batch, not the run.
constexpr int kSessionsPerBatch = 50;
// A check's steps take seconds even on a slow desktop; only a plug-in that
// hangs goes this long without one.
constexpr int kNoProgressLimitSeconds = 60;
// What a check prints when this computer, not the plug-in, kept it from
// judging (no window of the dialog where the user would click, say).
const char kCannotJudge[] = "CANNOT JUDGE: ";

// One child process of a check: its command line.
struct ChildTask {
  std::wstring arguments;
};

struct PlannedCheck {
  std::string name;
  std::vector<ChildTask> tasks;
};

enum class Outcome { kPassed, kFailed, kNotJudged };

struct Verdict {
  Outcome outcome;
  // FAIL: what was expected, what happened; PASS: a note or ""; not judged:
  // what this computer did not allow.
  std::string reason;
};

std::vector<std::string> SplitNames(const std::wstring& list) {
  std::vector<std::string> names;
  std::string text = Utf8FromWide(list.c_str());
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    if (comma > start) names.push_back(text.substr(start, comma - start));
    start = comma + 1;
  }
  return names;
}

bool Wanted(const std::vector<std::string>& only, const std::string& name) {
  if (only.empty()) return true;
  for (const std::string& wanted : only) {
    if (wanted == name) return true;
  }
  return false;
}

// Every child uses the heap the validator was given, and tells its steps.
std::wstring ChildOptions(const Options& options) {
  return options.plainHeap ? L" --progress --heap plain" : L" --progress";
}

PlannedCheck RandomSessionsPlan(const Options& options, uint32_t seed) {
  PlannedCheck plan = {kRandomSessionsCheck, {}};
  for (int first = 1; first <= options.sessions; first += kSessionsPerBatch) {
    int count = options.sessions - first + 1;
    if (count > kSessionsPerBatch) count = kSessionsPerBatch;
    std::wstring arguments = L"--random-sessions " + std::to_wstring(count) + L" --seed " +
                             std::to_wstring(seed) + L" --first-session " + std::to_wstring(first) +
                             ChildOptions(options);
    plan.tasks.push_back(ChildTask{arguments});
  }
  return plan;
}

// False, with the unknown name in `error`, when --only names no such check.
bool PlanChecks(const Options& options, uint32_t seed, std::vector<PlannedCheck>* plans,
                std::string* error) {
  std::vector<std::string> only = SplitNames(options.only);
  size_t count = 0;
  const CheckInfo* checks = AllChecks(&count);
  for (const std::string& name : only) {
    bool known = name == kRandomSessionsCheck;
    for (size_t i = 0; i < count; ++i) known = known || name == checks[i].name;
    if (!known) *error = "--only: no check named " + name;
  }
  if (!error->empty()) return false;
  for (size_t i = 0; i < count; ++i) {
    if (!Wanted(only, checks[i].name)) continue;
    std::wstring arguments = L"--check " + WideFromUtf8(checks[i].name) + ChildOptions(options);
    plans->push_back(PlannedCheck{checks[i].name, {ChildTask{arguments}}});
  }
  if (options.sessions > 0 && Wanted(only, kRandomSessionsCheck)) {
    plans->push_back(RandomSessionsPlan(options, seed));
  }
  return true;
}

// The text after `prefix` on the first line that starts with it.
std::string FirstLineAfter(const std::string& output, const char* prefix) {
  size_t at = output.find(prefix);
  while (at != std::string::npos && at != 0 && output[at - 1] != '\n') {
    at = output.find(prefix, at + 1);
  }
  if (at == std::string::npos) return std::string();
  size_t start = at + strlen(prefix);
  size_t end = output.find_first_of("\r\n", start);
  return output.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string LastLine(const std::string& output) {
  size_t end = output.find_last_not_of("\r\n");
  if (end == std::string::npos) return "no output";
  size_t start = output.find_last_of('\n', end);
  return output.substr(start == std::string::npos ? 0 : start + 1, end + 1 - (start + 1));
}

Verdict Judge(const ChildRun& run, int limitSeconds) {
  if (!run.refused.empty()) return Verdict{Outcome::kNotJudged, run.refused};
  if (!run.started) return Verdict{Outcome::kFailed, "the check's process could not be started"};
  std::string problem = FirstLineAfter(run.output, "PROBLEM: ");
  char text[160];
  if (run.timedOut) {
    snprintf(text, sizeof text,
             "expected the check to go on; it made no progress for %d s after: ", limitSeconds);
    std::string step = run.lastStep.empty() ? "its start" : run.lastStep;
    return Verdict{Outcome::kFailed,
                   text + step + (problem.empty() ? "" : " (first problem: " + problem + ")")};
  }
  if (run.exitCode == 0) return Verdict{Outcome::kPassed, FirstLineAfter(run.output, "NOTE: ")};
  if (!problem.empty()) return Verdict{Outcome::kFailed, problem};
  std::string unjudged = FirstLineAfter(run.output, kCannotJudge);
  if (!unjudged.empty()) return Verdict{Outcome::kNotJudged, unjudged};
  if (run.exitCode >= 0xC0000000u) {
    snprintf(text, sizeof text, "expected the plug-in to run; the process crashed (0x%08lX)",
             run.exitCode);
    return Verdict{Outcome::kFailed, text};
  }
  // The stand-in host's own complaints (a command line it does not take, a
  // file it cannot load) begin with its name.
  std::string complaint = FirstLineAfter(run.output, "standin_host: ");
  snprintf(text, sizeof text, "exit %lu: ", run.exitCode);
  return Verdict{Outcome::kFailed, text + (complaint.empty() ? LastLine(run.output) : complaint)};
}

const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::kPassed:
      return "PASS";
    case Outcome::kFailed:
      return "FAIL";
    case Outcome::kNotJudged:
      break;
  }
  return "NOT JUDGED";
}

// The person's settings file is looked at before and after every child
// process; a change there is told in `notes`, one line each.
Verdict RunPlannedCheck(const PlannedCheck& plan, const Options& options,
                        const std::wstring& plugin, std::string* log, std::string* notes) {
  Verdict verdict = {Outcome::kPassed, std::string()};
  int limit = options.timeLimitSeconds > 0 ? options.timeLimitSeconds : kNoProgressLimitSeconds;
  for (const ChildTask& task : plan.tasks) {
    std::wstring command = Quoted(OwnProgramPath()) + L" " + task.arguments + L" " + Quoted(plugin);
    int ticket = WatchCheckStarting();
    DWORD started = GetTickCount();
    ChildRun run = RunChild(command, static_cast<DWORD>(limit) * 1000);
    char took[32];  // where a slow machine's time goes, for whoever reads the log
    snprintf(took, sizeof took, " (%.1f s)", (GetTickCount() - started) / 1000.0);
    Verdict part = Judge(run, limit);
    WatchVerdict after = WatchCheckEnded(ticket, run.output, run.otherProcesses);
    for (const std::string& note : after.notes) *notes += note + "\n";
    if (after.kind == WatchVerdict::kPluginChanged) part = Verdict{Outcome::kFailed, after.line};
    if (after.kind == WatchVerdict::kCannotJudge) part = Verdict{Outcome::kNotJudged, after.line};
    bool passed = part.outcome == Outcome::kPassed;
    *log += "=== " + plan.name + ": " + Utf8FromWide(command.c_str()) + "\n" + run.output +
            "=== " + plan.name + ": " + OutcomeName(part.outcome) +
            (passed ? "" : " " + part.reason) + took + "\n\n";
    if (verdict.outcome == Outcome::kPassed && (!passed || !part.reason.empty())) verdict = part;
    if (!passed) break;  // one failing batch of sessions is the verdict
  }
  return verdict;
}

// The report is printed and kept for its file.
void Report(std::string* report, const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));
void Report(std::string* report, const char* format, ...) {
  char text[2048];
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  Print("%s", text);
  *report += text;
}

// The log, then the report naming both files where the platform put them,
// each path said only once its file is written, and the summary. False
// when the report could not be written.
bool SaveFiles(const OutputFiles& files, const std::string& log, const std::string& summary,
               const std::string& report) {
  std::string tail;
  OutputFile logFile = OpenOutputFile(files.log);
  if (FinishOutputFile(&logFile, log)) {
    tail += "Full log of every check: " + Utf8FromWide(logFile.where.c_str()) + "\n";
  } else {
    PrintError("standin_host: could not write the log to %s (Windows error %lu)\n",
               Utf8FromWide(files.log.c_str()).c_str(), logFile.error);
  }
  bool written = true;
  if (!files.report.empty()) {
    OutputFile reportFile = OpenOutputFile(files.report);
    std::string named = "Report: " + Utf8FromWide(reportFile.where.c_str()) + "\n";
    written = FinishOutputFile(&reportFile,
                               kUtf8ByteOrderMark + WithCrLf(report + tail + named + summary));
    tail += written ? named
                    : "The report could not be written to " + Utf8FromWide(files.report.c_str()) +
                          " (Windows error " + std::to_string(reportFile.error) +
                          "): what is printed here is all of it\n";
  }
  Print("%s%s", tail.c_str(), summary.c_str());
  return written;
}

}  // namespace

int RunValidator(const Options& options) {
  uint32_t seed = options.seed;
  std::vector<PlannedCheck> plans;
  std::string error;
  if (!PlanChecks(options, seed, &plans, &error)) {
    PrintError("standin_host: %s\n", error.c_str());
    return 2;
  }
  std::wstring plugin = FullPath(options.pluginPath);
  if (GetFileAttributesW(plugin.c_str()) == INVALID_FILE_ATTRIBUTES) {
    PrintError("standin_host: no plug-in file at %s\n", Utf8FromWide(plugin.c_str()).c_str());
    return 2;
  }
  std::string fallbackNote;
  OutputFiles files = ChooseOutputFiles(options, &fallbackNote);
  std::vector<std::string> deadRuns = StartWatch(files);
  HandleInterruptions();
  std::string report;
  Report(&report, "Validating %s\n", Utf8FromWide(plugin.c_str()).c_str());
  Report(&report, "Seed %u, %d random user sessions (repeat with --seed %u)\n", seed,
         options.sessions, seed);
  if (!fallbackNote.empty()) Report(&report, "%s\n", fallbackNote.c_str());
  Report(&report, "Host memory: %s\n",
         options.plainHeap ? "the process heap (--heap plain)"
                           : "page heap (--heap plain for the process heap)");
  // The run's folder is named for its process, so the report, which a
  // package keeps, names only where it is.
  Report(&report,
         "Settings file: %s (only watched: the checks use private copies under %%TEMP%%)\n",
         Utf8FromWide(WatchedFile().c_str()).c_str());
  for (const std::string& line : deadRuns) Report(&report, "%s\n", line.c_str());
  Report(&report, "%s\n", OpenRunDesktop(options.showDialogs).c_str());
  std::string log;
  int passed = 0;
  int failed = 0;
  int notJudged = 0;
  for (const PlannedCheck& plan : plans) {
    std::string notes;
    Verdict verdict = RunPlannedCheck(plan, options, plugin, &log, &notes);
    if (!notes.empty()) Report(&report, "%s", notes.c_str());
    if (verdict.outcome == Outcome::kPassed) {
      ++passed;
      Report(&report, "PASS %s%s%s\n", plan.name.c_str(), verdict.reason.empty() ? "" : " (note: ",
             verdict.reason.empty() ? "" : (verdict.reason + ")").c_str());
    } else if (verdict.outcome == Outcome::kFailed) {
      ++failed;
      Report(&report, "FAIL %s: %s\n", plan.name.c_str(), verdict.reason.c_str());
    } else {
      ++notJudged;
      Report(&report, "NOT JUDGED %s: could not be judged here: %s\n", plan.name.c_str(),
             verdict.reason.c_str());
    }
    if (!ChildrenRefused().empty()) break;
  }
  CloseRunDesktop();
  if (!ChildrenRefused().empty()) Report(&report, "STOPPED: no further check ran\n");
  std::string summary = std::to_string(passed) + " passed, " + std::to_string(failed) + " failed";
  if (notJudged > 0) summary += ", " + std::to_string(notJudged) + " could not be judged here";
  bool saved = SaveFiles(files, log, summary + "\n", report);
  if (failed > 0) return 1;
  return saved && notJudged == 0 ? 0 : 2;
}
