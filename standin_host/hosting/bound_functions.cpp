#include "standin_host/hosting/bound_functions.h"

#include <string.h>

#include <tuple>
#include <type_traits>
#include <utility>

#include "standin_host/hosting/settings_names.h"

namespace {

PathRedirect g_redirect = nullptr;

// A path argument's replacement, when it has one.
struct Redirection {
  bool used = false;
  std::string ansi;
  std::wstring wide;
};

void Redirect(void* caller, const char* function, CallKind kind, LPCWSTR given, Redirection* r) {
  // A null profile file is the platform's WIN.INI.
  if (given == nullptr && IsFileCall(kind)) return;
  r->used = g_redirect(caller, function, kind, given != nullptr ? given : L"WIN.INI", &r->wide);
}
void Redirect(void* caller, const char* function, CallKind kind, LPCSTR given, Redirection* r) {
  if (given == nullptr && IsFileCall(kind)) return;
  std::wstring to;
  r->used = g_redirect(caller, function, kind,
                       given != nullptr ? WideFromAnsi(given) : std::wstring(L"WIN.INI"), &to);
  // The folder was checked to survive the code page; the file's name came from it.
  if (r->used) AnsiFromWide(to, &r->ansi);
}

LPCSTR Text(const Redirection& r, LPCSTR) { return r.ansi.c_str(); }
LPCWSTR Text(const Redirection& r, LPCWSTR) { return r.wide.c_str(); }

template <typename T>
constexpr bool kIsPath = std::is_same<T, LPCSTR>::value || std::is_same<T, LPCWSTR>::value;

template <int K, int... P>
constexpr bool kListed = ((K == P) || ...);

// Argument K as passed on: a path argument's replacement, anything else as given.
template <bool path, typename T>
T Pass(T given, const Redirection& r) {
  if constexpr (path) {
    return r.used ? Text(r, given) : given;
  } else {
    return given;
  }
}

const char* FunctionName(int index);
FARPROC Real(int index);

// Through void (*)(), the one function pointer type any other converts to quietly.
template <typename To>
To FunctionFrom(FARPROC address) {
  return reinterpret_cast<To>(reinterpret_cast<void (*)()>(address));
}

// The host's function for one platform function: its path arguments (P, by
// position, each checked to be a path by type) redirected, then the
// platform's own function called. The calling convention is stated here, not
// deduced, as the compiler may drop it from a deduced function type.
template <typename R, typename... A>
struct Signature {
  typedef R(WINAPI* Platform)(A...);

  template <int I, CallKind kind, int... P, size_t... K>
  static R Forward(std::index_sequence<K...>, const Redirection* to, A... arguments) {
    return FunctionFrom<Platform>(Real(I))(
        Pass<kListed<static_cast<int>(K), P...>>(arguments, to[K])...);
  }

  template <int I, CallKind kind, int... P>
  static R WINAPI Call(A... arguments) {
    static_assert((kIsPath<std::tuple_element_t<P, std::tuple<A...>>> && ...),
                  "a bound argument must be a path (LPCSTR or LPCWSTR)");
    void* caller = __builtin_return_address(0);
    Redirection to[sizeof...(A)];
    std::tuple<A...> given(arguments...);
    (Redirect(caller, FunctionName(I), kind, std::get<P>(given), &to[P]), ...);
    return Forward<I, kind, P...>(std::index_sequence_for<A...>(), to, arguments...);
  }
};
template <typename R, typename... A>
Signature<R, A...> SignatureOf(R(WINAPI*)(A...));

// Each bound function once: its name, what it is, its path arguments.
#define BOUND_FUNCTIONS(X)                           \
  X(GetPrivateProfileIntA, kProfileRead, 3)          \
  X(GetPrivateProfileIntW, kProfileRead, 3)          \
  X(GetPrivateProfileStringA, kProfileRead, 5)       \
  X(GetPrivateProfileStringW, kProfileRead, 5)       \
  X(GetPrivateProfileSectionA, kProfileRead, 3)      \
  X(GetPrivateProfileSectionW, kProfileRead, 3)      \
  X(GetPrivateProfileSectionNamesA, kProfileRead, 2) \
  X(GetPrivateProfileSectionNamesW, kProfileRead, 2) \
  X(GetPrivateProfileStructA, kProfileRead, 4)       \
  X(GetPrivateProfileStructW, kProfileRead, 4)       \
  X(WritePrivateProfileStringA, kProfileWrite, 3)    \
  X(WritePrivateProfileStringW, kProfileWrite, 3)    \
  X(WritePrivateProfileSectionA, kProfileWrite, 2)   \
  X(WritePrivateProfileSectionW, kProfileWrite, 2)   \
  X(WritePrivateProfileStructA, kProfileWrite, 4)    \
  X(WritePrivateProfileStructW, kProfileWrite, 4)    \
  X(CreateFileA, kFileRead, 0)                       \
  X(CreateFileW, kFileRead, 0)                       \
  X(GetFileAttributesA, kFileRead, 0)                \
  X(GetFileAttributesW, kFileRead, 0)                \
  X(GetFileAttributesExA, kFileRead, 0)              \
  X(GetFileAttributesExW, kFileRead, 0)              \
  X(SetFileAttributesA, kFileWrite, 0)               \
  X(SetFileAttributesW, kFileWrite, 0)               \
  X(DeleteFileA, kFileWrite, 0)                      \
  X(DeleteFileW, kFileWrite, 0)                      \
  X(MoveFileA, kFileWrite, 0, 1)                     \
  X(MoveFileW, kFileWrite, 0, 1)                     \
  X(MoveFileExA, kFileWrite, 0, 1)                   \
  X(MoveFileExW, kFileWrite, 0, 1)                   \
  X(CopyFileA, kFileWrite, 0, 1)                     \
  X(CopyFileW, kFileWrite, 0, 1)                     \
  X(FindFirstFileA, kFileRead, 0)                    \
  X(FindFirstFileW, kFileRead, 0)                    \
  X(OpenFile, kFileRead, 0)                          \
  X(_lopen, kFileRead, 0)                            \
  X(_lcreat, kFileWrite, 0)

enum Index : int {
#define BOUND_INDEX(name, kind, ...) kIndexOf##name,
  BOUND_FUNCTIONS(BOUND_INDEX)
#undef BOUND_INDEX
      kBoundCount
};

template <typename Fn>
FARPROC AsProc(Fn* function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

struct Row {
  const char* name;
  FARPROC own;
};
const Row kRows[kBoundCount] = {
#define BOUND_ROW(name, kind, ...) \
  {#name, AsProc(decltype(SignatureOf(&name))::Call<kIndexOf##name, CallKind::kind, __VA_ARGS__>)},
    BOUND_FUNCTIONS(BOUND_ROW)
#undef BOUND_ROW
};

// The platform's functions, found before any thread starts: each row's
// kernel32 and kernelbase addresses, and where its own call goes.
struct Platform {
  FARPROC real[kBoundCount + 1];
  DWORD address[2][kBoundCount + 1];
};
Platform g_platform;

const char* FunctionName(int index) { return kRows[index].name; }
FARPROC Real(int index) { return g_platform.real[index]; }

FARPROC WINAPI OwnGetProcAddress(HMODULE module, LPCSTR name);
constexpr int kGetProcAddress = kBoundCount;

FARPROC OwnAt(int index) {
  return index == kGetProcAddress ? AsProc(OwnGetProcAddress) : kRows[index].own;
}

}  // namespace

FARPROC OwnFunctionAt(DWORD address) {
  if (address == 0) return nullptr;
  for (int i = 0; i <= kBoundCount; ++i) {
    if (g_platform.address[0][i] == address || g_platform.address[1][i] == address) return OwnAt(i);
  }
  return nullptr;
}

FARPROC OwnFunctionNamed(const char* name) {
  for (int i = 0; i < kBoundCount; ++i) {
    if (strcmp(kRows[i].name, name) == 0) return kRows[i].own;
  }
  return strcmp(name, "GetProcAddress") == 0 ? AsProc(OwnGetProcAddress) : nullptr;
}

namespace {

// Decided by the address the platform finds, however it was asked for.
FARPROC WINAPI OwnGetProcAddress(HMODULE module, LPCSTR name) {
  FARPROC found =
      FunctionFrom<decltype(&GetProcAddress)>(g_platform.real[kGetProcAddress])(module, name);
  FARPROC own = OwnFunctionAt(reinterpret_cast<DWORD>(found));
  return own != nullptr ? own : found;
}

}  // namespace

void FindBoundFunctions(PathRedirect redirect) {
  g_redirect = redirect;
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  HMODULE kernelBase = GetModuleHandleW(L"kernelbase.dll");
  for (int i = 0; i <= kBoundCount; ++i) {
    const char* name = i == kGetProcAddress ? "GetProcAddress" : kRows[i].name;
    g_platform.real[i] = GetProcAddress(kernel, name);
    g_platform.address[0][i] = reinterpret_cast<DWORD>(g_platform.real[i]);
    g_platform.address[1][i] =
        kernelBase != nullptr ? reinterpret_cast<DWORD>(GetProcAddress(kernelBase, name)) : 0;
  }
}
