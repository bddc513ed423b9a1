// The host's functions for the platform functions it binds: one template and
// one table row per function (its name, what it is, the positions of its path
// arguments, each checked to be a path by type at compile time). Each sends
// its path arguments where the binding says, then calls the platform's own
// function; the host's GetProcAddress hands out the host's function for any
// address the platform's lookup finds.
#pragma once

#include <windows.h>

#include <string>

// Profile or file function; whether it writes (a write while loading or
// unloading is a fault even when it leaves the bytes as they were).
enum class CallKind { kProfileRead, kProfileWrite, kFileRead, kFileWrite };
inline bool IsFileCall(CallKind kind) {
  return kind == CallKind::kFileRead || kind == CallKind::kFileWrite;
}
inline bool IsWriteCall(CallKind kind) {
  return kind == CallKind::kProfileWrite || kind == CallKind::kFileWrite;
}

// Where a call from `caller` naming `name` goes: false to let it through,
// else true with the path in `to`.
typedef bool (*PathRedirect)(void* caller, const char* function, CallKind kind,
                             const std::wstring& name, std::wstring* to);

// Before any thread starts: the platform's functions (kernel32's and
// kernelbase's exports of every bound name), and where their paths go.
void FindBoundFunctions(PathRedirect redirect);
// The host's function for a platform function's address, or for a slot
// still named for it; null for any other.
FARPROC OwnFunctionAt(DWORD address);
FARPROC OwnFunctionNamed(const char* name);
