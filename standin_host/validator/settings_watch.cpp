#include "standin_host/validator/settings_watch.h"

#include <string.h>
#include <windows.h>

#include "standin_host/hosting/settings_file.h"
#include "standin_host/system/child_process.h"
#include "standin_host/system/console.h"
#include "standin_host/validator/put_back.h"
#include "standin_host/validator/settings_snapshot.h"

namespace {

// A check between WatchCheckStarting and the return of WatchCheckEnded.
struct Ticket {
  int id;
  bool ended;
  bool arrived;         // its output is here (the interruption's last look waits for it)
  bool otherProcesses;  // or its output never reached the watch
  std::string output;
  WatchVerdict verdict;
};

// A change seen and not yet judged: from `before` to `after`, during the
// checks in `overlap`; `finder` is the check whose look found it (0: the
// interruption's).
struct Change {
  size_t file;
  Look before;
  Look after;
  std::vector<int> overlap;
  int finder;
};

struct Watch {
  CRITICAL_SECTION lock;
  CONDITION_VARIABLE decided;
  std::vector<Look> known;        // the files at the last look, changes included
  std::vector<std::string> fate;  // what the interruption's last look judged, per file
  std::vector<Ticket> tickets;
  std::vector<Change> pending;
  int nextTicket;
  std::wstring sideFolder;
  bool interrupted;
  bool wroteRealFile;
};

Watch& TheWatch() {
  static Watch* watch = [] {
    auto* made = new Watch();
    InitializeCriticalSection(&made->lock);
    InitializeConditionVariable(&made->decided);
    made->nextTicket = 1;
    return made;
  }();
  return *watch;
}

std::string Where(const std::wstring& path) { return Utf8FromWide(path.c_str()); }

[[noreturn]] void HoldForever() {
  for (;;) Sleep(INFINITE);
}

Ticket* FindTicket(Watch* watch, int id) {
  for (Ticket& ticket : watch->tickets) {
    if (ticket.id == id) return &ticket;
  }
  return nullptr;
}

// A path as a record may print it: the platform's long form and either slash.
std::wstring Plain(std::wstring path) {
  if (path.compare(0, 4, L"\\\\?\\") == 0) path.erase(0, 4);
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path;
}

// The Windows folder's file stands for its VirtualStore copy too: the
// platform sends a virtualised process's writes there.
bool RecordNames(const std::wstring& recorded, const std::wstring& file) {
  std::wstring windows = WindowsSettingsFilePath();
  if (lstrcmpiW(Plain(recorded).c_str(), Plain(file).c_str()) == 0) return true;
  return lstrcmpiW(Plain(recorded).c_str(), windows.c_str()) == 0 &&
         lstrcmpiW(file.c_str(), windows.c_str()) != 0;
}

// The text of the check's record of opening `file`, "" when it has none.
std::string RecordFor(const std::string& output, const std::wstring& file) {
  const size_t prefix = strlen(kRealFileOpened);
  for (size_t at = output.find(kRealFileOpened); at != std::string::npos;
       at = output.find(kRealFileOpened, at + 1)) {
    if (at != 0 && output[at - 1] != '\n') continue;
    size_t end = output.find_first_of("\r\n", at);
    std::string record =
        output.substr(at + prefix, end == std::string::npos ? end : end - at - prefix);
    size_t named = record.find(" for ");
    if (RecordNames(WideFromUtf8(record.substr(0, named).c_str()), file)) return record;
  }
  return std::string();
}

std::vector<int> Running(const Watch& watch) {
  std::vector<int> ids;
  for (const Ticket& ticket : watch.tickets) {
    if (!ticket.ended) ids.push_back(ticket.id);
  }
  return ids;
}

void PersistBaseline(Watch* watch) { WriteSnapshot(watch->known); }

// Looks at every file; a change is added to the one not yet judged for that
// file, if any, with the checks running now.
void LookAgain(Watch* watch, int finder) {
  for (size_t i = 0; i < watch->known.size(); ++i) {
    Look now = LookAt(watch->known[i].path);
    if (SameLook(watch->known[i], now)) continue;
    Look before = watch->known[i];
    watch->known[i] = now;
    Change* open = nullptr;
    for (Change& change : watch->pending) {
      if (change.file == i) open = &change;
    }
    if (open == nullptr) {
      watch->pending.push_back(Change{i, before, now, Running(*watch), finder});
      continue;
    }
    open->after = now;
    for (int id : Running(*watch)) open->overlap.push_back(id);
  }
}

// The plug-in's change outweighs one that cannot be told; the first of a
// kind stands.
void SetVerdict(Ticket* ticket, WatchVerdict::Kind kind, const std::string& line) {
  WatchVerdict::Kind now = ticket->verdict.kind;
  if (now == WatchVerdict::kPluginChanged || now == kind) return;
  ticket->verdict.kind = kind;
  ticket->verdict.line = line;
}

void AddNote(Watch* watch, int finder, const std::string& note) {
  Ticket* ticket = FindTicket(watch, finder);
  if (ticket != nullptr) ticket->verdict.notes.push_back(note);
}

// The plug-in's, by `by`'s record: that check fails and the file is put back.
void JudgePlugins(Watch* watch, const Change& change, Ticket* by, const std::string& record) {
  PutBack putBack = PutBackChange(change.before, change.after, watch->sideFolder);
  if (putBack.done) {
    watch->known[change.file] = change.before;
    watch->wroteRealFile = true;
  }
  std::string path = Where(change.after.path);
  SetVerdict(by, WatchVerdict::kPluginChanged,
             "the plug-in changed the real settings file " + path + " " + kUnredirectedRoad + " (" +
                 LookChange(change.before, change.after) + "; its record: " + record + ")" +
                 putBack.text);
  watch->fate[change.file] = "changed by the plug-in" + putBack.text;
}

void Judge(Watch* watch, const Change& change) {
  std::string path = Where(change.after.path);
  std::string what = LookChange(change.before, change.after);
  std::vector<Ticket*> starters;
  for (int id : change.overlap) {
    Ticket* ticket = FindTicket(watch, id);
    if (ticket == nullptr) continue;
    std::string record = RecordFor(ticket->output, change.after.path);
    if (!record.empty()) return JudgePlugins(watch, change, ticket, record);
    if (ticket->otherProcesses) starters.push_back(ticket);
  }
  PersistBaseline(watch);  // the file as it is now stands
  std::string unproven = "the real settings file " + path;
  unproven += " changed while this check ran (" + what;
  unproven +=
      "), and the plug-in had started other processes, which the host cannot follow, so whose "
      "change it was cannot be told; the file is left as it is, for it may be your own save";
  for (Ticket* ticket : starters) SetVerdict(ticket, WatchVerdict::kCannotJudge, unproven);
  if (!starters.empty()) {
    watch->fate[change.file] = "changed while a process the plug-in started ran; left as it is";
    return;
  }
  AddNote(watch, change.finder,
          "another program changed your settings file " + path + " (" + what +
              "); it is left as it is and no check is judged by it");
  watch->fate[change.file] = "changed by another program; left as it is";
}

bool AllEnded(Watch* watch, const Change& change) {
  for (int id : change.overlap) {
    Ticket* ticket = FindTicket(watch, id);
    if (ticket != nullptr && !ticket->ended) return false;
  }
  return true;
}

// Judges every change whose checks have all ended, once.
void JudgeReady(Watch* watch) {
  for (size_t i = 0; i < watch->pending.size();) {
    if (!AllEnded(watch, watch->pending[i])) {
      ++i;
      continue;
    }
    Change change = watch->pending[i];
    watch->pending.erase(watch->pending.begin() + static_cast<std::ptrdiff_t>(i));
    Judge(watch, change);
  }
  WakeAllConditionVariable(&watch->decided);
}

bool Waits(const Watch& watch, int id) {
  for (const Change& change : watch.pending) {
    if (change.finder == id) return true;
    for (int overlapping : change.overlap) {
      if (overlapping == id) return true;
    }
  }
  return false;
}

}  // namespace

std::vector<std::string> StartWatch(const OutputFiles& files) {
  Watch& watch = TheWatch();
  const std::wstring& beside = files.report.empty() ? files.log : files.report;
  watch.sideFolder = beside.substr(0, beside.find_last_of(L"\\/") + 1);
  std::vector<std::string> deadRuns = LookAtDeadRuns(watch.sideFolder);
  for (const std::wstring& path : RealSettingsFiles()) watch.known.push_back(LookAt(path));
  watch.fate.assign(watch.known.size(), std::string());
  PersistBaseline(&watch);
  return deadRuns;
}

std::wstring WatchedFile() { return WindowsSettingsFilePath(); }

int WatchCheckStarting() {
  Watch& watch = TheWatch();
  EnterCriticalSection(&watch.lock);
  if (watch.interrupted) {
    LeaveCriticalSection(&watch.lock);
    HoldForever();
  }
  int id = watch.nextTicket++;
  LookAgain(&watch, id);
  watch.tickets.push_back(Ticket{id, false, false, false, std::string(), WatchVerdict{}});
  JudgeReady(&watch);
  LeaveCriticalSection(&watch.lock);
  return id;
}

// The end is registered before any wait, so two checks that ran side by
// side never wait for each other.
WatchVerdict WatchCheckEnded(int ticket, const std::string& output, bool otherProcesses) {
  Watch& watch = TheWatch();
  EnterCriticalSection(&watch.lock);
  Ticket* own = FindTicket(&watch, ticket);
  own->output = output;
  own->otherProcesses = otherProcesses;
  own->arrived = true;
  // Interrupted, the check stays in flight for the last look.
  if (!watch.interrupted) {
    LookAgain(&watch, ticket);
    own->ended = true;
    JudgeReady(&watch);
  }
  while (!watch.interrupted && Waits(watch, ticket)) {
    SleepConditionVariableCS(&watch.decided, &watch.lock, INFINITE);
  }
  if (watch.interrupted) {
    WakeAllConditionVariable(&watch.decided);
    LeaveCriticalSection(&watch.lock);
    HoldForever();
  }
  WatchVerdict verdict = FindTicket(&watch, ticket)->verdict;
  for (auto at = watch.tickets.begin(); at != watch.tickets.end(); ++at) {
    if (at->id == ticket) {
      watch.tickets.erase(at);
      break;
    }
  }
  LeaveCriticalSection(&watch.lock);
  return verdict;
}

std::string WatchLastLook(unsigned long waitMs) {
  Watch& watch = TheWatch();
  EnterCriticalSection(&watch.lock);
  watch.interrupted = true;
  WakeAllConditionVariable(&watch.decided);
  LeaveCriticalSection(&watch.lock);
  // A check's process ends, then its thread hands over the output.
  DWORD started = GetTickCount();
  bool allArrived = false;
  while (!allArrived && GetTickCount() - started < waitMs) {
    EndChildProcesses();
    Sleep(50);
    EnterCriticalSection(&watch.lock);
    allArrived = true;
    for (const Ticket& ticket : watch.tickets) allArrived = allArrived && ticket.arrived;
    LeaveCriticalSection(&watch.lock);
  }
  EnterCriticalSection(&watch.lock);
  std::string lines;
  watch.fate.assign(watch.known.size(), std::string());
  LookAgain(&watch, 0);  // every check in flight ran beside what it finds
  for (Ticket& ticket : watch.tickets) {
    if (!ticket.arrived && !ticket.ended) {
      ticket.otherProcesses = true;  // nothing is known of it
      lines += "A check's output did not arrive in time: its last look had no record\n";
    }
    ticket.ended = true;
  }
  JudgeReady(&watch);
  for (size_t i = 0; i < watch.known.size(); ++i) {
    const std::string& fate = watch.fate[i];
    lines += "Last look at " + Where(watch.known[i].path) + ": " +
             (fate.empty() ? "untouched by the interrupted checks" : fate) + "\n";
  }
  LeaveCriticalSection(&watch.lock);
  return lines;
}

bool WatchWroteRealFile() {
  Watch& watch = TheWatch();
  EnterCriticalSection(&watch.lock);
  bool wrote = watch.wroteRealFile;
  LeaveCriticalSection(&watch.lock);
  return wrote;
}
