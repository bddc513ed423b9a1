#include "standin_host/user/dialog_timing.h"

#include "standin_host/user/dialog_driver.h"

namespace {

struct Watch {
  HHOOK hook;
  bool cancelWhenReady;
  LONGLONG readyAt;
};
thread_local Watch t_watch;

// Runs after a window procedure has returned from a sent message, so for
// WM_INITDIALOG the dialog's own initialisation is complete here.
LRESULT CALLBACK AfterWindowProc(int code, WPARAM wParam, LPARAM lParam) {
  const CWPRETSTRUCT* call = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
  if (code == HC_ACTION && call->message == WM_INITDIALOG) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    t_watch.readyAt = now.QuadPart;
    if (t_watch.cancelWhenReady) {
      // Posted, as a click is: handled by the modal loop once it runs.
      PostMessageW(call->hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(call->hwnd, IDCANCEL)));
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

bool StartDialogWatch(bool cancelWhenReady) {
  if (t_watch.hook != nullptr) StopDialogWatch();
  t_watch.cancelWhenReady = cancelWhenReady;
  t_watch.readyAt = 0;
  t_watch.hook =
      SetWindowsHookExW(WH_CALLWNDPROCRET, AfterWindowProc, nullptr, GetCurrentThreadId());
  return t_watch.hook != nullptr;
}

void StopDialogWatch() {
  if (t_watch.hook != nullptr) UnhookWindowsHookEx(t_watch.hook);
  t_watch = Watch{};
}

bool DialogWatchActive() { return t_watch.hook != nullptr; }

LONGLONG DialogReadyAt() { return t_watch.readyAt; }

void ResetDialogReady() { t_watch.readyAt = 0; }

INT_PTR RunDialogCancelledWhenReady(HINSTANCE instance, int dialogId, DLGPROC proc,
                                    ProblemList* problemList) {
  bool ownWatch = false;
  bool cancelled = t_watch.cancelWhenReady;
  if (DialogWatchActive()) {
    t_watch.cancelWhenReady = true;
  } else if (StartDialogWatch(true)) {
    ownWatch = true;
  } else {
    ReportProblem(problemList, "cannot watch dialog %d to cancel it (error %lu)", dialogId,
                  GetLastError());
    return -1;
  }
  INT_PTR result = RunDialog(instance, dialogId, proc, DialogCharset::kWide, nullptr, nullptr);
  DWORD error = GetLastError();
  if (ownWatch) {
    StopDialogWatch();
  } else {
    t_watch.cancelWhenReady = cancelled;
  }
  if (result == -1) {
    ReportProblem(problemList, "dialog %d could not be created (error %lu)", dialogId, error);
  }
  return result;
}
