// A crash in the plug-in reported as a problem, and the process ended with
// the exception's code, instead of the platform's crash handling: under Wine
// that starts a debugger which waits for ever, so a crash would look like a
// hang to whoever started the stand-in host.
#pragma once

#include <string>

// Says what a faulting address was to the host (a block it handed out, say),
// or gives an empty text.
typedef std::string (*AddressDescriber)(const void* address);

void ReportCrashesAsProblems(AddressDescriber describe);
