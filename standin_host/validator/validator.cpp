#include "standin_host/validator/validator.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <vector>

#include "standin_host/hosting/settings_file.h"
#include "standin_host/random_user/random_actor.h"
#include "standin_host/system/child_process.h"
#include "standin_host/system/console.h"
#include "standin_host/validator/checks.h"
#include "standin_host/validator/interruption.h"
#include "standin_host/validator/output_files.h"
#include "standin_host/validator/run_desktop.h"
#include "standin_host/validator/settings_watch.h"

namespace {

const char kRandomSessionsCheck[] = "random-user-sessions";
// Sessions per child process: a hang or crash costs one batch, not the run,
// and the default run's 200 make 8 batches, enough for the cores of the
// machines the kit runs on.
constexpr int kSessionsPerBatch = 25;
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
  bool alone;  // no other check runs beside it (checks.cpp says why)
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
  PlannedCheck plan = {kRandomSessionsCheck, {}, false};
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
    plans->push_back(
        PlannedCheck{checks[i].name, {ChildTask{arguments}}, checks[i].alone != nullptr});
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

// What one child process came to. Its log part, its verdict and the notes of
// the watch wait here until the report reaches its check.
struct TaskResult {
  enum State { kWaiting, kRunning, kDone, kNotRun } state;
  Verdict verdict;
  std::string log;
  std::vector<std::string> notes;
  bool rerunAlone;  // runs again with nothing beside it (RunAgainAlone)
};

// Every child of the run, in report order, shared by the slots that run them
// and the main thread that reports them; everything here under `lock`.
struct RunQueue {
  CRITICAL_SECTION lock;
  CONDITION_VARIABLE changed;  // a task started or ended
  const std::vector<PlannedCheck>* plans;
  std::vector<std::vector<TaskResult>> results;  // [plan][task]
  std::vector<std::pair<size_t, size_t>> order;  // (plan, task) as they start
  size_t next;
  int running;
  bool aloneRunning;
  int slotsLeft;  // slots that may still start a task
  int slots;
  const Options* options;
  std::wstring plugin;
};

// The person's settings file is looked at before and after every child
// process; a change there is told beside the check whose end found it.
TaskResult RunTask(const PlannedCheck& plan, const ChildTask& task, const RunQueue& queue,
                   int slot) {
  const Options& options = *queue.options;
  int limit = options.timeLimitSeconds > 0 ? options.timeLimitSeconds : kNoProgressLimitSeconds;
  std::wstring command =
      Quoted(OwnProgramPath()) + L" " + task.arguments + L" " + Quoted(queue.plugin);
  int ticket = WatchCheckStarting();
  DWORD started = GetTickCount();
  ChildRun run = RunChild(command, static_cast<DWORD>(limit) * 1000, RunDesktopName(slot));
  char took[32];  // where a slow machine's time goes, for whoever reads the log
  snprintf(took, sizeof took, " (%.1f s)", (GetTickCount() - started) / 1000.0);
  Verdict part = Judge(run, limit);
  WatchVerdict after = WatchCheckEnded(ticket, run.output, run.otherProcesses);
  if (after.kind == WatchVerdict::kPluginChanged) part = Verdict{Outcome::kFailed, after.line};
  if (after.kind == WatchVerdict::kCannotJudge) part = Verdict{Outcome::kNotJudged, after.line};
  bool passed = part.outcome == Outcome::kPassed;
  std::string log = "=== " + plan.name + ": " + Utf8FromWide(command.c_str()) + "\n" + run.output +
                    "=== " + plan.name + ": " + OutcomeName(part.outcome) +
                    (passed ? "" : " " + part.reason) + took + "\n\n";
  return TaskResult{TaskResult::kDone, part, log, after.notes, false};
}

// A batch after one that failed is not started: one failing batch of
// sessions is the verdict, whatever ran beside it.
bool EarlierTaskFailed(const std::vector<TaskResult>& tasks, size_t task) {
  for (size_t i = 0; i < task; ++i) {
    if (tasks[i].state == TaskResult::kDone && tasks[i].verdict.outcome != Outcome::kPassed) {
      return true;
    }
  }
  return false;
}

// Under the lock: the next task this slot may start, false when none will.
// A check that must run alone waits until nothing else runs, and nothing
// starts beside it.
bool TakeTask(RunQueue* queue, size_t* plan, size_t* task) {
  for (;;) {
    if (queue->next == queue->order.size() || !ChildrenRefused().empty()) return false;
    std::pair<size_t, size_t> at = queue->order[queue->next];
    TaskResult& result = queue->results[at.first][at.second];
    if (EarlierTaskFailed(queue->results[at.first], at.second)) {
      result.state = TaskResult::kNotRun;
      ++queue->next;
      continue;
    }
    bool alone = (*queue->plans)[at.first].alone || result.rerunAlone;
    if (queue->aloneRunning || (alone && queue->running > 0)) {
      SleepConditionVariableCS(&queue->changed, &queue->lock, INFINITE);
      continue;
    }
    ++queue->next;
    ++queue->running;
    queue->aloneRunning = alone;
    result.state = TaskResult::kRunning;
    *plan = at.first;
    *task = at.second;
    return true;
  }
}

struct Slot {
  RunQueue* queue;
  int number;
};

// Where the system gives all of the run's desktops one keyboard focus (Wine
// on an X display), a dialog opened by one check takes the activation from
// another check's dialog, and that check's session goes unjudged. Such a
// task runs once more, under the lock, at the end of the queue and with no
// other beside it; its verdict then stands, its log after the first run's.
// On Windows each desktop keeps its own focus and this never happens.
void RunAgainAlone(RunQueue* queue, size_t plan, size_t task, TaskResult* result) {
  const TaskResult& earlier = queue->results[plan][task];
  if (earlier.rerunAlone) {
    result->log = earlier.log + result->log;
    return;
  }
  if (queue->slots < 2 || result->verdict.outcome != Outcome::kNotJudged ||
      result->verdict.reason.find(kActivationTaken) == std::string::npos) {
    return;
  }
  result->state = TaskResult::kWaiting;
  result->rerunAlone = true;
  result->log += "=== " + (*queue->plans)[plan].name +
                 ": another check's dialog took the activation from this one's; run again with "
                 "no other check beside it\n\n";
  queue->order.emplace_back(plan, task);
}

DWORD WINAPI RunSlot(void* parameter) {
  Slot* slot = static_cast<Slot*>(parameter);
  RunQueue* queue = slot->queue;
  EnterCriticalSection(&queue->lock);
  size_t plan = 0;
  size_t task = 0;
  while (TakeTask(queue, &plan, &task)) {
    LeaveCriticalSection(&queue->lock);
    const PlannedCheck& planned = (*queue->plans)[plan];
    TaskResult result = RunTask(planned, planned.tasks[task], *queue, slot->number);
    EnterCriticalSection(&queue->lock);
    RunAgainAlone(queue, plan, task, &result);
    queue->results[plan][task] = result;
    --queue->running;
    queue->aloneRunning = false;
    WakeAllConditionVariable(&queue->changed);
  }
  // Once children are refused, what has not started never will.
  for (size_t i = queue->next; i < queue->order.size(); ++i) {
    std::pair<size_t, size_t> at = queue->order[i];
    if (queue->results[at.first][at.second].state == TaskResult::kWaiting) {
      queue->results[at.first][at.second].state = TaskResult::kNotRun;
    }
  }
  --queue->slotsLeft;
  WakeAllConditionVariable(&queue->changed);
  LeaveCriticalSection(&queue->lock);
  return 0;
}

// A check's verdict from its tasks in session order, as when they ran one
// after another: the first that failed, else the first note. False while it
// is not known yet; `never` when a task it needs will not run.
bool CheckVerdict(const std::vector<TaskResult>& tasks, Verdict* verdict, bool* never) {
  *verdict = Verdict{Outcome::kPassed, std::string()};
  *never = false;
  for (const TaskResult& task : tasks) {
    if (task.state == TaskResult::kNotRun) *never = true;
    if (task.state != TaskResult::kDone) return false;
    bool passed = task.verdict.outcome == Outcome::kPassed;
    if (verdict->outcome == Outcome::kPassed && (!passed || !task.verdict.reason.empty())) {
      *verdict = task.verdict;
    }
    if (!passed) return true;
  }
  return true;
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

void StartQueue(RunQueue* queue, const std::vector<PlannedCheck>& plans, const Options& options,
                const std::wstring& plugin) {
  InitializeCriticalSection(&queue->lock);
  InitializeConditionVariable(&queue->changed);
  queue->plans = &plans;
  for (size_t plan = 0; plan < plans.size(); ++plan) {
    TaskResult waiting = {
        TaskResult::kWaiting, Verdict{Outcome::kPassed, std::string()}, std::string(), {}, false};
    queue->results.emplace_back(plans[plan].tasks.size(), waiting);
    for (size_t task = 0; task < plans[plan].tasks.size(); ++task) {
      queue->order.emplace_back(plan, task);
    }
  }
  queue->next = 0;
  queue->running = 0;
  queue->aloneRunning = false;
  queue->slotsLeft = 0;
  queue->slots = 0;
  queue->options = &options;
  queue->plugin = plugin;
}

// One thread for each slot, never more than there are tasks; `records`
// outlives the threads.
std::vector<HANDLE> StartSlots(RunQueue* queue, int slots, std::vector<Slot>* records) {
  size_t count = static_cast<size_t>(slots);
  if (count > queue->order.size()) count = queue->order.size();
  records->assign(count, Slot{queue, 0});
  queue->slots = static_cast<int>(count);
  std::vector<HANDLE> threads;
  EnterCriticalSection(&queue->lock);
  for (size_t i = 0; i < count; ++i) {
    (*records)[i].number = static_cast<int>(i);
    HANDLE thread = CreateThread(nullptr, 0, RunSlot, &(*records)[i], 0, nullptr);
    if (thread == nullptr) break;
    threads.push_back(thread);
    ++queue->slotsLeft;
  }
  LeaveCriticalSection(&queue->lock);
  if (threads.empty() && count > 0) {  // no thread to be had: this one does it all
    ++queue->slotsLeft;
    RunSlot(&(*records)[0]);
  }
  return threads;
}

struct Tally {
  int passed;
  int failed;
  int notJudged;
};

void ReportCheck(const std::string& name, const Verdict& verdict,
                 const std::vector<TaskResult>& tasks, std::string* report, Tally* tally) {
  for (const TaskResult& task : tasks) {
    for (const std::string& note : task.notes) Report(report, "%s\n", note.c_str());
  }
  if (verdict.outcome == Outcome::kPassed) {
    ++tally->passed;
    Report(report, "PASS %s%s%s\n", name.c_str(), verdict.reason.empty() ? "" : " (note: ",
           verdict.reason.empty() ? "" : (verdict.reason + ")").c_str());
  } else if (verdict.outcome == Outcome::kFailed) {
    ++tally->failed;
    Report(report, "FAIL %s: %s\n", name.c_str(), verdict.reason.c_str());
  } else {
    ++tally->notJudged;
    Report(report, "NOT JUDGED %s: could not be judged here: %s\n", name.c_str(),
           verdict.reason.c_str());
  }
}

// Each check's line as soon as it and every check before it are known, so
// the report reads the same whatever ran side by side. A check whose tasks
// will not all run (children refused) has no line.
void ReportInOrder(RunQueue* queue, std::string* report, Tally* tally) {
  EnterCriticalSection(&queue->lock);
  size_t plan = 0;
  while (plan < queue->plans->size()) {
    Verdict verdict;
    bool never = false;
    if (CheckVerdict(queue->results[plan], &verdict, &never)) {
      std::vector<TaskResult> tasks = queue->results[plan];
      LeaveCriticalSection(&queue->lock);
      ReportCheck((*queue->plans)[plan].name, verdict, tasks, report, tally);
      EnterCriticalSection(&queue->lock);
      ++plan;
    } else if (never || queue->slotsLeft == 0) {
      ++plan;
    } else {
      SleepConditionVariableCS(&queue->changed, &queue->lock, INFINITE);
    }
  }
  LeaveCriticalSection(&queue->lock);
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
  int slots = options.jobs > 0 ? options.jobs : 1;
  Report(&report, "%s\n", OpenRunDesktops(options.showDialogs, &slots).c_str());
  RunQueue queue;
  StartQueue(&queue, plans, options, plugin);
  std::vector<Slot> slotRecords;
  std::vector<HANDLE> threads = StartSlots(&queue, slots, &slotRecords);
  Tally tally = {0, 0, 0};
  ReportInOrder(&queue, &report, &tally);
  for (HANDLE thread : threads) {
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
  CloseRunDesktops();
  std::string log;
  for (const std::vector<TaskResult>& tasks : queue.results) {
    for (const TaskResult& task : tasks) log += task.log;
  }
  if (!ChildrenRefused().empty()) Report(&report, "STOPPED: no further check ran\n");
  int passed = tally.passed;
  int failed = tally.failed;
  int notJudged = tally.notJudged;
  std::string summary = std::to_string(passed) + " passed, " + std::to_string(failed) + " failed";
  if (notJudged > 0) summary += ", " + std::to_string(notJudged) + " could not be judged here";
  bool saved = SaveFiles(files, log, summary + "\n", report);
  if (failed > 0) return 1;
  return saved && notJudged == 0 ? 0 : 2;
}
