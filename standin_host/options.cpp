#include "standin_host/options.h"

#include <wchar.h>

#include "standin_host/console.h"

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
    "  --validate               judge the plug-in: run every check, each in a process of\n"
    "                           its own, print PASS or FAIL for each and a summary; exit 0\n"
    "                           only when none failed\n"
    "  --sessions <n>           random user sessions --validate runs (default 200, 0: none)\n"
    "  --seed <n>               seed of the random parts (default: a fresh one, printed)\n"
    "  --only <name,...>        the checks --validate runs (default: all)\n"
    "  --log <file>             where --validate writes every check's full output\n"
    "  --check <name>           run one check in this process (what --validate starts)\n"
    "exit status:\n"
    "  0  clean: every call succeeded and everything taken was given back\n"
    "  1  problems: the plug-in misbehaved or left something behind (PROBLEM lines\n"
    "     on standard error)\n"
    "  2  the command line is wrong\n"
    "  3  the file is not a loadable 32-bit plug-in with the five exports\n"
    "  4  balanced, but a call failed cleanly the way the host made it fail: the\n"
    "     allocation refused by --fail-allocation, or Invoke reporting after OK that\n"
    "     the settings file could not be written (its status is printed)\n";

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

}  // namespace

// A whole positive number, for the counting options.
bool ParseCount(const std::wstring& name, const wchar_t* text, long limit, long* count,
                std::string* error) {
  wchar_t* end = nullptr;
  long value = wcstol(text, &end, 10);
  if (*text == L'\0' || *end != L'\0' || value < 1 || value > limit) {
    *error = Utf8FromWide(name.c_str()) + " " + Utf8FromWide(text) +
             ": expected a whole number from 1 to " + std::to_string(limit);
    return false;
  }
  *count = value;
  return true;
}

// The validator's options; true when argv[*i] was one of them (or was wrong,
// with `error` set).
bool ParseValidatorOption(int argc, wchar_t** argv, int* i, Options* options, std::string* error) {
  std::wstring argument = argv[*i];
  if (argument == L"--validate") {
    options->validate = true;
    return true;
  }
  bool takesValue = argument == L"--check" || argument == L"--only" || argument == L"--log" ||
                    argument == L"--sessions" || argument == L"--seed";
  if (!takesValue) return false;
  if (*i + 1 == argc) {
    *error = Utf8FromWide(argument.c_str()) + " needs a value";
    return true;
  }
  const wchar_t* value = argv[++*i];
  if (argument == L"--check") options->check = value;
  if (argument == L"--only") options->only = value;
  if (argument == L"--log") options->logPath = value;
  wchar_t* end = nullptr;
  unsigned long long number = wcstoull(value, &end, 10);
  bool whole = *value >= L'0' && *value <= L'9' && *end == L'\0';
  if (argument == L"--sessions") {
    if (!whole || number > 1000000) *error = "--sessions: expected a whole number up to 1000000";
    options->sessions = static_cast<int>(number);
  }
  if (argument == L"--seed") {
    if (!whole || number > 0xFFFFFFFFull) *error = "--seed: expected a whole number below 2^32";
    options->seed = static_cast<uint32_t>(number);
    options->seedGiven = true;
  }
  return true;
}

bool ParseOptions(int argc, wchar_t** argv, Options* options, std::string* error) {
  options->script.ending = DialogEnding::kWaitForUser;
  options->failAllocation = 0;
  options->openRuns = options->cycles = 0;
  options->validate = options->seedGiven = false;
  options->sessions = 200;
  options->seed = 0;
  bool endingGiven = false;
  for (int i = 1; i < argc; ++i) {
    if (ParseValidatorOption(argc, argv, &i, options, error)) {
      if (!error->empty()) return false;
      continue;
    }
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
    if (argument == L"--fail-allocation" || argument == L"--bench-open" ||
        argument == L"--cycles") {
      if (i + 1 == argc) {
        *error = Utf8FromWide(argument.c_str()) + " needs a value";
        return false;
      }
      long count = 0;
      if (!ParseCount(argument, argv[++i], 1000000, &count, error)) return false;
      if (argument == L"--fail-allocation") {
        options->failAllocation = static_cast<uint32_t>(count);
      } else if (argument == L"--bench-open") {
        options->openRuns = static_cast<int>(count);
      } else {
        options->cycles = static_cast<int>(count);
      }
      continue;
    }
    if (argument == L"--set" || argument == L"--capture") {
      if (i + 1 == argc) {
        *error = Utf8FromWide(argument.c_str()) + " needs a value";
        return false;
      }
      std::wstring value = argv[++i];
      if (argument == L"--capture") {
        options->script.capturePath = value;
        continue;
      }
      DialogChoice choice;
      if (!ParseChoice(value, &choice, error)) return false;
      options->script.choices.push_back(choice);
      continue;
    }
    if (argument.size() > 1 && argument[0] == L'-') {
      *error = "unknown option " + Utf8FromWide(argument.c_str());
      return false;
    }
    if (!options->pluginPath.empty()) {
      *error = "give only one plug-in file";
      return false;
    }
    options->pluginPath = argument;
  }
  if (options->pluginPath.empty()) {
    *error = "no plug-in file given";
    return false;
  }
  if (options->validate && !options->check.empty()) {
    *error = "give --validate or --check, not both";
    return false;
  }
  bool repeated = options->openRuns > 0 || options->cycles > 0;
  const DialogScript& script = options->script;
  if (repeated && (endingGiven || !script.choices.empty() || !script.capturePath.empty() ||
                   options->failAllocation != 0)) {
    *error =
        "--bench-open and --cycles cancel every dialog once it is ready; give no --set, "
        "--capture, ending or --fail-allocation with them";
    return false;
  }
  return true;
}
