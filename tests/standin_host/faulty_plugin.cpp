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

#elif defined(FAULTY_LOOKS_UP_PROFILE) || defined(FAULTY_NAMES_OWN_FOLDER)
// Right behaviour by a road of its own: the profile functions looked up by
// name at each call, and (NAMES_OWN_FOLDER) the file named by a full path
// beside the module instead of the bare name.
const char* FileFor(const char* file) {
#if defined(FAULTY_NAMES_OWN_FOLDER)
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

void* Exported(const char* name) {
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

#else
// Faults of the module's entry, which the build names as the entry point.
extern "C" BOOL WINAPI FaultyDllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
  BOOL result = DllMain(module, reason, reserved);
#if defined(FAULTY_WRITES_ON_UNLOAD)
  // The settings last read or confirmed are saved again as the module leaves.
  if (reason == DLL_PROCESS_DETACH && g_settings.size != 0) WriteSettings(&g_settings);
#elif defined(FAULTY_WRITES_ON_LOAD)
  // A key rewritten as the module loads, before any host could bind its
  // calls. The line before it is the one the host's record of file opens
  // prints as such a write opens the file: here the build prints it itself,
  // so that the validator's judgement of a recorded change runs on a write
  // that really reached the person's file.
  if (reason == DLL_PROCESS_ATTACH) {
    char line[MAX_PATH + 128] = "REAL SETTINGS FILE OPENED: ";
    RealSettingsPath(line + lstrlenA(line));
    lstrcatA(line, " for writing by the module's entry, before the host bound its calls\r\n");
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, lstrlenA(line), &written, nullptr);
    RewriteVersionKey();
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
