// A test program that leaves a process behind, for the test of the check that
// every CTest entry makes when it ends (cmake/test-entry.in): it starts a copy
// of itself that waits ten minutes holding its standard streams, the way a
// forgotten child holds CTest's pipe, and ends at once with success.
//   leaky             starts `leaky --linger` and ends
//   leaky --linger    waits ten minutes
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

constexpr DWORD kLingerMs = 600000;

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 && wcscmp(argv[1], L"--linger") == 0) {
    Sleep(kLingerMs);
    return 0;
  }
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring command = L"\"" + std::wstring(self) + L"\" --linger";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process)) {
    fprintf(stderr, "leaky: cannot start the lingering copy (error %lu)\n", GetLastError());
    return 1;
  }
  printf("leaky: started process %lu, which lingers; ending now\n", process.dwProcessId);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return 0;
}
