#include "standin_host/hosting/services/service_object.h"

#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "standin_host/system/console.h"

namespace {

const char* const kServiceNames[] = {"class instance", "HostCallback",   "HostAllocator",
                                     "HostRegistry",   "HostDictionary", "HostDialogService"};

}  // namespace

void StopOnUnexpectedSlot(int kind, int slot) {
  PrintError("PROBLEM: the plug-in called slot %d of the %s, which this host does not offer\n",
             slot, kServiceNames[kind]);
  ExitProcess(1);
}

Status NoInterface(void** out) {
  *out = nullptr;
  return kHostNoInterface;
}

uint32_t CountRelease(int32_t* references, ProblemList* problemList, const char* what) {
  if (--*references < 0)
    ReportProblem(problemList, "the %s was released more often than referenced", what);
  return static_cast<uint32_t>(*references);
}

std::string FormatGuid(const Guid& guid) {
  char text[40];
  snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid.data1,
           guid.data2, guid.data3, guid.data4[0], guid.data4[1], guid.data4[2], guid.data4[3],
           guid.data4[4], guid.data4[5], guid.data4[6], guid.data4[7]);
  return text;
}

bool SameGuid(const Guid& a, const Guid& b) { return memcmp(&a, &b, sizeof a) == 0; }
