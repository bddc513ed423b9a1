#include "standin_host/hosting/settings_redirect.h"

#include <string.h>

#include <vector>

#include "standin_host/hosting/import_tables.h"
#include "standin_host/system/console.h"

namespace {

const wchar_t kSettingsName[] = L"VELCNFG.INI";

struct Binding {
  HMODULE module;
  DWORD thread;  // that loaded the module
  int copy;
  std::vector<std::string> seen;  // each function and name once, for the log
  std::string wrongName;          // the first that is not the Windows folder's file
};

struct Redirect {
  CRITICAL_SECTION lock;
  std::wstring folder;
  std::vector<Binding> bindings;
};
Redirect g_redirect;

std::wstring Wide(const char* text) {
  int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  std::wstring wide(length > 1 ? length - 1 : 0, L'\0');
  if (length > 1) MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], length);
  return wide;
}

std::string Ansi(const std::wstring& text) {
  int length = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string ansi(length > 1 ? length - 1 : 0, '\0');
  if (length > 1)
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &ansi[0], length, nullptr, nullptr);
  return ansi;
}

const wchar_t* FinalName(const wchar_t* path) {
  const wchar_t* name = path;
  for (const wchar_t* c = path; *c != L'\0'; ++c) {
    if (*c == L'\\' || *c == L'/' || *c == L':') name = c + 1;
  }
  return name;
}

bool NamesSettingsFile(const std::wstring& path) {
  return lstrcmpiW(FinalName(path.c_str()), kSettingsName) == 0;
}

// The Windows folder's VELCNFG.INI in any spelling; a profile function also
// takes the bare name for it.
bool RightName(const std::wstring& name, bool profile) {
  if (profile && lstrcmpiW(name.c_str(), kSettingsName) == 0) return true;
  wchar_t full[MAX_PATH];
  wchar_t folder[MAX_PATH];
  DWORD length = GetFullPathNameW(name.c_str(), MAX_PATH, full, nullptr);
  UINT folderLength = GetWindowsDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH || folderLength == 0) return false;
  return lstrcmpiW(full, (std::wstring(folder, folderLength) + L"\\" + kSettingsName).c_str()) == 0;
}

std::wstring PrivatePath(int copy, const wchar_t* finalName) {
  std::wstring path = g_redirect.folder + L"\\" + std::to_wstring(GetCurrentProcessId());
  if (copy != 0) path += L"-" + std::to_wstring(copy);
  return path + L"-" + finalName;
}

HMODULE ModuleAt(void* address) {
  HMODULE module = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      static_cast<LPCWSTR>(address), &module);
  return module;
}

void Record(Binding* binding, const char* function, const std::wstring& name, bool profile) {
  std::string call = std::string(function) + "(\"" + Utf8FromWide(name.c_str()) + "\")";
  for (const std::string& seen : binding->seen) {
    if (seen == call) return;
  }
  binding->seen.push_back(call);
  Print("  settings call %s went to the private copy %d\n", call.c_str(), binding->copy);
  if (binding->wrongName.empty() && !RightName(name, profile)) binding->wrongName = call;
}

// The binding of the module at `caller`; a call the module made as its
// last (a tail call) returns straight into whoever called the module, so
// then the copy last bound on this thread, as every copy runs on its own.
Binding* BindingFor(void* caller) {
  HMODULE module = ModuleAt(caller);
  Binding* onThread = nullptr;
  for (Binding& binding : g_redirect.bindings) {
    if (binding.module == module) return &binding;
    if (binding.thread == GetCurrentThreadId()) onThread = &binding;
  }
  return onThread;
}

// Where the call from `caller` goes instead of `name`; the call recorded.
std::wstring Redirected(void* caller, const char* function, const std::wstring& name,
                        bool profile) {
  int copy = 0;
  EnterCriticalSection(&g_redirect.lock);
  Binding* binding = BindingFor(caller);
  if (binding != nullptr) {
    copy = binding->copy;
    Record(binding, function, name, profile);
  }
  LeaveCriticalSection(&g_redirect.lock);
  return PrivatePath(copy, FinalName(name.c_str()));
}

// A null file name is the platform's WIN.INI.
std::string ProfileA(void* caller, const char* function, const char* name) {
  return Ansi(Redirected(caller, function, name != nullptr ? Wide(name) : L"WIN.INI", true));
}

std::wstring ProfileW(void* caller, const char* function, const wchar_t* name) {
  return Redirected(caller, function, name != nullptr ? name : L"WIN.INI", true);
}

// A file function's path: the given one, or the private file it names.
template <typename Char>
struct Path {
  const Char* given;
  std::basic_string<Char> to;
  const Char* c_str() const { return to.empty() ? given : to.c_str(); }
};

Path<char> FileA(void* caller, const char* function, const char* path) {
  if (path == nullptr || !NamesSettingsFile(Wide(path))) return Path<char>{path, {}};
  return Path<char>{path, Ansi(Redirected(caller, function, Wide(path), false))};
}

Path<wchar_t> FileW(void* caller, const char* function, const wchar_t* path) {
  if (path == nullptr || !NamesSettingsFile(path)) return Path<wchar_t>{path, {}};
  return Path<wchar_t>{path, Redirected(caller, function, path, false)};
}

// ---- The host's functions, each the platform's own on the redirected name.

UINT WINAPI OwnGetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT fallback, LPCSTR file) {
  std::string to = ProfileA(__builtin_return_address(0), "GetPrivateProfileIntA", file);
  return GetPrivateProfileIntA(section, key, fallback, to.c_str());
}
UINT WINAPI OwnGetPrivateProfileIntW(LPCWSTR section, LPCWSTR key, INT fallback, LPCWSTR file) {
  std::wstring to = ProfileW(__builtin_return_address(0), "GetPrivateProfileIntW", file);
  return GetPrivateProfileIntW(section, key, fallback, to.c_str());
}
DWORD WINAPI OwnGetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR fallback, LPSTR out,
                                         DWORD size, LPCSTR file) {
  std::string to = ProfileA(__builtin_return_address(0), "GetPrivateProfileStringA", file);
  return GetPrivateProfileStringA(section, key, fallback, out, size, to.c_str());
}
DWORD WINAPI OwnGetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR fallback, LPWSTR out,
                                         DWORD size, LPCWSTR file) {
  std::wstring to = ProfileW(__builtin_return_address(0), "GetPrivateProfileStringW", file);
  return GetPrivateProfileStringW(section, key, fallback, out, size, to.c_str());
}
DWORD WINAPI OwnGetPrivateProfileSectionA(LPCSTR section, LPSTR out, DWORD size, LPCSTR file) {
  std::string to = ProfileA(__builtin_return_address(0), "GetPrivateProfileSectionA", file);
  return GetPrivateProfileSectionA(section, out, size, to.c_str());
}
DWORD WINAPI OwnGetPrivateProfileSectionW(LPCWSTR section, LPWSTR out, DWORD size, LPCWSTR file) {
  std::wstring to = ProfileW(__builtin_return_address(0), "GetPrivateProfileSectionW", file);
  return GetPrivateProfileSectionW(section, out, size, to.c_str());
}
DWORD WINAPI OwnGetPrivateProfileSectionNamesA(LPSTR out, DWORD size, LPCSTR file) {
  std::string to = ProfileA(__builtin_return_address(0), "GetPrivateProfileSectionNamesA", file);
  return GetPrivateProfileSectionNamesA(out, size, to.c_str());
}
DWORD WINAPI OwnGetPrivateProfileSectionNamesW(LPWSTR out, DWORD size, LPCWSTR file) {
  std::wstring to = ProfileW(__builtin_return_address(0), "GetPrivateProfileSectionNamesW", file);
  return GetPrivateProfileSectionNamesW(out, size, to.c_str());
}
BOOL WINAPI OwnGetPrivateProfileStructA(LPCSTR section, LPCSTR key, LPVOID data, UINT size,
                                        LPCSTR file) {
  std::string to = ProfileA(__builtin_return_address(0), "GetPrivateProfileStructA", file);
  return GetPrivateProfileStructA(section, key, data, size, to.c_str());
}
BOOL WINAPI OwnGetPrivateProfileStructW(LPCWSTR section, LPCWSTR key, LPVOID data, UINT size,
                                        LPCWSTR file) {
  std::wstring to = ProfileW(__builtin_return_address(0), "GetPrivateProfileStructW", file);
  return GetPrivateProfileStructW(section, key, data, size, to.c_str());
}
BOOL WINAPI OwnWritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file) {
  std::string to = ProfileA(__builtin_return_address(0), "WritePrivateProfileStringA", file);
  return WritePrivateProfileStringA(section, key, value, to.c_str());
}
BOOL WINAPI OwnWritePrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR value,
                                          LPCWSTR file) {
  std::wstring to = ProfileW(__builtin_return_address(0), "WritePrivateProfileStringW", file);
  return WritePrivateProfileStringW(section, key, value, to.c_str());
}
BOOL WINAPI OwnWritePrivateProfileSectionA(LPCSTR section, LPCSTR text, LPCSTR file) {
  std::string to = ProfileA(__builtin_return_address(0), "WritePrivateProfileSectionA", file);
  return WritePrivateProfileSectionA(section, text, to.c_str());
}
BOOL WINAPI OwnWritePrivateProfileSectionW(LPCWSTR section, LPCWSTR text, LPCWSTR file) {
  std::wstring to = ProfileW(__builtin_return_address(0), "WritePrivateProfileSectionW", file);
  return WritePrivateProfileSectionW(section, text, to.c_str());
}
BOOL WINAPI OwnWritePrivateProfileStructA(LPCSTR section, LPCSTR key, LPVOID data, UINT size,
                                          LPCSTR file) {
  std::string to = ProfileA(__builtin_return_address(0), "WritePrivateProfileStructA", file);
  return WritePrivateProfileStructA(section, key, data, size, to.c_str());
}
BOOL WINAPI OwnWritePrivateProfileStructW(LPCWSTR section, LPCWSTR key, LPVOID data, UINT size,
                                          LPCWSTR file) {
  std::wstring to = ProfileW(__builtin_return_address(0), "WritePrivateProfileStructW", file);
  return WritePrivateProfileStructW(section, key, data, size, to.c_str());
}

HANDLE WINAPI OwnCreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                             DWORD disposition, DWORD flags, HANDLE model) {
  auto to = FileA(__builtin_return_address(0), "CreateFileA", path);
  return CreateFileA(to.c_str(), access, share, security, disposition, flags, model);
}
HANDLE WINAPI OwnCreateFileW(LPCWSTR path, DWORD access, DWORD share,
                             LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                             HANDLE model) {
  auto to = FileW(__builtin_return_address(0), "CreateFileW", path);
  return CreateFileW(to.c_str(), access, share, security, disposition, flags, model);
}
DWORD WINAPI OwnGetFileAttributesA(LPCSTR path) {
  return GetFileAttributesA(FileA(__builtin_return_address(0), "GetFileAttributesA", path).c_str());
}
DWORD WINAPI OwnGetFileAttributesW(LPCWSTR path) {
  return GetFileAttributesW(FileW(__builtin_return_address(0), "GetFileAttributesW", path).c_str());
}
BOOL WINAPI OwnGetFileAttributesExA(LPCSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID out) {
  auto to = FileA(__builtin_return_address(0), "GetFileAttributesExA", path);
  return GetFileAttributesExA(to.c_str(), level, out);
}
BOOL WINAPI OwnGetFileAttributesExW(LPCWSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID out) {
  auto to = FileW(__builtin_return_address(0), "GetFileAttributesExW", path);
  return GetFileAttributesExW(to.c_str(), level, out);
}
BOOL WINAPI OwnSetFileAttributesA(LPCSTR path, DWORD attributes) {
  auto to = FileA(__builtin_return_address(0), "SetFileAttributesA", path);
  return SetFileAttributesA(to.c_str(), attributes);
}
BOOL WINAPI OwnSetFileAttributesW(LPCWSTR path, DWORD attributes) {
  auto to = FileW(__builtin_return_address(0), "SetFileAttributesW", path);
  return SetFileAttributesW(to.c_str(), attributes);
}
BOOL WINAPI OwnDeleteFileA(LPCSTR path) {
  return DeleteFileA(FileA(__builtin_return_address(0), "DeleteFileA", path).c_str());
}
BOOL WINAPI OwnDeleteFileW(LPCWSTR path) {
  return DeleteFileW(FileW(__builtin_return_address(0), "DeleteFileW", path).c_str());
}
BOOL WINAPI OwnMoveFileA(LPCSTR from, LPCSTR to) {
  void* caller = __builtin_return_address(0);
  return MoveFileA(FileA(caller, "MoveFileA", from).c_str(),
                   FileA(caller, "MoveFileA", to).c_str());
}
BOOL WINAPI OwnMoveFileW(LPCWSTR from, LPCWSTR to) {
  void* caller = __builtin_return_address(0);
  return MoveFileW(FileW(caller, "MoveFileW", from).c_str(),
                   FileW(caller, "MoveFileW", to).c_str());
}
BOOL WINAPI OwnMoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) {
  void* caller = __builtin_return_address(0);
  return MoveFileExA(FileA(caller, "MoveFileExA", from).c_str(),
                     FileA(caller, "MoveFileExA", to).c_str(), flags);
}
BOOL WINAPI OwnMoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) {
  void* caller = __builtin_return_address(0);
  return MoveFileExW(FileW(caller, "MoveFileExW", from).c_str(),
                     FileW(caller, "MoveFileExW", to).c_str(), flags);
}
BOOL WINAPI OwnCopyFileA(LPCSTR from, LPCSTR to, BOOL keep) {
  void* caller = __builtin_return_address(0);
  return CopyFileA(FileA(caller, "CopyFileA", from).c_str(), FileA(caller, "CopyFileA", to).c_str(),
                   keep);
}
BOOL WINAPI OwnCopyFileW(LPCWSTR from, LPCWSTR to, BOOL keep) {
  void* caller = __builtin_return_address(0);
  return CopyFileW(FileW(caller, "CopyFileW", from).c_str(), FileW(caller, "CopyFileW", to).c_str(),
                   keep);
}
HANDLE WINAPI OwnFindFirstFileA(LPCSTR path, LPWIN32_FIND_DATAA found) {
  return FindFirstFileA(FileA(__builtin_return_address(0), "FindFirstFileA", path).c_str(), found);
}
HANDLE WINAPI OwnFindFirstFileW(LPCWSTR path, LPWIN32_FIND_DATAW found) {
  return FindFirstFileW(FileW(__builtin_return_address(0), "FindFirstFileW", path).c_str(), found);
}
HFILE WINAPI OwnOpenFile(LPCSTR path, LPOFSTRUCT state, UINT style) {
  return OpenFile(FileA(__builtin_return_address(0), "OpenFile", path).c_str(), state, style);
}
HFILE WINAPI Own_lopen(LPCSTR path, int mode) {
  return _lopen(FileA(__builtin_return_address(0), "_lopen", path).c_str(), mode);
}
HFILE WINAPI Own_lcreat(LPCSTR path, int attributes) {
  return _lcreat(FileA(__builtin_return_address(0), "_lcreat", path).c_str(), attributes);
}

FARPROC WINAPI OwnGetProcAddress(HMODULE module, LPCSTR name);

template <typename Fn>
FARPROC AsProc(Fn* function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

struct Bound {
  const char* name;
  FARPROC own;
};
const Bound kBound[] = {
    {"GetPrivateProfileIntA", AsProc(OwnGetPrivateProfileIntA)},
    {"GetPrivateProfileIntW", AsProc(OwnGetPrivateProfileIntW)},
    {"GetPrivateProfileStringA", AsProc(OwnGetPrivateProfileStringA)},
    {"GetPrivateProfileStringW", AsProc(OwnGetPrivateProfileStringW)},
    {"GetPrivateProfileSectionA", AsProc(OwnGetPrivateProfileSectionA)},
    {"GetPrivateProfileSectionW", AsProc(OwnGetPrivateProfileSectionW)},
    {"GetPrivateProfileSectionNamesA", AsProc(OwnGetPrivateProfileSectionNamesA)},
    {"GetPrivateProfileSectionNamesW", AsProc(OwnGetPrivateProfileSectionNamesW)},
    {"GetPrivateProfileStructA", AsProc(OwnGetPrivateProfileStructA)},
    {"GetPrivateProfileStructW", AsProc(OwnGetPrivateProfileStructW)},
    {"WritePrivateProfileStringA", AsProc(OwnWritePrivateProfileStringA)},
    {"WritePrivateProfileStringW", AsProc(OwnWritePrivateProfileStringW)},
    {"WritePrivateProfileSectionA", AsProc(OwnWritePrivateProfileSectionA)},
    {"WritePrivateProfileSectionW", AsProc(OwnWritePrivateProfileSectionW)},
    {"WritePrivateProfileStructA", AsProc(OwnWritePrivateProfileStructA)},
    {"WritePrivateProfileStructW", AsProc(OwnWritePrivateProfileStructW)},
    {"CreateFileA", AsProc(OwnCreateFileA)},
    {"CreateFileW", AsProc(OwnCreateFileW)},
    {"GetFileAttributesA", AsProc(OwnGetFileAttributesA)},
    {"GetFileAttributesW", AsProc(OwnGetFileAttributesW)},
    {"GetFileAttributesExA", AsProc(OwnGetFileAttributesExA)},
    {"GetFileAttributesExW", AsProc(OwnGetFileAttributesExW)},
    {"SetFileAttributesA", AsProc(OwnSetFileAttributesA)},
    {"SetFileAttributesW", AsProc(OwnSetFileAttributesW)},
    {"DeleteFileA", AsProc(OwnDeleteFileA)},
    {"DeleteFileW", AsProc(OwnDeleteFileW)},
    {"MoveFileA", AsProc(OwnMoveFileA)},
    {"MoveFileW", AsProc(OwnMoveFileW)},
    {"MoveFileExA", AsProc(OwnMoveFileExA)},
    {"MoveFileExW", AsProc(OwnMoveFileExW)},
    {"CopyFileA", AsProc(OwnCopyFileA)},
    {"CopyFileW", AsProc(OwnCopyFileW)},
    {"FindFirstFileA", AsProc(OwnFindFirstFileA)},
    {"FindFirstFileW", AsProc(OwnFindFirstFileW)},
    {"OpenFile", AsProc(OwnOpenFile)},
    {"_lopen", AsProc(Own_lopen)},
    {"_lcreat", AsProc(Own_lcreat)},
    {"GetProcAddress", AsProc(OwnGetProcAddress)},
};

FARPROC OwnFor(const char* name) {
  for (const Bound& bound : kBound) {
    if (strcmp(bound.name, name) == 0) return bound.own;
  }
  return nullptr;
}

// A slot the loader already filled holds the platform's function.
FARPROC OwnForAddress(DWORD address) {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  for (const Bound& bound : kBound) {
    if (reinterpret_cast<DWORD>(GetProcAddress(kernel, bound.name)) == address) return bound.own;
  }
  return nullptr;
}

FARPROC WINAPI OwnGetProcAddress(HMODULE module, LPCSTR name) {
  FARPROC found = GetProcAddress(module, name);
  if (found == nullptr || IS_INTRESOURCE(name)) return found;
  FARPROC own = OwnFor(name);
  return own != nullptr ? own : found;
}

// A slot of the platform's function, or one still named for it, gets the host's.
FARPROC Replacement(const char* name, DWORD current) {
  FARPROC own = OwnForAddress(current);
  return own != nullptr || name == nullptr ? own : OwnFor(name);
}

}  // namespace

void RedirectSettingsInto(const std::wstring& folder) {
  InitializeCriticalSection(&g_redirect.lock);
  g_redirect.folder = folder;
}

std::wstring BoundSettingsFile(int copy) {
  return g_redirect.folder.empty() ? std::wstring() : PrivatePath(copy, kSettingsName);
}

void BindSettingsCalls(HMODULE module, int copy) {
  if (g_redirect.folder.empty()) return;
  EnterCriticalSection(&g_redirect.lock);
  g_redirect.bindings.push_back(Binding{module, GetCurrentThreadId(), copy, {}, std::string()});
  LeaveCriticalSection(&g_redirect.lock);
  RewriteImportSlots(module, Replacement);
}

std::string UnbindSettingsCalls(HMODULE module) {
  if (g_redirect.folder.empty()) return std::string();
  std::string wrong;
  EnterCriticalSection(&g_redirect.lock);
  std::vector<Binding>& bindings = g_redirect.bindings;
  for (auto binding = bindings.begin(); binding != bindings.end(); ++binding) {
    if (binding->module != module) continue;
    wrong = binding->wrongName;
    bindings.erase(binding);
    break;
  }
  LeaveCriticalSection(&g_redirect.lock);
  return wrong;
}
