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
    "                           how the dialog ends; without one the user ends it\n";

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

bool ParseOptions(int argc, wchar_t** argv, Options* options, std::string* error) {
  options->script.ending = DialogEnding::kWaitForUser;
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
  return true;
}
