// Holds a Wine prefix's desktop open for a whole test run. Wine starts the
// desktop process (explorer.exe /desktop) from whichever program first needs
// a window, with that program's environment and standard error, and closes
// the desktop one second after its last user process has gone. A test run
// whose entries come and go would see the desktop started, closed and started
// again inside its entries: a desktop process holding CTest's pipe, and a
// program arriving while the desktop closes left with a desktop window that
// is about to be destroyed. This program, started before the entries with its
// streams on /dev/null, starts the desktop itself and stays its user until
// its server ends (`wineserver -k`), so no entry starts or loses it.
//   desktop_keeper <ready file>   writes the file once the desktop is up
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

// How long the desktop process may take to own the desktop window: a first
// start in a fresh prefix under an emulator takes tens of seconds.
constexpr DWORD kDesktopWaitMs = 180000;
constexpr DWORD kPollMs = 100;

LRESULT CALLBACK KeeperProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE || message == WM_QUERYENDSESSION) return 0;
  return DefWindowProcW(window, message, wParam, lParam);
}

// The process that owns the desktop window, 0 while none does (the desktop
// process is not up yet, or the server made the window itself).
DWORD DesktopOwner() {
  DWORD process = 0;
  GetWindowThreadProcessId(GetDesktopWindow(), &process);
  return process;
}

bool WriteText(const wchar_t* path, const std::string& text) {
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
            written == text.size();
  CloseHandle(file);
  return ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: desktop_keeper <ready file>\n");
    return 2;
  }
  // Asking for the desktop window starts the desktop process when there is
  // none; a hidden window of its own makes this process a user of the desktop.
  DWORD started = GetTickCount();
  DWORD owner = DesktopOwner();
  while ((owner == 0 || owner == GetCurrentProcessId()) &&
         GetTickCount() - started < kDesktopWaitMs) {
    Sleep(kPollMs);
    owner = DesktopOwner();
  }
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = KeeperProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"VelsttngDesktopKeeper";
  if (RegisterClassW(&windowClass) == 0 ||
      CreateWindowExW(0, windowClass.lpszClassName, L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                      windowClass.hInstance, nullptr) == nullptr) {
    fprintf(stderr, "desktop_keeper: no window (error %lu)\n", GetLastError());
    return 1;
  }
  char text[96];
  snprintf(text, sizeof text, "desktop owned by process %lu after %lu ms\n", owner,
           GetTickCount() - started);
  if (!WriteText(argv[1], owner != 0 ? text : "desktop window made by the server\n")) {
    fprintf(stderr, "desktop_keeper: cannot write the ready file (error %lu)\n", GetLastError());
    return 1;
  }
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  return 0;
}
