#include "standin_host/hosting/settings_names.h"

#include <windows.h>

namespace {

const wchar_t kSettingsName[] = L"VELCNFG.INI";

// A stream named by the path ("x::$DATA", "x:$DATA") is the file's data; a
// drive's colon is the second character.
std::wstring WithoutStream(const std::wstring& path) {
  size_t last = path.find_last_of(L"\\/");
  size_t colon = path.find(L':', last == std::wstring::npos ? 2 : last + 1);
  if (colon == std::wstring::npos) return path;
  std::wstring stream = path.substr(colon);
  if (lstrcmpiW(stream.c_str(), L"::$DATA") == 0 || lstrcmpiW(stream.c_str(), L":$DATA") == 0) {
    return path.substr(0, colon);
  }
  return path;
}

// The Win32 form: slashes turned, \\?\ and \??\ dropped, the last
// component's trailing dots and spaces dropped.
std::wstring Plain(const std::wstring& path) {
  std::wstring plain = WithoutStream(path);
  for (wchar_t& c : plain) {
    if (c == L'/') c = L'\\';
  }
  if (plain.compare(0, 4, L"\\\\?\\") == 0 || plain.compare(0, 4, L"\\??\\") == 0) {
    plain.erase(0, 4);
  }
  while (!plain.empty() && (plain.back() == L'.' || plain.back() == L' ')) plain.pop_back();
  return plain;
}

// Full and long: a relative name resolved, 8.3 components of the folder
// expanded (the file itself may not exist yet).
std::wstring LongFullPath(const std::wstring& path) {
  wchar_t full[MAX_PATH * 2];
  DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH * 2, full, nullptr);
  if (length == 0 || length >= MAX_PATH * 2) return path;
  std::wstring text(full, length);
  size_t last = text.find_last_of(L'\\');
  if (last == std::wstring::npos) return text;
  wchar_t folder[MAX_PATH * 2];
  length = GetLongPathNameW(text.substr(0, last).c_str(), folder, MAX_PATH * 2);
  std::wstring name = text.substr(last + 1);
  wchar_t file[MAX_PATH * 2];
  DWORD fileLength = GetLongPathNameW(text.c_str(), file, MAX_PATH * 2);
  if (fileLength > 0 && fileLength < MAX_PATH * 2) {
    std::wstring longFile(file, fileLength);
    name = longFile.substr(longFile.find_last_of(L'\\') + 1);
  }
  if (length == 0 || length >= MAX_PATH * 2) return text.substr(0, last + 1) + name;
  return std::wstring(folder, length) + L"\\" + name;
}

}  // namespace

std::wstring WideFromAnsi(const char* text) {
  if (text == nullptr) return std::wstring();
  int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  std::wstring wide(length > 1 ? length - 1 : 0, L'\0');
  if (length > 1) MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], length);
  return wide;
}

bool AnsiFromWide(const std::wstring& text, std::string* ansi) {
  BOOL lossy = FALSE;
  int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), -1, nullptr, 0,
                                   nullptr, &lossy);
  ansi->assign(length > 1 ? length - 1 : 0, '\0');
  if (length > 1) {
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), -1, &(*ansi)[0], length,
                        nullptr, &lossy);
  }
  return !lossy;
}

std::wstring FinalComponent(const std::wstring& path) {
  std::wstring plain = Plain(path);
  size_t last = plain.find_last_of(L'\\');
  std::wstring name = last == std::wstring::npos ? plain : plain.substr(last + 1);
  // "C:VELCNFG.INI" names a file on drive C.
  if (name.size() > 2 && name[1] == L':' && last == std::wstring::npos) name.erase(0, 2);
  return name;
}

bool NamesSettingsFile(const std::wstring& path) {
  if (lstrcmpiW(FinalComponent(path).c_str(), kSettingsName) == 0) return true;
  // An 8.3 name of an existing file: its long name says.
  std::wstring plain = Plain(path);
  if (plain.find(L'~') == std::wstring::npos) return false;
  return lstrcmpiW(FinalComponent(LongFullPath(plain)).c_str(), kSettingsName) == 0;
}

bool SameFileName(const std::wstring& path, const std::wstring& file) {
  return lstrcmpiW(LongFullPath(Plain(path)).c_str(), LongFullPath(file).c_str()) == 0;
}

bool NamesWindowsSettingsFile(const std::wstring& path, bool bareName) {
  if (bareName && lstrcmpiW(Plain(path).c_str(), kSettingsName) == 0) return true;
  wchar_t folder[MAX_PATH];
  UINT length = GetWindowsDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  return SameFileName(path, std::wstring(folder, length) + L"\\" + kSettingsName);
}
