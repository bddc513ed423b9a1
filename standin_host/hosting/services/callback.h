// The HostCallback: resource scopes, each opened and closed once with its
// own cookie, and the way to the dialog service.
#pragma once

#include <windows.h>

#include <vector>

#include "standin_host/hosting/services/dialog_service.h"

struct Callback {
  ServiceObject<HostCallback, Callback> object;
  ProblemList* problemList;
  HMODULE plugin;
  // What OpenResourceScope hands back: the plug-in, unless the host means
  // to hand back another module, as hosts that keep resources elsewhere do.
  HMODULE scopeYields;
  DialogRunner* dialogRunner;
  int32_t references;
  std::vector<uint32_t> openCookies;
  std::vector<uint32_t> closedCookies;
  uint32_t nextCookie;
  uint32_t scopesOpened;
};

void InitCallback(Callback* callback, ProblemList* problemList, HMODULE plugin,
                  DialogRunner* dialogRunner);
