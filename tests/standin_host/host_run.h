// Spawning the stand-in host as a program and reading what it leaves: its
// report, its exit status and the settings file's bytes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct HostRun {
  DWORD exitCode;
  std::string out;
  std::string err;
};

// Z:\... for a path of the build machine.
std::string WinePath(const char* unixPath);

// The stand-in host spawned by RunHost; the build's own unless set.
void UseHostProgram(const std::string& path);
// Runs the host with `arguments`, the fake plug-ins' fault set to `fault`.
HostRun RunHost(const std::vector<std::string>& arguments, const char* fault = "");
// Starts the host with `arguments` and returns its process at once, its
// output discarded or, given `outPath`, written there; null when it could
// not start. Given `job`, it is in that job from its first instruction.
HANDLE StartHost(const std::vector<std::string>& arguments, const std::string& outPath = "",
                 HANDLE job = nullptr);
std::string Describe(const HostRun& run);
bool Contains(const std::string& text, const std::string& part);

std::string ReadFileBytes(const std::string& path, bool* exists);
void WriteFileBytes(const std::string& path, const std::string& bytes);
std::string TempFile(const char* name);
// C:\windows\VELCNFG.INI, where the plug-in's bare file name leads.
std::string ProfilePath();
// Wine caches a parsed profile file and rereads it only when its modification
// time changes; a test that rewrites the file behind its back flushes it.
void FlushProfileCache();
// Deletes the profile file, read-only or not.
void RemoveProfile();

// The settings the failed-write tests start from and must find again.
extern const char kSavedProfile[];
// A run whose OK the settings file refused with Windows error `error`
// (Invoke's status `status`): reported as a failure the host caused, with
// nothing lost from the file.
void ExpectUnsavedAfterOk(const HostRun& run, const char* status, int error);
