#include "standin_host/validator/checks.h"

#include "standin_host/console.h"
#include "standin_host/validator/check_conditions.h"
#include "standin_host/validator/check_dialog.h"
#include "standin_host/validator/check_module.h"
#include "standin_host/validator/check_settings_file.h"
#include "standin_host/validator/check_stored_values.h"

namespace {

const CheckInfo kChecks[] = {
    {"file", 60, CheckFile},
    {"repeated-load", 120, CheckRepeatedLoad},
    {"second-copy", 60, CheckSecondCopy},
    {"ending-ok", 60, CheckEndingOk},
    {"ending-enter", 60, CheckEndingEnter},
    {"ending-cancel", 60, CheckEndingCancel},
    {"ending-escape", 60, CheckEndingEscape},
    {"ending-close-box", 60, CheckEndingCloseBox},
    {"settings-file-touched-only-by-ok", 60, CheckTouchedOnlyByOk},
    {"shown-is-stored", 60, CheckShownIsStored},
    // Loads a copy of the plug-in for each of its starting files.
    {"stored-values", 120, CheckStoredValues},
    {"worker-threads", 60, CheckWorkerThreads},
    {"foreign-resource-scope", 60, CheckForeignResourceScope},
    {"allocation-refused", 120, CheckAllocationRefused},
    {"settings-file-refuses-write", 60, CheckRefusedWrite},
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
