// The stand-in host's command line: its usage text and the parsing that
// fills the options record (records/options.h).
#pragma once

#include <string>

#include "standin_host/records/options.h"

extern const char kUsage[];

// False, with the reason in `error`, for a command line this host does not
// understand.
bool ParseOptions(int argc, wchar_t** argv, Options* options, std::string* error);
