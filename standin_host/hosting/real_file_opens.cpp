#include "standin_host/hosting/real_file_opens.h"

#include <string.h>
#include <wchar.h>

namespace {

// The file system's calls, declared here as ntdll exports them.
struct NtName {
  USHORT length;  // in bytes
  USHORT maximumLength;
  wchar_t* buffer;
};
struct NtObject {
  ULONG length;
  HANDLE root;
  NtName* name;
  ULONG attributes;
  void* security;
  void* quality;
};
typedef LONG(NTAPI* NtCreateFileFn)(HANDLE* file, ACCESS_MASK access, NtObject* object, void* io,
                                    LARGE_INTEGER* size, ULONG attributes, ULONG share,
                                    ULONG disposition, ULONG options, void* ea, ULONG eaLength);
typedef LONG(NTAPI* NtOpenFileFn)(HANDLE* file, ACCESS_MASK access, NtObject* object, void* io,
                                  ULONG share, ULONG options);
typedef LONG(NTAPI* NtSetInformationFileFn)(HANDLE file, void* io, void* information, ULONG length,
                                            ULONG informationClass);

// A rename's or link's target, as the information classes lay it out.
struct NtRenameTarget {
  ULONG replaceOrFlags;
  HANDLE root;
  ULONG nameLength;  // in bytes
  wchar_t name[1];
};
constexpr ULONG kRenameClasses[] = {10, 11, 65, 72};  // rename, link, and their Ex forms

// Supersede, create, open-or-create, overwrite, overwrite-or-create.
constexpr ULONG kCreatingDispositions[] = {0, 2, 3, 4, 5};
constexpr ULONG kDeleteOnClose = 0x1000;

struct Watch {
  std::vector<std::wstring> spellings;  // each real file, long and short
  NtCreateFileFn create;
  NtOpenFileFn open;
  NtSetInformationFileFn setInformation;
  DWORD busy;  // TLS: set while this thread is inside one of the host's functions
};
Watch g_watch;
RealOpenSink g_sink;

// What the file system sees: \??\C:\..., perhaps a stream or trailing dots.
std::wstring Plain(const wchar_t* text, size_t length) {
  std::wstring name(text, length);
  for (const wchar_t* prefix : {L"\\??\\", L"\\\\?\\", L"\\DosDevices\\"}) {
    size_t size = wcslen(prefix);
    if (name.size() > size && CompareStringOrdinal(name.c_str(), static_cast<int>(size), prefix,
                                                   static_cast<int>(size), TRUE) == CSTR_EQUAL) {
      name.erase(0, size);
      break;
    }
  }
  size_t last = name.find_last_of(L'\\');
  size_t colon = name.find(L':', last == std::wstring::npos ? 2 : last + 1);
  if (colon != std::wstring::npos) name.erase(colon);
  while (!name.empty() && (name.back() == L'.' || name.back() == L' ')) name.pop_back();
  return name;
}

// Which real file `name` is, "" when none. A name relative to a folder's
// handle is not matched.
std::wstring RealFileNamed(HANDLE root, const wchar_t* text, size_t length) {
  if (root != nullptr || text == nullptr) return std::wstring();
  std::wstring name = Plain(text, length);
  for (const std::wstring& spelling : g_watch.spellings) {
    if (CompareStringOrdinal(name.c_str(), static_cast<int>(name.size()), spelling.c_str(),
                             static_cast<int>(spelling.size()), TRUE) == CSTR_EQUAL) {
      return spelling;
    }
  }
  return std::wstring();
}

// The kinds of change an access mask, a disposition and options ask for.
std::string Change(ACCESS_MASK access, ULONG disposition, ULONG options) {
  static const struct {
    ACCESS_MASK bit;
    const char* what;
  } kBits[] = {{FILE_WRITE_DATA, "writing data"},
               {FILE_APPEND_DATA, "appending"},
               {FILE_WRITE_ATTRIBUTES, "attributes"},
               {FILE_WRITE_EA, "extended attributes"},
               {WRITE_DAC, "its access list"},
               {WRITE_OWNER, "its owner"},
               {DELETE, "deleting"},
               {GENERIC_WRITE, "generic write"},
               {GENERIC_ALL, "generic all"},
               {MAXIMUM_ALLOWED, "maximum access"}};
  std::string change;
  for (const auto& bit : kBits) {
    if ((access & bit.bit) != 0) change += (change.empty() ? "" : ", ") + std::string(bit.what);
  }
  for (ULONG creating : kCreatingDispositions) {
    if (disposition == creating) change += (change.empty() ? "" : ", ") + std::string("creating");
  }
  if ((options & kDeleteOnClose) != 0)
    change += (change.empty() ? "" : ", ") + std::string("delete on close");
  return change;
}

// One thread inside the host's functions at a time: the host's own calls
// below them pass straight through.
struct Busy {
  bool outer;
  Busy() : outer(TlsGetValue(g_watch.busy) == nullptr) {
    if (outer) TlsSetValue(g_watch.busy, reinterpret_cast<void*>(1));
  }
  ~Busy() {
    if (outer) TlsSetValue(g_watch.busy, nullptr);
  }
};

// The private file instead, in the same form.
struct Instead {
  std::wstring text;
  NtName name;
  NtObject object;
};
NtObject* Redirected(const NtObject* given, Instead* instead) {
  instead->text = L"\\??\\" + g_sink.privateFile();
  instead->name.length = static_cast<USHORT>(instead->text.size() * sizeof(wchar_t));
  instead->name.maximumLength = instead->name.length;
  instead->name.buffer = &instead->text[0];
  instead->object = *given;
  instead->object.name = &instead->name;
  return &instead->object;
}

// Sent to the private file and recorded when it would change a real file.
NtObject* Judged(void* caller, const char* function, NtObject* object, ACCESS_MASK access,
                 ULONG disposition, ULONG options, Instead* instead) {
  if (object == nullptr || object->name == nullptr) return object;
  std::string change = Change(access, disposition, options);
  if (change.empty()) return object;
  std::wstring real =
      RealFileNamed(object->root, object->name->buffer, object->name->length / sizeof(wchar_t));
  if (real.empty()) return object;
  g_sink.record(caller, function, real, change);
  return Redirected(object, instead);
}

LONG NTAPI OwnNtCreateFile(HANDLE* file, ACCESS_MASK access, NtObject* object, void* io,
                           LARGE_INTEGER* size, ULONG attributes, ULONG share, ULONG disposition,
                           ULONG options, void* ea, ULONG eaLength) {
  Busy busy;
  Instead instead;
  if (busy.outer) {
    object = Judged(__builtin_return_address(0), "NtCreateFile", object, access, disposition,
                    options, &instead);
  }
  return g_watch.create(file, access, object, io, size, attributes, share, disposition, options, ea,
                        eaLength);
}

LONG NTAPI OwnNtOpenFile(HANDLE* file, ACCESS_MASK access, NtObject* object, void* io, ULONG share,
                         ULONG options) {
  Busy busy;
  Instead instead;
  if (busy.outer) {
    object =
        Judged(__builtin_return_address(0), "NtOpenFile", object, access, 1, options, &instead);
  }
  return g_watch.open(file, access, object, io, share, options);
}

bool IsRenameClass(ULONG informationClass) {
  for (ULONG rename : kRenameClasses) {
    if (informationClass == rename) return true;
  }
  return false;
}

// A rename or link onto a real file goes onto the private file instead.
LONG NTAPI OwnNtSetInformationFile(HANDLE file, void* io, void* information, ULONG length,
                                   ULONG informationClass) {
  Busy busy;
  if (!busy.outer || !IsRenameClass(informationClass) || information == nullptr ||
      length < sizeof(NtRenameTarget)) {
    return g_watch.setInformation(file, io, information, length, informationClass);
  }
  const auto* target = static_cast<const NtRenameTarget*>(information);
  std::wstring real = RealFileNamed(target->root, target->name, target->nameLength / 2);
  if (real.empty()) return g_watch.setInformation(file, io, information, length, informationClass);
  g_sink.record(
      __builtin_return_address(0), "NtSetInformationFile", real,
      informationClass == 11 || informationClass == 72 ? "a link onto it" : "a rename onto it");
  std::wstring instead = L"\\??\\" + g_sink.privateFile();
  std::vector<BYTE> buffer(sizeof(NtRenameTarget) + instead.size() * sizeof(wchar_t));
  auto* moved = reinterpret_cast<NtRenameTarget*>(buffer.data());
  moved->replaceOrFlags = target->replaceOrFlags;
  moved->root = nullptr;
  moved->nameLength = static_cast<ULONG>(instead.size()) * static_cast<ULONG>(sizeof(wchar_t));
  memcpy(moved->name, instead.c_str(), moved->nameLength);
  return g_watch.setInformation(file, io, moved, static_cast<ULONG>(buffer.size()),
                                informationClass);
}

template <typename To>
To FunctionFrom(FARPROC address) {
  return reinterpret_cast<To>(reinterpret_cast<void (*)()>(address));
}
template <typename Fn>
FARPROC AsProc(Fn* function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

void AddSpellings(const std::wstring& file) {
  g_watch.spellings.push_back(file);
  size_t last = file.find_last_of(L'\\');
  wchar_t shortName[MAX_PATH];
  DWORD length = GetShortPathNameW(file.substr(0, last).c_str(), shortName, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  std::wstring folder(shortName, length);
  g_watch.spellings.push_back(folder + file.substr(last));
  length = GetShortPathNameW(file.c_str(), shortName, MAX_PATH);
  if (length > 0 && length < MAX_PATH) g_watch.spellings.push_back(std::wstring(shortName, length));
}

}  // namespace

void WatchRealFileOpens(const std::vector<std::wstring>& realFiles, const RealOpenSink& sink) {
  g_sink = sink;
  g_watch.busy = TlsAlloc();
  for (const std::wstring& file : realFiles) AddSpellings(file);
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  g_watch.create = FunctionFrom<NtCreateFileFn>(GetProcAddress(ntdll, "NtCreateFile"));
  g_watch.open = FunctionFrom<NtOpenFileFn>(GetProcAddress(ntdll, "NtOpenFile"));
  g_watch.setInformation =
      FunctionFrom<NtSetInformationFileFn>(GetProcAddress(ntdll, "NtSetInformationFile"));
}

FARPROC OwnFileSystemFunction(DWORD address) {
  if (address == 0 || g_watch.create == nullptr) return nullptr;
  if (address == reinterpret_cast<DWORD>(g_watch.create)) return AsProc(OwnNtCreateFile);
  if (address == reinterpret_cast<DWORD>(g_watch.open)) return AsProc(OwnNtOpenFile);
  if (address == reinterpret_cast<DWORD>(g_watch.setInformation)) {
    return AsProc(OwnNtSetInformationFile);
  }
  return nullptr;
}
