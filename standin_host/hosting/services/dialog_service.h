// The HostDialogService: runs the plug-in's modal dialog the way the host
// does, scripted as a user would act (dialog_script.h), and checks that it is
// asked from inside the resource scope that yielded the instance handle.
#pragma once

#include <windows.h>

#include <vector>

#include "host/host_interfaces.h"
#include "standin_host/hosting/services/service_object.h"
#include "standin_host/user/dialog_driver.h"
#include "standin_host/user/scripted_dialog.h"

struct DialogRunner {
  ServiceObject<HostDialogService, DialogRunner> object;
  ProblemList* problemList;
  const DialogScript* script;
  // A dialog runs inside an open resource scope, which yields this module.
  const std::vector<uint32_t>* openScopes;
  HMODULE scopeModule;
  int32_t references;
  INT_PTR lastResult;
  DialogOutcome lastOutcome;
  // Repeated runs: no script, the dialog is cancelled as soon as its
  // WM_INITDIALOG has returned, and nothing is printed.
  bool cancelWhenReady;
  // When set, this acts on the dialog once it is ready instead of the script
  // (random user sessions); it must end the dialog.
  DialogReadyFn actor;
  void* actorContext;
};

void InitDialogRunner(DialogRunner* runner, ProblemList* problemList, const DialogScript* script,
                      const std::vector<uint32_t>* openScopes, HMODULE scopeModule);

// Hands the service out with one more reference, as a successful query does.
HostDialogService* ReferenceDialogService(DialogRunner* runner);
