// Another program on the user's desktop: a topmost window over the whole
// screen that counts every click, wheel turn and key reaching it. The
// validator runs beside it and must send it nothing.
//   bystander <folder> [<ms>]
//                        shows the window, writes <folder>/ready, and once
//                        <folder>/stop exists writes the count to
//                        <folder>/count and ends; with <ms>, it also takes
//                        the foreground and the keyboard focus every <ms>,
//                        as a person clicking into their editor does, and
//                        keeps in <folder>/lost how often a window of
//                        another process took the foreground from it, by
//                        program and window class (no file: never)
//   bystander --poke     clicks whatever window the desktop shows at the
//                        screen's centre, as input aimed by what is on the
//                        screen would; the test's proof that the bystander
//                        covers the screen and counts
#include <windows.h>

#include <map>
#include <string>

namespace {

const wchar_t kClass[] = L"ValidatorBystander";
constexpr UINT_PTR kStopTimer = 1;
constexpr UINT_PTR kFocusTimer = 2;
constexpr UINT kStopPollMs = 100;

std::wstring g_folder;
long g_inputs = 0;
// The programs that took the foreground from the bystander, with how often.
std::map<std::string, int> g_takers;

// Mouse moves are left out: the platform makes them itself as windows come
// and go under the pointer.
bool IsUserInput(UINT message) {
  return (message >= WM_KEYFIRST && message <= WM_KEYLAST) ||
         (message >= WM_LBUTTONDOWN && message <= WM_MOUSELAST) ||
         (message >= WM_NCLBUTTONDOWN && message <= WM_NCXBUTTONDBLCLK);
}

bool WriteText(const std::wstring& path, const std::string& text) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
            written == text.size();
  CloseHandle(file);
  return ok;
}

std::string ProgramOfThread(DWORD threadId) {
  HANDLE thread = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, threadId);
  DWORD processId = thread != nullptr ? GetProcessIdOfThread(thread) : 0;
  if (thread != nullptr) CloseHandle(thread);
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
  char path[MAX_PATH] = "an unknown program";
  DWORD length = MAX_PATH;
  if (process != nullptr) {
    QueryFullProcessImageNameA(process, 0, path, &length);
    CloseHandle(process);
  }
  std::string name = path;
  return name.substr(name.find_last_of('\\') + 1);
}

// The program whose window is being activated. Its thread comes in
// WM_ACTIVATEAPP's lParam, except where another process took the foreground
// (Wine leaves it 0 then): that process's window is the foreground by then.
std::string Taker(LPARAM thread) {
  DWORD id = static_cast<DWORD>(thread);
  HWND foreground = GetForegroundWindow();
  if (id == 0) id = GetWindowThreadProcessId(foreground, nullptr);
  char name[64] = "";
  if (foreground != nullptr) GetClassNameA(foreground, name, sizeof name);
  return (id != 0 ? ProgramOfThread(id) : "no-window") + " (window class " + name + ")";
}

// Each line: a program's file name and how often it took the foreground.
std::string Takers() {
  std::string lines;
  for (const auto& taker : g_takers)
    lines += taker.first + " " + std::to_string(taker.second) + "\n";
  return lines;
}

// Timers come after every posted message, so all input sent before the
// stop file appeared has been counted.
void CALLBACK OnStopTimer(HWND window, UINT, UINT_PTR, DWORD) {
  if (GetFileAttributesW((g_folder + L"\\stop").c_str()) == INVALID_FILE_ATTRIBUTES) return;
  WriteText(g_folder + L"\\count", std::to_string(g_inputs) + "\n");
  DestroyWindow(window);
}

void CALLBACK OnFocusTimer(HWND window, UINT, UINT_PTR, DWORD) {
  SetForegroundWindow(window);
  SetFocus(window);
}

LRESULT CALLBACK BystanderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (IsUserInput(message)) {
    ++g_inputs;
    return 0;  // not handled further: Alt+F4 must not close it
  }
  if (message == WM_ACTIVATEAPP && wParam == FALSE) {
    ++g_takers[Taker(lParam)];
    WriteText(g_folder + L"\\lost", Takers());  // read while it runs too
  }
  if (message == WM_CLOSE) return 0;
  if (message == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcW(window, message, wParam, lParam);
}

int Poke() {
  POINT centre = {GetSystemMetrics(SM_CXSCREEN) / 2, GetSystemMetrics(SM_CYSCREEN) / 2};
  HWND target = WindowFromPoint(centre);
  if (target == nullptr) return 1;
  POINT client = centre;
  ScreenToClient(target, &client);
  PostMessageW(target, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(client.x, client.y));
  PostMessageW(target, WM_LBUTTONUP, 0, MAKELPARAM(client.x, client.y));
  return 0;
}

int Stand(UINT focusEveryMs) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = BystanderProc;
  windowClass.hInstance = instance;
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
  windowClass.lpszClassName = kClass;
  if (RegisterClassW(&windowClass) == 0) return 1;
  HWND window = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kClass, L"bystander",
                                WS_POPUP | WS_VISIBLE, 0, 0, GetSystemMetrics(SM_CXSCREEN),
                                GetSystemMetrics(SM_CYSCREEN), nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return 1;
  UpdateWindow(window);
  SetTimer(window, kStopTimer, kStopPollMs, OnStopTimer);
  if (focusEveryMs > 0) SetTimer(window, kFocusTimer, focusEveryMs, OnFocusTimer);
  if (!WriteText(g_folder + L"\\ready", "ready\n")) return 1;
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2 && argc != 3) return 2;
  std::wstring argument = argv[1];
  if (argument == L"--poke") return Poke();
  g_folder = argument;
  return Stand(argc == 3 ? static_cast<UINT>(_wtoi(argv[2])) : 0);
}
