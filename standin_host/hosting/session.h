// hosting/: the host itself: plug-in file, session's road, settings file, crash report, services/.
//
// One run of the host: load the plug-in, register its tools, run them, and
// check that everything the plug-in took was given back.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "standin_host/hosting/plugin_file.h"
#include "standin_host/hosting/services/host_services.h"
#include "standin_host/records/options.h"

enum ExitCode : int {
  kExitClean = 0,
  kExitProblems = 1,  // the plug-in misbehaved or left something unbalanced
  kExitUsage = 2,
  kExitNotPlugin = 3,  // the file is no loadable 32-bit plug-in with the five exports
  // Balanced, but a call failed cleanly the way the host made it fail: an
  // allocation refused by --fail-allocation, or Invoke reporting after OK
  // that the settings could not be saved.
  kExitHostCausedFailure = 4,
  // This computer kept the run from judging the plug-in: the dialog could
  // not take the user's input (a CANNOT JUDGE line says why).
  kExitNotJudged = 5,
};

struct ClassForm {
  Guid classId;
  uint32_t size;
  InstanceCreateHook createHook;
  InstanceDestroyHook destroyHook;
};

struct Session {
  HMODULE plugin;
  PluginExports exports;
  HostServices host;
  std::vector<ClassInfoRecord> records;
  std::vector<ClassForm> forms;
  uint32_t registrations;
  std::string phase;  // what the allocator names in its report
  // Run before every call into the plug-in when set: what a host does on its
  // other threads meanwhile.
  void (*beforePluginCall)();
  Status lastInvokeStatus;
  // Which of the process's private settings files the plug-in's calls are
  // bound to when the run redirects them (settings_redirect.h); 0 the first.
  int settingsCopy;
};

// The host's whole road once: class info, forms, registration, then each
// registered tool (GetEnabled, Invoke), releasing all it created. Skips what
// cannot be created.
void RunRoad(Session* session);
// The road's two halves, for a host that registers once and runs the tools
// many times: class info, forms and registration (false when the class-info
// table is unusable), then each registered tool.
bool RegisterAll(Session* session);
void RunTools(Session* session);
// The text of a registration entry's displayNameString, null when it has none.
const std::string* DisplayName(const RegistryEntry& entry);
// Calls DllCanUnloadNow, as the host does before unloading.
Status AskCanUnloadNow(Session* session);

// An instance of the class and the asked interface on it; false (with the
// instance destroyed again) when the plug-in refuses or the host's own
// allocation fails.
bool OpenInterface(Session* session, const Guid& classId, const Guid& iid, Instance** instance,
                   void** object);
// Releases the host's one reference on the interface and destroys the instance.
void CloseInterface(Session* session, Instance* instance, void* object, const Guid& iid);
// Calls Invoke and judges its status: a platform error after OK is the
// settings file refusing the write, a failure the host's environment caused;
// any other failure is the plug-in's.
Status InvokeTool(Session* session, void* object);

// Checks and loads the plug-in file, binds its exports and sets up the
// host's services in place; kExitClean when ready, else the exit code, with
// the reason printed.
int OpenSession(const Options& options, Session* session);
// Asks DllCanUnloadNow, checks that everything was given back, unloads the
// plug-in and returns the run's exit code.
int FinishSession(Session* session);
