#include "standin_host/command_line.h"

#include <wchar.h>
#include <windows.h>

#include "standin_host/system/console.h"

const char kUsage[] =
    "usage: standin_host [options] <plug-in file>\n"
    "  --set enabled=0|1        choices made in the settings dialog, in order,\n"
    "  --set bitRate=<kbit/s>   as a user would make them\n"
    "  --set quality=0|1        (0 high, 1 normal)\n"
    "  --set preprocessing=0|1\n"
    "  --capture <file.bmp>     save the dialog after the choices\n"
    "  --ok | --cancel | --enter | --escape | --close\n"
    "                           how the dialog ends; without one the user ends it\n"
    "  --fail-allocation <n>    refuse the n-th allocation request (1 is the first),\n"
    "                           the host's own and the plug-in's alike, as when memory\n"
    "                           runs out; the report numbers every request\n"
    "  --bench-open <runs>      time Invoke until the settings dialog is ready against\n"
    "                           a bare DialogBoxParamW of the same template, each run\n"
    "                           cancelled once ready; prints medians and their ratio\n"
    "  --cycles <n>             run the whole road n times in this process (class info,\n"
    "                           instances, interfaces, Register, Invoke cancelled once\n"
    "                           ready, release); prints live allocations, instance\n"
    "                           references and process memory at sample cycles\n"
    "  --random-sessions <n>    n seeded random user sessions instead of the road: a\n"
    "                           random starting settings file, random mouse and\n"
    "                           keyboard actions on the dialog, a random ending; the\n"
    "                           dialog's rules and the file are checked throughout\n"
    "  --first-session <k>      number of the first session (default 1), so that\n"
    "                           --first-session k --random-sessions 1 repeats session k\n"
    "  --validate               judge the plug-in: run every check, each in a process of\n"
    "                           its own, print PASS or FAIL for each and a summary; exit 0\n"
    "                           only when none failed\n"
    "  --sessions <n>           random user sessions --validate runs (default 200, 0: none)\n"
    "  --seed <n>               seed of the random parts, 0 to 4294967295 (default: a\n"
    "                           fresh one, printed)\n"
    "  --only <name,...>        the checks --validate runs (default: all)\n"
    "  --jobs <n>               how many checks --validate runs at the same time, each\n"
    "                           in a process of its own on a desktop of its own (default:\n"
    "                           one a core; 1 with --show-dialogs); the report is the\n"
    "                           same whatever the number\n"
    "  --log <file>             where --validate writes every check's full output\n"
    "  --report-folder <dir>    --validate also writes its report there, with the log,\n"
    "                           as validation-<computer>-<date>-<time>.txt and .log\n"
    "                           (under %TEMP% when <dir> refuses writes)\n"
    "  --default-plugin <file>  the plug-in file to judge when no other is given (the\n"
    "                           validator kit names its own package's file this way)\n"
    "  --time-limit <s>         how long a check may go without a step before it counts\n"
    "                           as hung (default: 60 s); a slow desktop only makes the\n"
    "                           steps slower\n"
    "  --show-dialogs           --validate shows the checks' dialogs on your desktop, to\n"
    "                           watch them; without it they open on a desktop of the\n"
    "                           run's own, out of your way; with it, a window of yours\n"
    "                           that takes the focus can turn a check NOT JUDGED\n"
    "  --check <name>           run one check in this process (what --validate starts)\n"
    "  --progress               with --check and --random-sessions: print a STEP line at\n"
    "                           each step, which --validate watches\n"
    "  --heap page|plain        the memory handed to the plug-in: page (default) ends\n"
    "                           every block, 8-byte aligned, just before an inaccessible\n"
    "                           page, checks the bytes between at Free, and never reuses\n"
    "                           freed pages, so a use after Free or a write past a block\n"
    "                           is caught where it happens; plain is the process heap\n"
    "                           (the default with --bench-open and --cycles, which measure)\n"
    "  --ledger <file>          run a fixed road (each dialog ending, then each allocation\n"
    "                           request refused in turn) from a fixed settings file and\n"
    "                           write every call between host and plug-in there, one a\n"
    "                           line, addresses masked\n"
    "  --compare-ledgers <plug-in file> <plug-in file>\n"
    "                           write both files' ledgers and name the first line that\n"
    "                           differs; exit 0 when they are the same, 1 when not\n"
    "exit status:\n"
    "  0  clean: every call succeeded and everything taken was given back\n"
    "  1  problems: the plug-in misbehaved or left something behind (PROBLEM lines\n"
    "     on standard error)\n"
    "  2  the command line is wrong\n"
    "  3  the file is not a loadable 32-bit plug-in with the five exports\n"
    "  4  balanced, but a call failed cleanly the way the host made it fail: the\n"
    "     allocation refused by --fail-allocation, or Invoke reporting after OK that\n"
    "     the settings file could not be written (its status is printed)\n"
    "  5  --random-sessions: the user's input could not reach the dialog on this\n"
    "     computer, so nothing was judged (a CANNOT JUDGE line says why)\n";

namespace {

struct EndingOption {
  const wchar_t* name;
  DialogEnding ending;
};
const EndingOption kEndings[] = {
    {L"--ok", DialogEnding::kOk},          {L"--cancel", DialogEnding::kCancel},
    {L"--enter", DialogEnding::kEnter},    {L"--escape", DialogEnding::kEscape},
    {L"--close", DialogEnding::kCloseBox},
};

struct FieldOption {
  const wchar_t* name;
  DialogField field;
  bool flag;  // only 0 or 1
};
const FieldOption kFieldOptions[] = {
    {L"enabled", DialogField::kEnabled, true},
    {L"bitRate", DialogField::kBitRate, false},
    {L"quality", DialogField::kQuality, true},
    {L"preprocessing", DialogField::kPreprocessing, true},
};

bool ParseChoice(const std::wstring& text, DialogChoice* choice, std::string* error) {
  size_t equals = text.find(L'=');
  std::wstring name = text.substr(0, equals);
  for (const FieldOption& option : kFieldOptions) {
    if (name != option.name) continue;
    if (equals == std::wstring::npos || equals + 1 == text.size()) break;
    const wchar_t* digits = text.c_str() + equals + 1;
    wchar_t* end = nullptr;
    long value = wcstol(digits, &end, 10);
    bool valid = *end == L'\0' && (option.flag ? (value == 0 || value == 1) : value > 0);
    if (!valid) {
      *error = "--set " + Utf8FromWide(text.c_str()) + ": " +
               (option.flag ? "the value must be 0 or 1" : "the value must be a positive number");
      return false;
    }
    *choice = DialogChoice{option.field, static_cast<int>(value)};
    return true;
  }
  *error = "--set " + Utf8FromWide(text.c_str()) +
           ": expected enabled=, bitRate=, quality= or preprocessing= with a value";
  return false;
}

// The validator's default: one check at a time for each core.
int CoreCount() {
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  return system.dwNumberOfProcessors > 0 ? static_cast<int>(system.dwNumberOfProcessors) : 1;
}

// Seeds of runs started close together differ widely.
uint32_t FreshSeed() {
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  uint32_t seed =
      static_cast<uint32_t>(counter.QuadPart) ^ (GetCurrentProcessId() << 16) ^ GetTickCount();
  seed ^= seed >> 16;
  seed *= 0x45D9F3Bu;
  return seed ^ (seed >> 16);
}

const wchar_t* const kValuedOptions[] = {
    L"--set",           L"--capture",        L"--fail-allocation",
    L"--bench-open",    L"--cycles",         L"--random-sessions",
    L"--first-session", L"--seed",           L"--sessions",
    L"--jobs",          L"--check",          L"--only",
    L"--log",           L"--report-folder",  L"--time-limit",
    L"--heap",          L"--default-plugin", L"--ledger"};

bool TakesValue(const std::wstring& argument) {
  for (const wchar_t* name : kValuedOptions) {
    if (argument == name) return true;
  }
  return false;
}

// A whole number from `low` to `high`.
bool ParseNumber(const std::wstring& name, const wchar_t* text, uint32_t low, uint32_t high,
                 uint32_t* value, std::string* error) {
  wchar_t* end = nullptr;
  unsigned long long number = wcstoull(text, &end, 10);
  if (*text < L'0' || *text > L'9' || *end != L'\0' || number < low || number > high) {
    *error = Utf8FromWide(name.c_str()) + " " + Utf8FromWide(text) +
             ": expected a whole number from " + std::to_string(low) + " to " +
             std::to_string(high);
    return false;
  }
  *value = static_cast<uint32_t>(number);
  return true;
}

bool ParseValue(const std::wstring& name, const wchar_t* text, Options* options,
                std::string* error) {
  if (name == L"--set") {
    DialogChoice choice;
    if (!ParseChoice(text, &choice, error)) return false;
    options->script.choices.push_back(choice);
    return true;
  }
  if (name == L"--heap") {
    std::wstring kind = text;
    if (kind != L"page" && kind != L"plain") {
      *error = "--heap " + Utf8FromWide(text) + ": expected page or plain";
      return false;
    }
    options->plainHeap = kind == L"plain";
    options->heapGiven = true;
    return true;
  }
  if (name == L"--capture" || name == L"--check" || name == L"--only" || name == L"--log" ||
      name == L"--report-folder" || name == L"--default-plugin" || name == L"--ledger") {
    if (name == L"--ledger") options->callRecordPath = text;
    if (name == L"--capture") options->script.capturePath = text;
    if (name == L"--check") options->check = text;
    if (name == L"--only") options->only = text;
    if (name == L"--log") options->logPath = text;
    if (name == L"--report-folder") options->reportFolder = text;
    if (name == L"--default-plugin") options->defaultPluginPath = text;
    return true;
  }
  bool fromZero = name == L"--seed" || name == L"--sessions";
  uint32_t high = name == L"--seed" ? 0xFFFFFFFFu : name == L"--jobs" ? 64 : 1000000;
  uint32_t value = 0;
  if (!ParseNumber(name, text, fromZero ? 0 : 1, high, &value, error)) return false;
  int count = static_cast<int>(value);
  if (name == L"--fail-allocation") options->failAllocation = value;
  if (name == L"--bench-open") options->openRuns = count;
  if (name == L"--cycles") options->cycles = count;
  if (name == L"--random-sessions") options->randomSessions = count;
  if (name == L"--first-session") options->firstSession = count;
  if (name == L"--sessions") options->sessions = count;
  if (name == L"--jobs") options->jobs = count;
  if (name == L"--time-limit") options->timeLimitSeconds = count;
  if (name == L"--seed") {
    options->seed = value;
    options->seedGiven = true;
  }
  return true;
}

// Runs that act on the dialog on their own take no script of the user's.
bool CheckCombinations(const Options& options, bool endingGiven, std::string* error) {
  const DialogScript& script = options.script;
  bool scripted = endingGiven || !script.choices.empty() || !script.capturePath.empty();
  // Dialogs on one desktop take the foreground from each other.
  if (options.showDialogs && options.jobs > 1) {
    *error = "--show-dialogs runs one check at a time; give no --jobs above 1 with it";
    return false;
  }
  if (options.validate && !options.check.empty()) {
    *error = "give --validate or --check, not both";
    return false;
  }
  bool callRecordRun = !options.callRecordPath.empty() || options.compareCallRecords;
  if (callRecordRun && (!options.callRecordPath.empty() == options.compareCallRecords || scripted ||
                        options.failAllocation != 0 || options.openRuns > 0 || options.cycles > 0 ||
                        options.randomSessions > 0 || options.validate || !options.check.empty())) {
    *error =
        "--ledger and --compare-ledgers run a fixed road of their own; give only --heap with one";
    return false;
  }
  if (options.randomSessions > 0 &&
      (options.openRuns > 0 || options.cycles > 0 || scripted || options.failAllocation != 0)) {
    *error = "--random-sessions acts on the dialog itself; give no other run option with it";
    return false;
  }
  if ((options.openRuns > 0 || options.cycles > 0) && (scripted || options.failAllocation != 0)) {
    *error =
        "--bench-open and --cycles cancel every dialog once it is ready; give no --set, "
        "--capture, ending or --fail-allocation with them";
    return false;
  }
  return true;
}

}  // namespace

bool ParseOptions(int argc, wchar_t** argv, Options* options, std::string* error) {
  options->script.ending = DialogEnding::kWaitForUser;
  options->failAllocation = 0;
  options->openRuns = options->cycles = 0;
  options->randomSessions = 0;
  options->firstSession = 1;
  options->validate = options->seedGiven = false;
  options->compareCallRecords = false;
  options->plainHeap = options->heapGiven = false;
  options->sessions = 200;
  options->jobs = 0;
  options->timeLimitSeconds = 0;
  options->progress = options->showDialogs = false;
  options->seed = 0;
  bool endingGiven = false;
  for (int i = 1; i < argc; ++i) {
    std::wstring argument = argv[i];
    bool isEnding = false;
    for (const EndingOption& option : kEndings) {
      if (argument != option.name) continue;
      if (endingGiven) {
        *error = "give only one of --ok, --cancel, --enter, --escape, --close";
        return false;
      }
      options->script.ending = option.ending;
      endingGiven = isEnding = true;
    }
    if (isEnding) continue;
    if (argument == L"--validate" || argument == L"--compare-ledgers") {
      (argument == L"--validate" ? options->validate : options->compareCallRecords) = true;
      continue;
    }
    if (argument == L"--progress" || argument == L"--show-dialogs") {
      (argument == L"--progress" ? options->progress : options->showDialogs) = true;
      continue;
    }
    if (TakesValue(argument)) {
      if (i + 1 == argc) {
        *error = Utf8FromWide(argument.c_str()) + " needs a value";
        return false;
      }
      if (!ParseValue(argument, argv[++i], options, error)) return false;
      continue;
    }
    if (argument.size() > 1 && argument[0] == L'-') {
      *error = "unknown option " + Utf8FromWide(argument.c_str());
      return false;
    }
    if (!options->otherPluginPath.empty()) {
      *error = "give only one plug-in file, two with --compare-ledgers";
      return false;
    }
    (options->pluginPath.empty() ? options->pluginPath : options->otherPluginPath) = argument;
  }
  if (options->pluginPath.empty()) options->pluginPath = options->defaultPluginPath;
  if (options->pluginPath.empty()) {
    *error = "no plug-in file given";
    return false;
  }
  if (options->compareCallRecords != !options->otherPluginPath.empty()) {
    *error = options->compareCallRecords ? "--compare-ledgers needs two plug-in files"
                                         : "give only one plug-in file, two with --compare-ledgers";
    return false;
  }
  if (!options->seedGiven) options->seed = FreshSeed();
  if (!options->heapGiven) options->plainHeap = options->openRuns > 0 || options->cycles > 0;
  if (!CheckCombinations(*options, endingGiven, error)) return false;
  if (options->jobs == 0) options->jobs = options->showDialogs ? 1 : CoreCount();
  return true;
}
