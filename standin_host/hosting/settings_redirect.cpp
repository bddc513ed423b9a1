#include "standin_host/hosting/settings_redirect.h"

#include <psapi.h>

#include <map>
#include <vector>

#include "standin_host/hosting/bound_functions.h"
#include "standin_host/hosting/import_tables.h"
#include "standin_host/hosting/real_file_opens.h"
#include "standin_host/hosting/settings_names.h"
#include "standin_host/system/console.h"

namespace {

const wchar_t kSettingsName[] = L"VELCNFG.INI";
constexpr int kShared = -1;  // a module of no copy: only VELCNFG.INI names are bound
constexpr size_t kKeptCalls = 64;

// The loader's notification, declared here as ntdll exports it.
struct LoaderName {
  USHORT length;
  USHORT maximumLength;
  const wchar_t* buffer;
};
struct LoaderNotification {
  ULONG flags;
  const LoaderName* fullName;
  const LoaderName* baseName;
  void* base;
  ULONG size;
};
constexpr ULONG kModuleLoaded = 1;
typedef void(CALLBACK* LoaderCallback)(ULONG reason, const LoaderNotification* data, void* context);
typedef LONG(NTAPI* RegisterNotification)(ULONG flags, LoaderCallback callback, void* context,
                                          void** cookie);

struct Binding {
  DWORD base;
  DWORD size;
  int copy;  // kShared for a module of no copy
  SlotRewrite rewrite;
  wchar_t name[40];  // its file name, to name a road
};

struct CopyRecord {
  std::vector<std::string> seen;   // each function and name once, for the log
  std::string wrongName;           // the first that is not the Windows folder's file
  std::string realOpen;            // the first open of a real file for a change
  std::vector<std::string> calls;  // the latest, for a judgement of what happened meanwhile
  size_t total = 0;
  size_t writes = 0;
};

struct RedirectState {
  CRITICAL_SECTION lock;
  std::wstring folder;
  std::vector<Binding> bindings;
  std::map<int, CopyRecord> copies;
  // Read-only once the first thread starts.
  HMODULE platform[4];  // ntdll, kernel32, kernelbase, the host's program
  DWORD loading;        // TLS: 1 + the copy being loaded on this thread, 0 none
  DWORD loadingName;    // TLS: that copy's file name (a std::wstring of the loader's caller)
  DWORD current;        // TLS: 1 + the copy last loaded on this thread
  std::wstring platformNames[4];
  bool watching;  // the file system's calls are bound too
  const char* openedLine;
};
RedirectState g_redirect;

// ---- Calls: which copy a call counts for, and where its name goes.

DWORD Tls(DWORD index) {
  return static_cast<DWORD>(reinterpret_cast<UINT_PTR>(TlsGetValue(index)));
}

// With the lock held.
const Binding* BindingAt(DWORD address) {
  for (const Binding& binding : g_redirect.bindings) {
    if (address - binding.base < binding.size) return &binding;
  }
  return nullptr;
}

std::wstring PrivatePath(int copy, const std::wstring& finalName) {
  std::wstring path = g_redirect.folder + L"\\" + std::to_wstring(GetCurrentProcessId());
  if (copy != 0) path += L"-" + std::to_wstring(copy);
  return path + L"-" + finalName;
}

// Records the call for its copy; returns the line for the log when it is
// new, "" otherwise. With the lock held; prints nothing.
std::string Record(int copy, const std::string& call, bool right, bool writes) {
  CopyRecord& record = g_redirect.copies[copy];
  if (writes) ++record.writes;
  if (record.calls.size() == kKeptCalls) record.calls.erase(record.calls.begin());
  record.calls.push_back(call);
  ++record.total;
  for (const std::string& seen : record.seen) {
    if (seen == call) return std::string();
  }
  record.seen.push_back(call);
  if (record.wrongName.empty() && !right) record.wrongName = call;
  return "  settings call " + call + " went to the private copy " + std::to_string(copy) + "\n";
}

// Where a call from `caller` that names `name` goes: false to let it through
// unchanged. A call from a copy's module goes to that copy; any other (a C
// runtime's, or a module's last call, which returns straight into the host)
// counts for the copy last loaded on this thread, and only when it names a
// VELCNFG.INI.
bool Redirected(void* caller, const char* function, CallKind kind, const std::wstring& name,
                std::wstring* to) {
  bool settingsName = NamesSettingsFile(name);
  if (IsFileCall(kind) && !settingsName) return false;
  std::string call = std::string(function) + "(\"" + Utf8FromWide(name.c_str()) + "\")";
  bool right = NamesWindowsSettingsFile(name, !IsFileCall(kind));
  int copy = static_cast<int>(Tls(g_redirect.current)) - 1;
  EnterCriticalSection(&g_redirect.lock);
  const Binding* binding = BindingAt(reinterpret_cast<DWORD>(caller));
  bool own = binding != nullptr && binding->copy != kShared;
  if (own) copy = binding->copy;
  if (copy < 0) copy = 0;
  std::string line =
      own || settingsName ? Record(copy, call, right, IsWriteCall(kind)) : std::string();
  LeaveCriticalSection(&g_redirect.lock);
  if (!own && !settingsName) return false;
  if (!line.empty()) Print("%s", line.c_str());
  *to = PrivatePath(copy, FinalComponent(name));
  return true;
}

// ---- Binding modules, from the loader's notification or at start-up.

// A slot of a platform function, or one still named for it, gets the host's.
FARPROC Replacement(const char* name, DWORD current) {
  FARPROC own = OwnFunctionAt(current);
  return own != nullptr || name == nullptr ? own : OwnFunctionNamed(name);
}

// The platform's own modules: only the file system's calls, when watched.
FARPROC FileSystemReplacement(const char*, DWORD current) { return OwnFileSystemFunction(current); }

FARPROC ReplacementWithFileSystem(const char* name, DWORD current) {
  FARPROC own = OwnFileSystemFunction(current);
  return own != nullptr ? own : Replacement(name, current);
}

bool IsPlatform(HMODULE module) {
  for (HMODULE platform : g_redirect.platform) {
    if (module == platform) return true;
  }
  return false;
}

DWORD ImageSize(HMODULE module) {
  const auto* base = reinterpret_cast<const BYTE*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  return reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew)
      ->OptionalHeader.SizeOfImage;
}

// Safe inside the loader: the lock is never held by a thread that waits for
// the loader, and nothing is loaded or printed.
void Bind(HMODULE module, DWORD size, int copy, const wchar_t* name) {
  if (module == g_redirect.platform[0] || module == g_redirect.platform[3]) return;
  bool platform = IsPlatform(module);
  if (platform && !g_redirect.watching) return;
  SlotRewrite rewrite = RewriteImportSlots(module, platform              ? FileSystemReplacement
                                                   : g_redirect.watching ? ReplacementWithFileSystem
                                                                         : Replacement);
  if (platform) return;
  Binding binding = {reinterpret_cast<DWORD>(module), size, copy, rewrite, {}};
  lstrcpynW(binding.name, name, sizeof binding.name / sizeof binding.name[0]);
  EnterCriticalSection(&g_redirect.lock);
  for (auto bound = g_redirect.bindings.begin(); bound != g_redirect.bindings.end();) {
    bound = bound->base == binding.base ? g_redirect.bindings.erase(bound) : bound + 1;
  }
  g_redirect.bindings.push_back(binding);
  LeaveCriticalSection(&g_redirect.lock);
}

void Forget(DWORD base) {
  EnterCriticalSection(&g_redirect.lock);
  for (auto binding = g_redirect.bindings.begin(); binding != g_redirect.bindings.end();) {
    binding = binding->base == base ? g_redirect.bindings.erase(binding) : binding + 1;
  }
  LeaveCriticalSection(&g_redirect.lock);
}

void CALLBACK OnLoaderEvent(ULONG reason, const LoaderNotification* data, void*) {
  if (reason != kModuleLoaded) {
    Forget(reinterpret_cast<DWORD>(data->base));
    return;
  }
  // The copy's own file is the copy's; what the loader brings with it is
  // bound for VELCNFG.INI names only, as any other module.
  int copy = static_cast<int>(Tls(g_redirect.loading)) - 1;
  std::wstring name(data->baseName->buffer, data->baseName->length / sizeof(wchar_t));
  const auto* loadingName = static_cast<const std::wstring*>(TlsGetValue(g_redirect.loadingName));
  bool own = copy >= 0 && loadingName != nullptr &&
             CompareStringOrdinal(name.c_str(), static_cast<int>(name.size()), loadingName->c_str(),
                                  static_cast<int>(loadingName->size()), TRUE) == CSTR_EQUAL;
  Bind(static_cast<HMODULE>(data->base), data->size, own ? copy : kShared, name.c_str());
}

std::wstring ModuleFileName(HMODULE module) {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
  std::wstring text(path, length < MAX_PATH ? length : 0);
  return text.substr(text.find_last_of(L'\\') + 1);
}

int ThreadCopy() {
  int copy = static_cast<int>(Tls(g_redirect.current)) - 1;
  return copy < 0 ? 0 : copy;
}

std::wstring ThreadPrivateFile() { return PrivatePath(ThreadCopy(), kSettingsName); }

// Printed at once and on the error stream, which no quiet run silences.
void RecordRealOpen(void* caller, const char* function, const std::wstring& path,
                    const std::string& change) {
  EnterCriticalSection(&g_redirect.lock);
  const Binding* binding = BindingAt(reinterpret_cast<DWORD>(caller));
  std::wstring module = binding != nullptr ? binding->name : L"a module the host did not bind";
  LeaveCriticalSection(&g_redirect.lock);
  for (int i = 0; i < 4 && binding == nullptr; ++i) {
    DWORD base = reinterpret_cast<DWORD>(g_redirect.platform[i]);
    if (reinterpret_cast<DWORD>(caller) - base < ImageSize(g_redirect.platform[i])) {
      module = g_redirect.platformNames[i];
    }
  }
  std::string open = Utf8FromWide(path.c_str()) + " for " + change + " by " + function + " from " +
                     Utf8FromWide(module.c_str());
  PrintError("%s%s\n", g_redirect.openedLine, open.c_str());
  EnterCriticalSection(&g_redirect.lock);
  CopyRecord& record = g_redirect.copies[ThreadCopy()];
  if (record.realOpen.empty()) record.realOpen = open;
  LeaveCriticalSection(&g_redirect.lock);
}

void BindLoadedModules() {
  constexpr DWORD kMost = 512;
  HMODULE modules[kMost];
  DWORD bytes = 0;
  if (!EnumProcessModules(GetCurrentProcess(), modules, sizeof modules, &bytes)) return;
  DWORD count = bytes / static_cast<DWORD>(sizeof(HMODULE));
  for (DWORD i = 0; i < count && i < kMost; ++i) {
    Bind(modules[i], ImageSize(modules[i]), kShared, ModuleFileName(modules[i]).c_str());
  }
}

// The folder as an ANSI function can be given it: as it is, else its short name.
bool AnsiSafeFolder(const std::wstring& folder, std::wstring* safe, std::string* error) {
  std::string ansi;
  if (AnsiFromWide(folder, &ansi)) {
    *safe = folder;
    return true;
  }
  wchar_t shortName[MAX_PATH];
  DWORD length = GetShortPathNameW(folder.c_str(), shortName, MAX_PATH);
  if (length > 0 && length < MAX_PATH && AnsiFromWide(std::wstring(shortName, length), &ansi)) {
    *safe = std::wstring(shortName, length);
    return true;
  }
  *error = "the private folder " + Utf8FromWide(folder.c_str()) +
           " cannot be named in this computer's ANSI code page, not even by its short name, so "
           "the plug-in's settings calls could not be sent there";
  return false;
}

}  // namespace

bool RedirectSettingsInto(const std::wstring& folder, const std::vector<std::wstring>& realFiles,
                          const char* openedLine, std::string* error) {
  if (!AnsiSafeFolder(folder, &g_redirect.folder, error)) return false;
  auto registerNotification = reinterpret_cast<RegisterNotification>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "LdrRegisterDllNotification")));
  if (registerNotification == nullptr) {
    *error = "this system's loader offers no notification of a module being loaded";
    return false;
  }
  InitializeCriticalSection(&g_redirect.lock);
  g_redirect.loading = TlsAlloc();
  g_redirect.loadingName = TlsAlloc();
  g_redirect.current = TlsAlloc();
  g_redirect.platform[0] = GetModuleHandleW(L"ntdll.dll");
  g_redirect.platform[1] = GetModuleHandleW(L"kernel32.dll");
  g_redirect.platform[2] = GetModuleHandleW(L"kernelbase.dll");
  g_redirect.platform[3] = GetModuleHandleW(nullptr);
  for (int i = 0; i < 4; ++i) g_redirect.platformNames[i] = ModuleFileName(g_redirect.platform[i]);
  FindBoundFunctions(Redirected);
  g_redirect.watching = !realFiles.empty();
  g_redirect.openedLine = openedLine;
  if (g_redirect.watching)
    WatchRealFileOpens(realFiles, RealOpenSink{ThreadPrivateFile, RecordRealOpen});
  BindLoadedModules();
  void* cookie = nullptr;
  if (registerNotification(0, OnLoaderEvent, nullptr, &cookie) < 0) {
    *error = "the loader refused the host's notification of a module being loaded";
    return false;
  }
  return true;
}

std::wstring BoundSettingsFile(int copy) {
  return g_redirect.folder.empty() ? std::wstring() : PrivatePath(copy, kSettingsName);
}

void BeginBoundLoad(int copy, const std::wstring* fileName) {
  if (g_redirect.folder.empty()) return;
  TlsSetValue(g_redirect.loading, reinterpret_cast<void*>(static_cast<UINT_PTR>(copy + 1)));
  TlsSetValue(g_redirect.loadingName, const_cast<std::wstring*>(fileName));
  TlsSetValue(g_redirect.current, reinterpret_cast<void*>(static_cast<UINT_PTR>(copy + 1)));
}

std::string EndBoundLoad(HMODULE module) {
  if (g_redirect.folder.empty()) return std::string();
  int copy = static_cast<int>(Tls(g_redirect.loading)) - 1;
  TlsSetValue(g_redirect.loading, nullptr);
  TlsSetValue(g_redirect.loadingName, nullptr);
  if (module == nullptr) return std::string();
  EnterCriticalSection(&g_redirect.lock);
  const Binding* binding = BindingAt(reinterpret_cast<DWORD>(module));
  bool bound = binding != nullptr && binding->copy == copy;
  std::string failure = bound ? binding->rewrite.failure : std::string();
  int unfilled = bound ? binding->rewrite.unfilled : 0;
  LeaveCriticalSection(&g_redirect.lock);
  // Loaded already (no notification), or mapped before its slots were filled.
  if (!bound || unfilled > 0) {
    Bind(module, ImageSize(module), copy, ModuleFileName(module).c_str());
    EnterCriticalSection(&g_redirect.lock);
    const Binding* now = BindingAt(reinterpret_cast<DWORD>(module));
    if (now != nullptr) failure = now->rewrite.failure;
    LeaveCriticalSection(&g_redirect.lock);
  }
  return failure;
}

SettingsCallCount CountSettingsCalls(int copy) {
  if (g_redirect.folder.empty()) return SettingsCallCount{0, 0};
  EnterCriticalSection(&g_redirect.lock);
  SettingsCallCount count = {g_redirect.copies[copy].total, g_redirect.copies[copy].writes};
  LeaveCriticalSection(&g_redirect.lock);
  return count;
}

std::string SettingsCallsSince(int copy, size_t mark) {
  if (g_redirect.folder.empty()) return std::string();
  std::string calls;
  EnterCriticalSection(&g_redirect.lock);
  const CopyRecord& record = g_redirect.copies[copy];
  size_t kept = record.calls.size();
  size_t since = record.total - mark < kept ? kept - (record.total - mark) : 0;
  for (size_t i = since; i < kept; ++i) {
    if (calls.find(record.calls[i]) != std::string::npos) continue;
    calls += (calls.empty() ? "" : ", ") + record.calls[i];
  }
  LeaveCriticalSection(&g_redirect.lock);
  return calls;
}

SettingsVerdict UnbindSettingsCalls(int copy) {
  if (g_redirect.folder.empty()) return SettingsVerdict{};
  EnterCriticalSection(&g_redirect.lock);
  const CopyRecord& record = g_redirect.copies[copy];
  SettingsVerdict verdict = {record.wrongName, record.realOpen};
  g_redirect.copies.erase(copy);
  LeaveCriticalSection(&g_redirect.lock);
  return verdict;
}
