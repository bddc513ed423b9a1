// The stand-in host: loads a plug-in and drives it from the outside, as the
// authoring host does, reporting what it sees. See session.h.
#include "standin_host/console.h"
#include "standin_host/options.h"
#include "standin_host/session.h"

int wmain(int argc, wchar_t** argv) {
  Options options;
  std::string error;
  if (!ParseOptions(argc, argv, &options, &error)) {
    PrintError("standin_host: %s\n%s", error.c_str(), kUsage);
    return kExitUsage;
  }
  return RunHost(options);
}
