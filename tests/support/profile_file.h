// Byte-level access to the profile file, bypassing the profile functions so
// tests see exactly what is on disk.
#pragma once

#include <windows.h>

#include <string>

#include "plugin/settings/settings.h"

namespace profile_file {

// What Read() gives for a file that does not exist; as contents for
// SetContents(), it removes the file.
constexpr char kAbsent[] = "<absent>";

inline std::string Path() {
  char folder[MAX_PATH];
  UINT length = GetWindowsDirectoryA(folder, MAX_PATH);
  return std::string(folder, length) + "\\" + kProfileFile;
}

// Wine caches a parsed profile file and rereads it only when its modification
// time changes, which two writes within one clock tick may not do. Tests that
// change the file behind the profile functions' back flush the cache.
inline void FlushCache() { WritePrivateProfileStringA(nullptr, nullptr, nullptr, kProfileFile); }

inline bool Exists() { return GetFileAttributesA(Path().c_str()) != INVALID_FILE_ATTRIBUTES; }

inline void Remove() {
  SetFileAttributesA(Path().c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(Path().c_str());
  FlushCache();
}

inline bool Write(const std::string& bytes) {
  HANDLE file = CreateFileA(Path().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  FlushCache();
  return ok && written == bytes.size();
}

// The file's bytes, or "<absent>" when it cannot be opened.
inline std::string Read() {
  HANDLE file = CreateFileA(Path().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return kAbsent;
  std::string bytes;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0)
    bytes.append(buffer, got);
  CloseHandle(file);
  return bytes;
}

inline void SetContents(const std::string& bytes) {
  if (bytes == kAbsent) {
    Remove();
  } else {
    Write(bytes);
  }
}

}  // namespace profile_file
