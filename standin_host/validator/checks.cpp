#include "standin_host/validator/checks.h"

#include "standin_host/system/console.h"
#include "standin_host/system/progress.h"
#include "standin_host/validator/check_conditions.h"
#include "standin_host/validator/check_dialog.h"
#include "standin_host/validator/check_module.h"
#include "standin_host/validator/check_settings_file.h"
#include "standin_host/validator/check_stored_values.h"

namespace {

const CheckInfo kChecks[] = {
    {"file", CheckFile, nullptr},
    {"repeated-load", CheckRepeatedLoad, nullptr},
    {"second-copy", CheckSecondCopy, nullptr},
    {"ending-ok", CheckEndingOk, nullptr},
    {"ending-enter", CheckEndingEnter, nullptr},
    {"ending-cancel", CheckEndingCancel, nullptr},
    {"ending-escape", CheckEndingEscape, nullptr},
    {"ending-close-box", CheckEndingCloseBox, nullptr},
    {"settings-file-touched-only-by-ok", CheckTouchedOnlyByOk, nullptr},
    {"shown-is-stored", CheckShownIsStored, nullptr},
    {"stored-values", CheckStoredValues, nullptr},
    {"worker-threads", CheckWorkerThreads, nullptr},
    {"foreign-resource-scope", CheckForeignResourceScope, nullptr},
    {"allocation-refused", CheckAllocationRefused, nullptr},
    {"settings-file-refuses-write", CheckRefusedWrite, nullptr},
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
    ProgressStep("check %s", check.name);
    bool passed = check.run(options);
    Print("Check %s: %s\n", check.name, passed ? "passed" : "failed");
    return passed ? 0 : 1;
  }
  PrintError("standin_host: no check named %s\n", name.c_str());
  return 2;
}
