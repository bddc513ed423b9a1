#include "standin_host/checks.h"

#include "standin_host/check_conditions.h"
#include "standin_host/check_dialog.h"
#include "standin_host/check_module.h"
#include "standin_host/check_settings_file.h"
#include "standin_host/console.h"

namespace {

const CheckInfo kChecks[] = {
    {"file", 60, CheckFile},
    {"repeated-load", 300, CheckRepeatedLoad},
    {"second-copy", 120, CheckSecondCopy},
    {"ending-ok", 120, CheckEndingOk},
    {"ending-enter", 120, CheckEndingEnter},
    {"ending-cancel", 120, CheckEndingCancel},
    {"ending-escape", 120, CheckEndingEscape},
    {"ending-close-box", 120, CheckEndingCloseBox},
    {"settings-file-touched-only-by-ok", 120, CheckTouchedOnlyByOk},
    {"shown-is-stored", 120, CheckShownIsStored},
    {"worker-threads", 120, CheckWorkerThreads},
    {"foreign-resource-scope", 120, CheckForeignResourceScope},
    {"allocation-refused", 300, CheckAllocationRefused},
    {"settings-file-refuses-write", 120, CheckRefusedWrite},
};

}  // namespace

const CheckInfo* AllChecks(size_t* count) {
  *count = sizeof kChecks / sizeof kChecks[0];
  return kChecks;
}

int RunCheck(const Options& options) {
  std::string name = Utf8FromWide(options.check.c_str());
  for (const CheckInfo& check : kChecks) {
    if (name != check.name) continue;
    Print("Check %s on %s\n", check.name, Utf8FromWide(options.pluginPath.c_str()).c_str());
    bool passed = check.run(options);
    Print("Check %s: %s\n", check.name, passed ? "passed" : "failed");
    return passed ? 0 : 1;
  }
  PrintError("standin_host: no check named %s\n", name.c_str());
  return 2;
}
