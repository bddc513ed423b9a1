#include "standin_host/tools/bench.h"

#include <psapi.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "host/dialog_ids.h"
#include "host/plugin_interfaces.h"
#include "standin_host/system/console.h"
#include "standin_host/user/dialog_timing.h"

namespace {

LONGLONG Now() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

double Milliseconds(LONGLONG ticks) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(ticks) / static_cast<double>(frequency.QuadPart);
}

// The report of the repeated runs themselves is silenced; these lines are not.
void Say(const char* format, const char* text) {
  SetReportQuiet(false);
  Print(format, text);
  SetReportQuiet(true);
}

struct Quiet {
  explicit Quiet(Session* session) : runner(&session->host.dialogRunner) {
    SetReportQuiet(true);
    runner->cancelWhenReady = true;
  }
  ~Quiet() {
    runner->cancelWhenReady = false;
    SetReportQuiet(false);
  }
  DialogRunner* runner;
};

INT_PTR CALLBACK TrivialDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    EndDialog(dialog, LOWORD(wParam));
    return TRUE;
  }
  return FALSE;
}

const RegistryEntry* ToolEntry(Session* session) {
  for (const auto& entry : session->host.registry.entries) {
    if (SameGuid(entry->interfaceId, IID_ToolInterface)) return entry.get();
  }
  return nullptr;
}

struct Timing {
  std::vector<double> ready;     // from the call until WM_INITDIALOG returned
  std::vector<double> returned;  // from the call until it returned
};

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  size_t index =
      static_cast<size_t>(std::lround(fraction * static_cast<double>(values.size() - 1)));
  return values[index];
}

void PrintTiming(const char* name, const Timing& timing) {
  Print("  %-28s ready: median %7.2f ms  min %7.2f  p90 %7.2f   returned: median %7.2f ms\n", name,
        Percentile(timing.ready, 0.5), Percentile(timing.ready, 0), Percentile(timing.ready, 0.9),
        Percentile(timing.returned, 0.5));
}

// One Invoke of the tool, timed; false when the dialog never became ready.
bool TimeInvoke(Session* session, const RegistryEntry& entry, Timing* timing) {
  Instance* instance = nullptr;
  void* object = nullptr;
  if (!OpenInterface(session, entry.classId, entry.interfaceId, &instance, &object)) return false;
  ResetDialogReady();
  LONGLONG start = Now();
  InvokeTool(session, object);
  LONGLONG end = Now();
  LONGLONG ready = DialogReadyAt();
  CloseInterface(session, instance, object, entry.interfaceId);
  if (ready == 0) return false;
  timing->ready.push_back(Milliseconds(ready - start));
  timing->returned.push_back(Milliseconds(end - start));
  return true;
}

bool TimeBareDialog(HINSTANCE instance, Timing* timing) {
  ResetDialogReady();
  LONGLONG start = Now();
  INT_PTR result =
      DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_SETTINGS), nullptr, TrivialDialogProc, 0);
  LONGLONG end = Now();
  LONGLONG ready = DialogReadyAt();
  if (result == -1 || ready == 0) return false;
  timing->ready.push_back(Milliseconds(ready - start));
  timing->returned.push_back(Milliseconds(end - start));
  return true;
}

struct Sample {
  int cycle;
  double seconds;
  uint32_t requests;
  size_t liveBlocks;
  int32_t liveInstances;
  int32_t instanceReferences;
  Status canUnload;
  SIZE_T privateUsage;
  SIZE_T workingSet;
  SIZE_T committedPrivate;  // VirtualQuery: committed private pages
  SIZE_T heapBytes;         // busy blocks of all the process's heaps
  SIZE_T heapBlocks;
};

SIZE_T CommittedPrivateBytes() {
  SIZE_T total = 0;
  MEMORY_BASIC_INFORMATION region;
  const char* address = nullptr;
  while (VirtualQuery(address, &region, sizeof region) == sizeof region) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
    const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
    if (next <= address) break;
    address = next;
  }
  return total;
}

// Busy blocks of every heap of the process: the platform's, the C runtime's
// and the host's own allocations alike.
void HeapsInUse(SIZE_T* bytes, SIZE_T* blocks) {
  *bytes = *blocks = 0;
  HANDLE heaps[64];
  DWORD count = GetProcessHeaps(64, heaps);
  if (count > 64) count = 64;
  for (DWORD i = 0; i < count; ++i) {
    if (!HeapLock(heaps[i])) continue;
    PROCESS_HEAP_ENTRY entry = {};
    while (HeapWalk(heaps[i], &entry)) {
      if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) == 0) continue;
      *bytes += entry.cbData;
      ++*blocks;
    }
    HeapUnlock(heaps[i]);
  }
}

Sample TakeSample(Session* session, int cycle, LONGLONG start) {
  const HostServices& host = session->host;
  Sample sample = {};
  sample.cycle = cycle;
  sample.seconds = Milliseconds(Now() - start) / 1000.0;
  sample.requests = host.allocator.requests;
  sample.liveBlocks = host.allocator.live.size();
  sample.liveInstances = host.instances.live;
  sample.instanceReferences = host.instances.references;
  sample.canUnload = session->exports.canUnloadNow();
  PROCESS_MEMORY_COUNTERS_EX counters = {};
  counters.cb = sizeof counters;
  if (GetProcessMemoryInfo(GetCurrentProcess(),
                           reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                           sizeof counters)) {
    sample.privateUsage = counters.PrivateUsage;
    sample.workingSet = counters.WorkingSetSize;
  }
  sample.committedPrivate = CommittedPrivateBytes();
  HeapsInUse(&sample.heapBytes, &sample.heapBlocks);
  return sample;
}

bool IsSampleCycle(int cycle, int cycles) {
  static const int kSamples[] = {1, 10, 100, 1000, 2000, 5000, 10000, 20000, 50000, 100000};
  if (cycle == cycles) return true;
  for (int sample : kSamples) {
    if (cycle == sample) return true;
  }
  return false;
}

double KiB(SIZE_T bytes) { return static_cast<double>(bytes) / 1024.0; }

// Prints the figure's growth; true when it stayed within 1% (flat).
bool PrintGrowth(const char* name, SIZE_T from, SIZE_T to, int cycles) {
  double growth = static_cast<double>(to) - static_cast<double>(from);
  Print("  %-34s %10.1f KiB -> %10.1f KiB  ratio %.4f  growth %+.0f bytes (%+.3f bytes/cycle)\n",
        name, KiB(from), KiB(to), from != 0 ? static_cast<double>(to) / from : 0.0, growth,
        cycles > 0 ? growth / cycles : 0.0);
  return growth <= 0.01 * static_cast<double>(from);
}

}  // namespace

void MeasureDialogOpening(Session* session, int runs) {
  Print("Dialog opening: %d runs of each, alternating, in one process\n", runs);
  Quiet quiet(session);
  if (!StartDialogWatch(true)) {
    ReportProblem(&session->host.problemList, "cannot watch dialogs (error %lu)", GetLastError());
    return;
  }
  // The first road registers the tool and warms both paths up.
  RunRoad(session);
  const RegistryEntry* entry = ToolEntry(session);
  HINSTANCE instance = session->plugin;
  Timing invoke;
  Timing bare;
  if (entry == nullptr) {
    ReportProblem(&session->host.problemList, "no tool was registered; nothing to time");
  } else {
    Timing warmUp;
    TimeBareDialog(instance, &warmUp);
    for (int run = 0; run < runs && session->host.problemList.problems == 0; ++run) {
      if (!TimeInvoke(session, *entry, &invoke)) {
        ReportProblem(&session->host.problemList, "Invoke run %d: the dialog never became ready",
                      run);
      }
      if (!TimeBareDialog(instance, &bare)) {
        ReportProblem(&session->host.problemList,
                      "bare dialog run %d: it could not be created or never became ready", run);
      }
    }
  }
  StopDialogWatch();
  ForgetLastRun(&session->host);
  SetReportQuiet(false);
  if (invoke.ready.empty() || bare.ready.empty()) return;
  PrintTiming("Invoke (the plug-in's road)", invoke);
  PrintTiming("bare DialogBoxParamW", bare);
  double invokeMedian = Percentile(invoke.ready, 0.5);
  double bareMedian = Percentile(bare.ready, 0.5);
  Print("  Ratio of medians, Invoke to ready / bare dialog to ready: %.3f (%+.2f ms)\n",
        bareMedian > 0 ? invokeMedian / bareMedian : 0.0, invokeMedian - bareMedian);
}

void RunCycles(Session* session, int cycles) {
  Print("Cycles: %d whole roads in one process, each dialog cancelled once ready\n", cycles);
  std::vector<Sample> samples;
  {
    Quiet quiet(session);
    LONGLONG start = Now();
    int problemsBefore = session->host.problemList.problems;
    for (int cycle = 1; cycle <= cycles; ++cycle) {
      RunRoad(session);
      ForgetLastRun(&session->host);
      Status canUnload = session->exports.canUnloadNow();
      if (canUnload != STATUS_OK) {
        ReportProblem(&session->host.problemList, "cycle %d: DllCanUnloadNow answered 0x%08X",
                      cycle, canUnload);
      }
      Balanced(&session->host);
      if (session->host.problemList.hostCausedFailures != 0) {
        ReportProblem(&session->host.problemList, "cycle %d: a call failed", cycle);
      }
      if (session->host.problemList.problems != problemsBefore) {
        std::string text = std::to_string(cycle);
        Say("  Stopped at cycle %s: it left something behind\n", text.c_str());
        break;
      }
      if (IsSampleCycle(cycle, cycles)) samples.push_back(TakeSample(session, cycle, start));
    }
  }
  if (samples.empty()) return;
  // live: blocks from the HostAllocator not freed; instances and references:
  // class instances alive and references on them; unload: DllCanUnloadNow.
  Print("  %6s %8s %8s %5s %9s %10s %6s %11s %11s %13s %10s %11s\n", "cycle", "seconds", "requests",
        "live", "instances", "references", "unload", "private KiB", "working KiB", "committed KiB",
        "heap KiB", "heap blocks");
  for (const Sample& sample : samples) {
    Print("  %6d %8.1f %8u %5u %9d %10d %6s %11.0f %11.0f %13.0f %10.1f %11u\n", sample.cycle,
          sample.seconds, sample.requests, static_cast<unsigned>(sample.liveBlocks),
          static_cast<int>(sample.liveInstances), static_cast<int>(sample.instanceReferences),
          sample.canUnload == STATUS_OK ? "yes" : "NO", KiB(sample.privateUsage),
          KiB(sample.workingSet), KiB(sample.committedPrivate), KiB(sample.heapBytes),
          static_cast<unsigned>(sample.heapBlocks));
  }
  const Sample& last = samples.back();
  Print("  Per cycle: %.2f ms; allocation requests per cycle: %.2f\n",
        1000.0 * last.seconds / last.cycle, static_cast<double>(last.requests) / last.cycle);
  // Growth is measured from the last sample up to cycle 1000 before the end.
  const Sample* base = &samples.front();
  for (const Sample& sample : samples) {
    if (sample.cycle <= 1000 && sample.cycle < last.cycle) base = &sample;
  }
  int span = last.cycle - base->cycle;
  Print("  From cycle %d to cycle %d:\n", base->cycle, last.cycle);
  bool flat = true;
  if (last.privateUsage != 0) {
    flat &= PrintGrowth("private usage (GetProcessMemoryInfo)", base->privateUsage,
                        last.privateUsage, span);
  } else {
    Print("  %-34s not reported by this platform (0)\n", "private usage (GetProcessMemoryInfo)");
  }
  // The working set is the resident size of the whole process, and under
  // emulation of the emulator too: it can step up once (a huge page, more
  // translated code) without anything leaking. A leak keeps it rising, so it
  // is judged over the second half of the series.
  PrintGrowth("working set (GetProcessMemoryInfo)", base->workingSet, last.workingSet, span);
  const Sample* middle = base;
  for (const Sample& sample : samples) {
    if (sample.cycle <= last.cycle / 2 && sample.cycle > middle->cycle) middle = &sample;
  }
  if (middle != base) {
    std::string name = "  ... from cycle " + std::to_string(middle->cycle);
    flat &=
        PrintGrowth(name.c_str(), middle->workingSet, last.workingSet, last.cycle - middle->cycle);
  } else {
    flat &= last.workingSet <= base->workingSet + base->workingSet / 100;
  }
  flat &= PrintGrowth("committed private (VirtualQuery)", base->committedPrivate,
                      last.committedPrivate, span);
  flat &= PrintGrowth("heaps in use (HeapWalk)", base->heapBytes, last.heapBytes, span);
  Print("  %-34s %10u     -> %10u\n", "heap blocks in use", static_cast<unsigned>(base->heapBlocks),
        static_cast<unsigned>(last.heapBlocks));
  flat &= last.heapBlocks <= base->heapBlocks;
  // Every sampled cycle already ended with nothing live: a cycle that did not
  // stops the series. The first cycles still meet the platform's lazily made
  // objects, so growth is judged only from cycle 100 on.
  if (base->cycle < 100) {
    Print("  Verdict: not judged; growth counts from cycle 100 on\n");
  } else if (flat) {
    Print(
        "  Verdict: flat (memory within 1%%, the working set over the second half; no more heap "
        "blocks; nothing live at any sample)\n");
  } else {
    Print(
        "  Verdict: GROWING (a memory figure rose by more than 1%% or the heap holds more "
        "blocks)\n");
    ReportProblem(&session->host.problemList, "memory grew between cycles %d and %d in one process",
                  base->cycle, last.cycle);
  }
}
