// The shipped plug-in's own code with one fault, for the validator's tests:
// linked with the module's objects, this file takes the place of one
// platform function the module imports (its import slot is defined here, so
// the import library's is not used), of the module's entry, or of one of its
// own sources (whose object the build leaves out). FAULTY_<name>
// picks the fault; each breaks one rule a host or a user would notice.
#include <windows.h>

#include "host/dialog_ids.h"
#include "plugin/dialog/dialog_logic.h"
#include "plugin/module/entry.h"
#include "plugin/settings/settings.h"

namespace {

template <typename Fn>
Fn Real(const char* module, const char* name) {
  return reinterpret_cast<Fn>(GetProcAddress(GetModuleHandleA(module), name));
}

// A function found in KERNEL32's export table by the module itself, as a
// delay-load helper does, past any import slot a host may bind.
[[maybe_unused]] void* Exported(const char* name) {
  auto* base = reinterpret_cast<BYTE*>(GetModuleHandleA("kernel32.dll"));
  auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& table = nt->OptionalHeader.DataDirectory[0];
  auto* exports = reinterpret_cast<IMAGE_EXPORT_DIRECTORY*>(base + table.VirtualAddress);
  auto* names = reinterpret_cast<DWORD*>(base + exports->AddressOfNames);
  auto* ordinals = reinterpret_cast<WORD*>(base + exports->AddressOfNameOrdinals);
  auto* functions = reinterpret_cast<DWORD*>(base + exports->AddressOfFunctions);
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
    if (lstrcmpA(reinterpret_cast<char*>(base + names[i]), name) == 0) {
      return base + functions[ordinals[i]];
    }
  }
  return nullptr;
}

void RewriteVersionKey() {
  WritePrivateProfileStringA("VELConfigData", "version", "1", "VELCNFG.INI");
}

// The Windows folder's settings file, by its full path.
[[maybe_unused]] void RealSettingsPath(char* path) {
  UINT length = GetWindowsDirectoryA(path, MAX_PATH - 16);
  lstrcpyA(path + length, "\\VELCNFG.INI");
}

}  // namespace

#if defined(FAULTY_CLOSES_ITSELF)
// The dialog closes itself as soon as it is set up.
extern "C" BOOL WINAPI FaultyMoveWindow(HWND window, int x, int y, int width, int height,
                                        BOOL repaint) {
  PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
  return Real<decltype(&MoveWindow)>("user32", "MoveWindow")(window, x, y, width, height, repaint);
}
extern "C" void* g_moveWindow asm("__imp__MoveWindow@24") =
    reinterpret_cast<void*>(FaultyMoveWindow);

#elif defined(FAULTY_IGNORES_CHOICE)
// A bit rate picked from the list springs back to the one the dialog opened with.
int g_openingIndex = -1;
extern "C" LRESULT WINAPI FaultySendMessageA(HWND window, UINT message, WPARAM w, LPARAM l) {
  auto send = Real<decltype(&SendMessageA)>("user32", "SendMessageA");
  if (message == CB_SETCURSEL) g_openingIndex = static_cast<int>(w);
  if (message == CB_GETCURSEL && g_openingIndex >= 0) send(window, CB_SETCURSEL, g_openingIndex, 0);
  return send(window, message, w, l);
}
extern "C" void* g_sendMessage asm("__imp__SendMessageA@16") =
    reinterpret_cast<void*>(FaultySendMessageA);

#elif defined(FAULTY_CANCEL_RETURNS_OK) || defined(FAULTY_WRITES_ON_CANCEL) || \
    defined(FAULTY_IGNORES_CANCEL) || defined(FAULTY_CRASHES_ON_CANCEL) ||     \
    defined(FAULTY_HANGS_ON_CANCEL) || defined(FAULTY_CHATTERS_ON_CANCEL)
// Cancel, Escape and the close box end the dialog as OK would, leave it open,
// crash, hang (silent, or writing a complaint without end), or rewrite a key
// of the settings file as they go.
extern "C" BOOL WINAPI FaultyEndDialog(HWND dialog, INT_PTR result) {
#if defined(FAULTY_CANCEL_RETURNS_OK)
  if (result == IDCANCEL) result = IDOK;
#elif defined(FAULTY_IGNORES_CANCEL)
  if (result == IDCANCEL) return TRUE;
#elif defined(FAULTY_CRASHES_ON_CANCEL)
  if (result == IDCANCEL) *static_cast<volatile int*>(nullptr) = 0;
#elif defined(FAULTY_HANGS_ON_CANCEL)
  if (result == IDCANCEL) Sleep(INFINITE);
#elif defined(FAULTY_CHATTERS_ON_CANCEL)
  // Some hundred kilobytes a second: more than the validator keeps of it.
  static const char kComplaint[] =
      "still cancelling, still cancelling, still cancelling, still cancelling, still "
      "cancelling, still cancelling, still cancelling, still cancelling, still cancelling\n";
  DWORD written = 0;
  while (result == IDCANCEL) {
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), kComplaint, sizeof kComplaint - 1, &written,
              nullptr);
    Sleep(1);
  }
#else
  if (result == IDCANCEL) RewriteVersionKey();
#endif
  return Real<decltype(&EndDialog)>("user32", "EndDialog")(dialog, result);
}
extern "C" void* g_endDialog asm("__imp__EndDialog@8") = reinterpret_cast<void*>(FaultyEndDialog);

#elif defined(FAULTY_STORES_UNSHOWN)
// OK stores the mono box the other way round from how it is shown.
extern "C" UINT WINAPI FaultyIsDlgButtonChecked(HWND dialog, int id) {
  UINT checked = Real<decltype(&IsDlgButtonChecked)>("user32", "IsDlgButtonChecked")(dialog, id);
  if (id != IDC_STEREO_TO_MONO) return checked;
  return checked == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
}
extern "C" void* g_isChecked asm("__imp__IsDlgButtonChecked@8") =
    reinterpret_cast<void*>(FaultyIsDlgButtonChecked);

#elif defined(FAULTY_MONO_NEVER_GREYED)
// The mono box stays usable at the lowest bit rate and with compression off.
extern "C" BOOL WINAPI FaultyEnableWindow(HWND window, BOOL enable) {
  if (GetDlgCtrlID(window) == IDC_STEREO_TO_MONO) enable = TRUE;
  return Real<decltype(&EnableWindow)>("user32", "EnableWindow")(window, enable);
}
extern "C" void* g_enableWindow asm("__imp__EnableWindow@8") =
    reinterpret_cast<void*>(FaultyEnableWindow);

#elif defined(FAULTY_NO_NAME_FALLBACK)
// The command's name is taken from whatever module the resource scope yields,
// with nothing published in its place when that module has none.
extern "C" int WINAPI FaultyLoadStringA(HINSTANCE module, UINT id, LPSTR buffer, int size) {
  int length = Real<decltype(&LoadStringA)>("user32", "LoadStringA")(module, id, buffer, size);
  if (length > 0 || size <= 0) return length;
  buffer[0] = '\0';
  return 1;
}
extern "C" void* g_loadString asm("__imp__LoadStringA@16") =
    reinterpret_cast<void*>(FaultyLoadStringA);

#elif defined(FAULTY_HIDES_WRITE_FAILURE)
// A write the file refused is reported as done.
extern "C" BOOL WINAPI FaultyWritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value,
                                                        LPCSTR file) {
  Real<decltype(&WritePrivateProfileStringA)>("kernel32", "WritePrivateProfileStringA")(
      section, key, value, file);
  return TRUE;
}
extern "C" void* g_writeProfile asm("__imp__WritePrivateProfileStringA@16") =
    reinterpret_cast<void*>(FaultyWritePrivateProfileStringA);

#elif defined(FAULTY_READS_FREED_OBJECT) || defined(FAULTY_WRITES_PAST_BLOCK)
// The module's interface objects as shipped, with one line added that a
// plain heap forgives: Release reads the count back from the object it has
// just freed, or a new object gets a byte written just past its block.
#define ReleaseInterfaceObject ReleaseInterfaceObjectAsShipped
#define CreateBoundInterface CreateBoundInterfaceAsShipped
#include "plugin/module/interface_object.cpp"
#undef ReleaseInterfaceObject
#undef CreateBoundInterface

uint32_t ReleaseInterfaceObject(InterfaceObject* object, ObjectDestroyHook destroyHook) {
  uint32_t count = ReleaseInterfaceObjectAsShipped(object, destroyHook);
#if defined(FAULTY_READS_FREED_OBJECT)
  if (count == 0) return static_cast<uint32_t>(*static_cast<volatile int32_t*>(&object->refCount));
#endif
  return count;
}

Status CreateBoundInterface(HostObjectHeader* owner, InterfaceObject** out, MethodTable* table,
                            ObjectInitHook initHook) {
  Status status = CreateBoundInterfaceAsShipped(owner, out, table, initHook);
#if defined(FAULTY_WRITES_PAST_BLOCK)
  if (*out != nullptr) reinterpret_cast<volatile uint8_t*>(*out)[sizeof(InterfaceObject)] = 0;
#endif
  return status;
}

#elif defined(FAULTY_WRITES_WHILE_OPEN)
// A third of a second after the dialog is set up, with nobody acting on it,
// a key of the settings file is rewritten.
void CALLBACK WriteUnasked(HWND dialog, UINT, UINT_PTR timer, DWORD) {
  KillTimer(dialog, timer);
  WritePrivateProfileStringA("VELConfigData", "version", "2", "VELCNFG.INI");
}
extern "C" BOOL WINAPI FaultyMoveWindow(HWND window, int x, int y, int width, int height,
                                        BOOL repaint) {
  SetTimer(window, 0x7B, 300, WriteUnasked);
  return Real<decltype(&MoveWindow)>("user32", "MoveWindow")(window, x, y, width, height, repaint);
}
extern "C" void* g_moveWindow asm("__imp__MoveWindow@24") =
    reinterpret_cast<void*>(FaultyMoveWindow);
#elif defined(FAULTY_STARTS_WRITER)
// As the dialog is set up, another process is started that appends to the
// real settings file, and waited for: a write the host can neither bind nor
// record.
extern "C" BOOL WINAPI FaultyMoveWindow(HWND window, int x, int y, int width, int height,
                                        BOOL repaint) {
  char command[MAX_PATH + 64] = "cmd.exe /c echo written by another process>>";
  RealSettingsPath(command + lstrlenA(command));
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                     &startup, &process)) {
    WaitForSingleObject(process.hProcess, 20000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  return Real<decltype(&MoveWindow)>("user32", "MoveWindow")(window, x, y, width, height, repaint);
}
extern "C" void* g_moveWindow asm("__imp__MoveWindow@24") =
    reinterpret_cast<void*>(FaultyMoveWindow);

#elif defined(FAULTY_CLOSES_ON_UNLISTED)
// Opened on a bit rate the list does not offer, the dialog ends itself half
// a second later, before a person would have read it.
void CALLBACK EndUnasked(HWND dialog, UINT, UINT_PTR timer, DWORD) {
  KillTimer(dialog, timer);
  EndDialog(dialog, IDCANCEL);
}
extern "C" LRESULT WINAPI FaultySendMessageA(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == CB_SETCURSEL &&
      IndexToBitRate(BitRateToIndex(g_settings.bitRate)) != g_settings.bitRate) {
    SetTimer(GetParent(window), 0x7A, 500, EndUnasked);
  }
  return Real<decltype(&SendMessageA)>("user32", "SendMessageA")(window, message, w, l);
}
extern "C" void* g_sendMessage asm("__imp__SendMessageA@16") =
    reinterpret_cast<void*>(FaultySendMessageA);

#elif defined(FAULTY_LOSES_WHEEL_CHOICE)
// The bit-rate list swallows the mouse wheel, so a rate chosen with it is
// lost; keys and clicks still work. Set up as the dialog is centred.
WNDPROC g_listProc = nullptr;
LRESULT CALLBACK WheelLosingProc(HWND list, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_MOUSEWHEEL) return 0;
  return CallWindowProcA(g_listProc, list, message, w, l);
}
extern "C" BOOL WINAPI FaultyMoveWindow(HWND window, int x, int y, int width, int height,
                                        BOOL repaint) {
  HWND list = GetDlgItem(window, IDC_BITRATE);
  g_listProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WheelLosingProc)));
  return Real<decltype(&MoveWindow)>("user32", "MoveWindow")(window, x, y, width, height, repaint);
}
extern "C" void* g_moveWindow asm("__imp__MoveWindow@24") =
    reinterpret_cast<void*>(FaultyMoveWindow);

#elif defined(FAULTY_SHARES_HOOKS)
// The class table as shipped, but the settings tool's class given the
// registration class's hooks, as a linker folding identical functions makes
// them. The shipped settings-tool hooks' definitions are renamed out of the
// way (a function-like macro touches only a name followed by "("), and the
// table's names for them are these pointers.
#include "plugin/module/class_table.h"
namespace {
Status PLUGIN_CALL RegistrationCreateHook(void*);
void PLUGIN_CALL RegistrationDestroyHook(void*);
constexpr InstanceCreateHook SettingsToolCreateHook = RegistrationCreateHook;
constexpr InstanceDestroyHook SettingsToolDestroyHook = RegistrationDestroyHook;
}  // namespace

// Built freestanding here, unlike the module's objects: the identifier
// comparison's copies stay inline as they are there.
#include <string.h>
#define memcpy __builtin_memcpy
#define SettingsToolCreateHook(instance) UnusedCreateHook(instance)
#define SettingsToolDestroyHook(instance) UnusedDestroyHook(instance)
#include "plugin/module/class_table.cpp"

#elif defined(FAULTY_LOOKS_UP_PROFILE) || defined(FAULTY_NAMES_OWN_FOLDER) || \
    defined(FAULTY_SPELLS_WINDOWS_FILE)
// Right behaviour by a road of its own: the profile functions looked up by
// name at each call, and (NAMES_OWN_FOLDER) the file named by a full path
// beside the module instead of the bare name, or (SPELLS_WINDOWS_FILE) the
// Windows folder's file in a new spelling at each call, as the file system
// reads them all alike.
const char* FileFor(const char* file) {
#if defined(FAULTY_SPELLS_WINDOWS_FILE)
  static const char* const kSpellings[] = {"\\\\?\\%s\\VELCNFG.INI", "%s/velcnfg.ini.",
                                           "%s\\VELCNFG.INI::$DATA", "%s\\..\\%s\\VELCNFG.INI  ",
                                           "\\??\\%s\\Velcnfg.Ini:$DATA"};
  static int next = 0;
  static char path[MAX_PATH * 2];
  char folder[MAX_PATH];
  GetWindowsDirectoryA(folder, MAX_PATH);
  const char* name = folder + lstrlenA(folder);
  while (name > folder && name[-1] != '\\') --name;
  const char* spelling = kSpellings[next++ % 5];
  // The fourth climbs out of the folder and back in by its own name.
  wsprintfA(path, spelling, folder, name);
  (void)file;
  return path;
#elif defined(FAULTY_NAMES_OWN_FOLDER)
  static char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(ModuleHandle, path, MAX_PATH);
  while (length > 0 && path[length - 1] != '\\') --length;
  lstrcpyA(path + length, file);
  return path;
#else
  return file;
#endif
}
extern "C" UINT WINAPI LookedUpGetInt(LPCSTR section, LPCSTR key, INT fallback, LPCSTR file) {
  return Real<decltype(&GetPrivateProfileIntA)>("kernel32", "GetPrivateProfileIntA")(
      section, key, fallback, FileFor(file));
}
extern "C" BOOL WINAPI LookedUpWrite(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file) {
  return Real<decltype(&WritePrivateProfileStringA)>("kernel32", "WritePrivateProfileStringA")(
      section, key, value, FileFor(file));
}
extern "C" void* g_getInt asm("__imp__GetPrivateProfileIntA@16") =
    reinterpret_cast<void*>(LookedUpGetInt);
extern "C" void* g_write asm("__imp__WritePrivateProfileStringA@16") =
    reinterpret_cast<void*>(LookedUpWrite);

#elif defined(FAULTY_DELAY_LOADS_PROFILE)
// Right behaviour, with the profile functions delay-loaded: a delay-import
// descriptor names them (set_delay_directory.sh points the header's
// directory at it), and each slot starts at a resolver that finds the
// function in KERNEL32's export table by itself, as a delay-load helper does.
asm(R"(
  .data
  .balign 4
  .globl delay_slots
delay_slots:
  .globl "__imp__GetPrivateProfileIntA@16"
"__imp__GetPrivateProfileIntA@16": .long "_ResolveGetInt@16"
  .globl "__imp__WritePrivateProfileStringA@16"
"__imp__WritePrivateProfileStringA@16": .long "_ResolveWrite@16"
  .long 0
delay_names: .rva name_get_int, name_write
  .long 0
delay_module: .long 0
name_get_int: .short 0
  .asciz "GetPrivateProfileIntA"
name_write: .short 0
  .asciz "WritePrivateProfileStringA"
delay_dll: .asciz "KERNEL32.dll"
  .balign 4
  .globl delay_import_descriptor
delay_import_descriptor:
  .long 1
  .rva delay_dll, delay_module, delay_slots, delay_names
  .long 0, 0, 0
  .long 0, 0, 0, 0, 0, 0, 0, 0
  .text
)");
extern "C" void* g_delaySlots[2] asm("delay_slots");

extern "C" UINT WINAPI ResolveGetInt(LPCSTR section, LPCSTR key, INT fallback, LPCSTR file) {
  g_delaySlots[0] = Exported("GetPrivateProfileIntA");
  return reinterpret_cast<decltype(&GetPrivateProfileIntA)>(g_delaySlots[0])(section, key, fallback,
                                                                             file);
}
extern "C" BOOL WINAPI ResolveWrite(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file) {
  g_delaySlots[1] = Exported("WritePrivateProfileStringA");
  return reinterpret_cast<decltype(&WritePrivateProfileStringA)>(g_delaySlots[1])(section, key,
                                                                                  value, file);
}

#elif defined(FAULTY_WRITES_AROUND_BINDING)
// OK's write made through the platform's function found in the export table:
// no import slot of the module's own leads to it.
extern "C" BOOL WINAPI UnboundWrite(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file) {
  return reinterpret_cast<decltype(&WritePrivateProfileStringA)>(
      Exported("WritePrivateProfileStringA"))(section, key, value, file);
}
extern "C" void* g_writeSlot asm("__imp__WritePrivateProfileStringA@16") =
    reinterpret_cast<void*>(UnboundWrite);

#elif defined(FAULTY_LOOKS_UP_ON_LOAD) || defined(FAULTY_LOOKS_UP_BY_ORDINAL)
// Right behaviour by a road of its own: the two profile functions looked up
// once, as the module loads (by name, or by the ordinal kernel32's export
// table gives the name), and every later call made through the kept pointers.
decltype(&GetPrivateProfileIntA) g_getInt = nullptr;
decltype(&WritePrivateProfileStringA) g_write = nullptr;

FARPROC LookUp(const char* name) {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
#if defined(FAULTY_LOOKS_UP_BY_ORDINAL)
  auto* base = reinterpret_cast<BYTE*>(kernel);
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS32*>(
      base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
  auto* exports = reinterpret_cast<IMAGE_EXPORT_DIRECTORY*>(
      base + nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT].VirtualAddress);
  auto* names = reinterpret_cast<DWORD*>(base + exports->AddressOfNames);
  auto* ordinals = reinterpret_cast<WORD*>(base + exports->AddressOfNameOrdinals);
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
    if (lstrcmpA(reinterpret_cast<char*>(base + names[i]), name) != 0) continue;
    return GetProcAddress(kernel, MAKEINTRESOURCEA(exports->Base + ordinals[i]));
  }
  return nullptr;
#else
  return GetProcAddress(kernel, name);
#endif
}
extern "C" BOOL WINAPI FaultyDllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_getInt = reinterpret_cast<decltype(g_getInt)>(LookUp("GetPrivateProfileIntA"));
    g_write = reinterpret_cast<decltype(g_write)>(LookUp("WritePrivateProfileStringA"));
  }
  return DllMain(module, reason, reserved);
}
extern "C" UINT WINAPI KeptGetInt(LPCSTR section, LPCSTR key, INT fallback, LPCSTR file) {
  return g_getInt(section, key, fallback, file);
}
extern "C" BOOL WINAPI KeptWrite(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file) {
  return g_write(section, key, value, file);
}
extern "C" void* g_getIntSlot asm("__imp__GetPrivateProfileIntA@16") =
    reinterpret_cast<void*>(KeptGetInt);
extern "C" void* g_writeSlot asm("__imp__WritePrivateProfileStringA@16") =
    reinterpret_cast<void*>(KeptWrite);

#elif defined(FAULTY_KEEPS_SETTINGS_WITH_CRT)
// Right behaviour by another module: the five keys read and written through
// the C runtime's fopen, fgets and fputs on the Windows folder's VELCNFG.INI,
// line by line as the profile functions would (keys in place, the rest kept).
struct File;
struct Runtime {
  File*(__cdecl* open)(const char* path, const char* mode);
  char*(__cdecl* gets)(char* line, int size, File* file);
  int(__cdecl* puts)(const char* line, File* file);
  int(__cdecl* close)(File* file);
};

const Runtime& C() {
  static Runtime runtime = {};
  if (runtime.open == nullptr) {
    HMODULE crt = LoadLibraryA("msvcrt.dll");
    runtime.gets = reinterpret_cast<decltype(runtime.gets)>(GetProcAddress(crt, "fgets"));
    runtime.puts = reinterpret_cast<decltype(runtime.puts)>(GetProcAddress(crt, "fputs"));
    runtime.close = reinterpret_cast<decltype(runtime.close)>(GetProcAddress(crt, "fclose"));
    runtime.open = reinterpret_cast<decltype(runtime.open)>(GetProcAddress(crt, "fopen"));
  }
  return runtime;
}

const char* SettingsPath() {
  static char path[MAX_PATH + 16];
  UINT length = GetWindowsDirectoryA(path, MAX_PATH);
  lstrcpyA(path + length, "\\VELCNFG.INI");
  return path;
}

char* Trim(char* text) {
  while (*text == ' ' || *text == '\t') ++text;
  int length = lstrlenA(text);
  while (length > 0 && (text[length - 1] == ' ' || text[length - 1] == '\t' ||
                        text[length - 1] == '\n' || text[length - 1] == '\r')) {
    text[--length] = '\0';
  }
  return text;
}

// What a line is: a section's start (`name` its name), a key (`name`,
// `value`), or neither. The line is cut up in place.
enum LineKind { kOther, kSection, kKey };
LineKind Parse(char* line, char** name, char** value) {
  char* text = Trim(line);
  if (*text == '[') {
    char* end = text + 1;
    while (*end != '\0' && *end != ']') ++end;
    *end = '\0';
    *name = text + 1;
    return kSection;
  }
  char* equals = text;
  while (*equals != '\0' && *equals != '=') ++equals;
  if (*equals != '=' || *text == ';') return kOther;
  *equals = '\0';
  *name = Trim(text);
  *value = Trim(equals + 1);
  return kKey;
}

// As the platform reads a number: sign, a base prefix (0x, 0o, 0b), then the
// digits of that base, wrapping at 32 bits.
UINT Number(const char* text) {
  bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  UINT base = 10;
  if (text[0] == '0' && (text[1] | 0x20) == 'x') base = 16;
  if (text[0] == '0' && (text[1] | 0x20) == 'o') base = 8;
  if (text[0] == '0' && (text[1] | 0x20) == 'b') base = 2;
  if (base != 10) text += 2;
  UINT value = 0;
  for (;; ++text) {
    char c = static_cast<char>(*text | 0x20);
    UINT digit = c >= '0' && c <= '9'   ? static_cast<UINT>(c - '0')
                 : c >= 'a' && c <= 'f' ? static_cast<UINT>(c - 'a' + 10)
                                        : 99;
    if (digit >= base) break;
    value = value * base + digit;
  }
  return negative ? 0u - value : value;
}

// The whole file through fgets, its lines then split at any line end (a
// lone carriage return too, as the profile functions split them).
char g_text[32768];
char g_out[32768];
bool ReadAll() {
  g_text[0] = '\0';
  File* file = C().open(SettingsPath(), "r");
  if (file == nullptr) return false;
  int length = 0;
  while (length < static_cast<int>(sizeof g_text) - 1 &&
         C().gets(g_text + length, static_cast<int>(sizeof g_text) - length, file) != nullptr) {
    length += lstrlenA(g_text + length);
  }
  C().close(file);
  return true;
}

// The next line of `*at` copied to `line`; false at the end.
bool NextLine(const char** at, char* line, int size) {
  if (**at == '\0') return false;
  int length = 0;
  while (**at != '\0' && **at != '\r' && **at != '\n') {
    if (length < size - 1) line[length++] = **at;
    ++*at;
  }
  line[length] = '\0';
  if (**at == '\r' && (*at)[1] == '\n') ++*at;
  if (**at != '\0') ++*at;
  return true;
}

extern "C" UINT WINAPI RuntimeGetInt(LPCSTR section, LPCSTR key, INT fallback, LPCSTR) {
  if (!ReadAll()) return static_cast<UINT>(fallback);
  const char* at = g_text;
  char line[1024];
  bool inSection = false;
  while (NextLine(&at, line, sizeof line)) {
    char* name = nullptr;
    char* value = nullptr;
    LineKind kind = Parse(line, &name, &value);
    if (kind == kSection) inSection = lstrcmpiA(name, section) == 0;
    if (kind != kKey || !inSection || lstrcmpiA(name, key) != 0) continue;
    return *value != '\0' ? Number(value) : static_cast<UINT>(fallback);
  }
  return static_cast<UINT>(fallback);
}

void Append(int* length, const char* text) {
  if (*length + lstrlenA(text) + 1 >= static_cast<int>(sizeof g_out)) return;
  lstrcpyA(g_out + *length, text);
  *length += lstrlenA(text);
}

extern "C" BOOL WINAPI RuntimeWrite(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR) {
  char keyLine[256];
  wsprintfA(keyLine, "%s=%s\n", key, value);
  ReadAll();
  const char* at = g_text;
  int length = 0;
  bool inSection = false;
  bool sectionSeen = false;
  bool written = false;
  char line[1024];
  char copy[1024];
  while (NextLine(&at, line, sizeof line)) {
    lstrcpyA(copy, line);
    char* name = nullptr;
    char* old = nullptr;
    LineKind kind = Parse(copy, &name, &old);
    if (kind == kSection) {
      // A key its section lacked goes at the section's end.
      if (inSection && !written) Append(&length, keyLine);
      written = written || inSection;
      inSection = lstrcmpiA(name, section) == 0;
      sectionSeen = sectionSeen || inSection;
    } else if (kind == kKey && inSection && !written && lstrcmpiA(name, key) == 0) {
      Append(&length, keyLine);
      written = true;
      continue;
    }
    Append(&length, line);
    Append(&length, "\n");
  }
  if (!written) {
    if (!sectionSeen) {
      Append(&length, "[");
      Append(&length, section);
      Append(&length, "]\n");
    }
    Append(&length, keyLine);
  }
  File* out = C().open(SettingsPath(), "w");
  if (out == nullptr) return FALSE;
  bool ok = C().puts(g_out, out) >= 0;
  return C().close(out) == 0 && ok;
}
extern "C" void* g_getIntSlot asm("__imp__GetPrivateProfileIntA@16") =
    reinterpret_cast<void*>(RuntimeGetInt);
extern "C" void* g_writeSlot asm("__imp__WritePrivateProfileStringA@16") =
    reinterpret_cast<void*>(RuntimeWrite);

#else
// Faults of the module's entry, which the build names as the entry point.
extern "C" BOOL WINAPI FaultyDllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
  BOOL result = DllMain(module, reason, reserved);
#if defined(FAULTY_WRITES_ON_UNLOAD)
  // The settings last read or confirmed are saved again as the module leaves.
  if (reason == DLL_PROCESS_DETACH && g_settings.size != 0) WriteSettings(&g_settings);
#elif defined(FAULTY_WRITES_ON_LOAD)
  // A key rewritten as the module loads, before a host that binds late
  // could bind its calls.
  if (reason == DLL_PROCESS_ATTACH) RewriteVersionKey();
#elif defined(FAULTY_WRITES_PAST_THE_HOST)
  // As the module loads, a process it starts rewrites the person's file:
  // a road no binding in this process covers. The line before it stands for
  // the record the host's file-open level prints of a road it saw but could
  // not redirect, so that the validator's put-back runs on a write that
  // really reached the person's file.
  if (reason == DLL_PROCESS_ATTACH) {
    char line[MAX_PATH + 128] = "REAL SETTINGS FILE OPENED: ";
    RealSettingsPath(line + lstrlenA(line));
    lstrcatA(line, " for writing by a process the module's entry started\r\n");
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, lstrlenA(line), &written, nullptr);
    // Written beside it and moved over it, as a careful program saves: a cut
    // leaves the old bytes or the new, so what a test finds is the host's doing.
    char path[MAX_PATH];
    RealSettingsPath(path);
    char command[3 * MAX_PATH + 64] = "cmd.exe /c echo written at load>";
    lstrcatA(command, path);
    lstrcatA(command, ".new&& move /y ");
    lstrcatA(command, path);
    lstrcatA(command, ".new ");
    lstrcatA(command, path);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    // Detached: with a console of its own it would bring Wine a console host,
    // which runs on for good when a cut ends the job while cmd.exe is still
    // being started (Wine's job misses a process without a thread yet).
    if (CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                       nullptr, &startup, &process)) {
      WaitForSingleObject(process.hProcess, 20000);
      CloseHandle(process.hThread);
      CloseHandle(process.hProcess);
    }
  }
#elif defined(FAULTY_FORGETS_MODULE_ON_THREAD_END)
  // A thread's end clears the module handle every later call relies on.
  if (reason == DLL_THREAD_DETACH) ModuleHandle = nullptr;
#elif defined(FAULTY_PINS_ITSELF)
  // The module holds a reference on itself, so unloading leaves it loaded.
  HMODULE self = nullptr;
  if (reason == DLL_PROCESS_ATTACH) {
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCSTR>(&FaultyDllMain), &self);
  }
#elif defined(FAULTY_SINGLE_COPY)
  // A second copy of the module refuses to load beside the first.
  static HANDLE s_marker = nullptr;
  if (reason == DLL_PROCESS_ATTACH) {
    s_marker = CreateMutexA(nullptr, FALSE, "VELSTTNG-faulty-single-copy");
    if (GetLastError() == ERROR_ALREADY_EXISTS) result = FALSE;
  }
  if (reason == DLL_PROCESS_DETACH && s_marker != nullptr) CloseHandle(s_marker);
#endif
  return result;
}
#endif
