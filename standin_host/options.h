// The stand-in host's command line.
#pragma once

#include <string>

#include "standin_host/dialog_script.h"

struct Options {
  std::wstring pluginPath;
  DialogScript script;
};

extern const char kUsage[];

// False, with the reason in `error`, for a command line this host does not
// understand.
bool ParseOptions(int argc, wchar_t** argv, Options* options, std::string* error);
