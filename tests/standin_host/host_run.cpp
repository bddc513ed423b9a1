#include "host_run.h"

#include <gtest/gtest.h>

#include "standin_host_paths.h"

namespace {

std::string& HostProgram() {
  static std::string program = WinePath(STANDIN_HOST_EXE);
  return program;
}

}  // namespace

std::string WinePath(const char* unixPath) {
  std::string path = std::string("Z:") + unixPath;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

void UseHostProgram(const std::string& path) { HostProgram() = path; }

std::string ReadFileBytes(const std::string& path, bool* exists) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  *exists = file != INVALID_HANDLE_VALUE;
  if (!*exists) return std::string();
  std::string bytes;
  char buffer[65536];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
    bytes.append(buffer, read);
  CloseHandle(file);
  return bytes;
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file) << path;
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  EXPECT_EQ(bytes.size(), written) << path;
}

std::string TempFile(const char* name) {
  char folder[MAX_PATH];
  GetTempPathA(MAX_PATH, folder);
  return std::string(folder) + "standin_host_test_" + name;
}

std::string ProfilePath() {
  char folder[MAX_PATH];
  GetWindowsDirectoryA(folder, MAX_PATH);
  return std::string(folder) + "\\VELCNFG.INI";
}

void FlushProfileCache() { WritePrivateProfileStringA(nullptr, nullptr, nullptr, "VELCNFG.INI"); }

void RemoveProfile() {
  SetFileAttributesA(ProfilePath().c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(ProfilePath().c_str());
  FlushProfileCache();
}

namespace {

std::string HostCommand(const std::vector<std::string>& arguments) {
  std::string command = "\"" + HostProgram() + "\"";
  for (const std::string& argument : arguments) command += " \"" + argument + "\"";
  return command;
}

}  // namespace

HANDLE StartHost(const std::vector<std::string>& arguments, const std::string& outPath,
                 HANDLE job) {
  std::string command = HostCommand(arguments);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE out = INVALID_HANDLE_VALUE;
  if (!outPath.empty()) {
    out = CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                      CREATE_ALWAYS, 0, nullptr);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out;
    startup.hStdError = out;
  }
  PROCESS_INFORMATION process = {};
  DWORD flags = DETACHED_PROCESS | (job != nullptr ? CREATE_SUSPENDED : 0);
  BOOL started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, out != INVALID_HANDLE_VALUE,
                                flags, nullptr, nullptr, &startup, &process);
  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
  if (!started) return nullptr;
  if (job != nullptr) {
    if (!AssignProcessToJobObject(job, process.hProcess)) {
      TerminateProcess(process.hProcess, 1);
      CloseHandle(process.hThread);
      CloseHandle(process.hProcess);
      return nullptr;
    }
    ResumeThread(process.hThread);
  }
  CloseHandle(process.hThread);
  return process.hProcess;
}

HostRun RunHost(const std::vector<std::string>& arguments, const char* fault) {
  std::string command = HostCommand(arguments);
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  // Fresh names each run: a handle the last child passed on may linger.
  static int runs = 0;
  ++runs;
  std::string outPath = TempFile(("out" + std::to_string(runs) + ".txt").c_str());
  std::string errPath = TempFile(("err" + std::to_string(runs) + ".txt").c_str());
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE out =
      CreateFileA(outPath.c_str(), GENERIC_WRITE, share, &inherit, CREATE_ALWAYS, 0, nullptr);
  HANDLE err =
      CreateFileA(errPath.c_str(), GENERIC_WRITE, share, &inherit, CREATE_ALWAYS, 0, nullptr);
  HANDLE in = CreateFileA("NUL", GENERIC_READ, share, &inherit, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(INVALID_HANDLE_VALUE, out) << outPath;
  EXPECT_NE(INVALID_HANDLE_VALUE, err) << errPath;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process = {};
  SetEnvironmentVariableA("FAKE_PLUGIN_FAULT", fault);
  HostRun run = {0xFFFFFFFF, std::string(), std::string()};
  // Detached: no console of its own, so the host writes to the files as to pipes.
  BOOL started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, DETACHED_PROCESS,
                                nullptr, nullptr, &startup, &process);
  SetEnvironmentVariableA("FAKE_PLUGIN_FAULT", nullptr);
  CloseHandle(in);
  CloseHandle(out);
  CloseHandle(err);
  EXPECT_TRUE(started) << command << " (error " << GetLastError() << ")";
  if (started) {
    if (WaitForSingleObject(process.hProcess, 120000) != WAIT_OBJECT_0) {
      ADD_FAILURE() << "the host did not finish within 120 s: " << command;
      TerminateProcess(process.hProcess, 99);
      WaitForSingleObject(process.hProcess, INFINITE);
    }
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  bool exists = false;
  run.out = ReadFileBytes(outPath, &exists);
  run.err = ReadFileBytes(errPath, &exists);
  DeleteFileA(outPath.c_str());
  DeleteFileA(errPath.c_str());
  return run;
}

std::string Describe(const HostRun& run) {
  return "exit " + std::to_string(run.exitCode) + "\n--- stdout\n" + run.out + "--- stderr\n" +
         run.err;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

const char kSavedProfile[] =
    "[VELConfigData]\r\nenabled=1\r\nbitRate=64\r\nquality=0\r\npreprocessing=1\r\nversion=1\r\n";

void ExpectUnsavedAfterOk(const HostRun& run, const char* status, int error) {
  EXPECT_EQ(4u, run.exitCode) << Describe(run);
  EXPECT_TRUE(
      Contains(run.out, "  Dialog opened: enabled=1 bitRate=64 quality=0 preprocessing=1\n"))
      << Describe(run);
  EXPECT_TRUE(Contains(run.out,
                       std::string("  Dialog returned 1 (OK)\n  Invoke returned ") + status + "\n"))
      << Describe(run);
  EXPECT_TRUE(
      Contains(run.out, "  The settings were not saved after OK: Invoke reports Windows error " +
                            std::to_string(error)))
      << Describe(run);
  EXPECT_TRUE(Contains(run.out, "DllCanUnloadNow returned 0x00000000\n")) << Describe(run);
  EXPECT_EQ("", run.err) << "a refused write is no misbehaviour of the plug-in";
  bool exists = false;
  EXPECT_EQ(kSavedProfile, ReadFileBytes(ProfilePath(), &exists));
}
