#include "standin_host/random_user/user_input.h"

#include <initializer_list>

namespace {

HWND ListOf(HWND combo) {
  COMBOBOXINFO info = {};
  info.cbSize = sizeof info;
  if (!GetComboBoxInfo(combo, &info)) return nullptr;
  return info.hwndList;
}

bool Dropped(HWND combo) { return SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0) != FALSE; }

// Input goes to windows of the dialog's thread in this process, nowhere else.
bool OwnWindow(HWND dialog, HWND window) {
  DWORD process = 0;
  DWORD thread = window != nullptr ? GetWindowThreadProcessId(window, &process) : 0;
  return thread != 0 && process == GetCurrentProcessId() &&
         thread == GetWindowThreadProcessId(dialog, nullptr);
}

GUITHREADINFO DialogThreadInput(HWND dialog) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info);
  return info;
}

bool Covers(HWND window, POINT screen) {
  RECT rect = {};
  return IsWindowVisible(window) && GetWindowRect(window, &rect) && PtInRect(&rect, screen);
}

LRESULT HitTest(HWND window, int x, int y) {
  return SendMessageW(window, WM_NCHITTEST, 0, MAKELPARAM(x, y));
}

// The child under the point as the platform picks it: the topmost visible
// one that is enabled and not transparent to the mouse (a group box, a
// label), or null.
HWND ChildAt(HWND parent, POINT screen) {
  for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    if (!Covers(child, screen) || !IsWindowEnabled(child)) continue;
    if (HitTest(child, screen.x, screen.y) == HTTRANSPARENT) continue;
    HWND inner = ChildAt(child, screen);
    return inner != nullptr ? inner : child;
  }
  return nullptr;
}

// A combo box's list while it is dropped down, or null.
HWND DroppedListAt(HWND dialog, POINT screen) {
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    COMBOBOXINFO info = {};
    info.cbSize = sizeof info;
    if (GetComboBoxInfo(child, &info) && info.hwndList != nullptr && Covers(info.hwndList, screen))
      return info.hwndList;
  }
  return nullptr;
}

// The dialog's window under a screen point, as it would be with nothing
// else on the desktop: the dropped-down list, which lies above the dialog,
// then a control, then the dialog itself; null outside them all.
HWND DialogWindowAt(HWND dialog, POINT screen) {
  HWND list = DroppedListAt(dialog, screen);
  if (list != nullptr) return list;
  if (!Covers(dialog, screen)) return nullptr;
  HWND child = ChildAt(dialog, screen);
  return child != nullptr ? child : dialog;
}

std::string Unreachable(const char* what, POINT screen) {
  return std::string(what) + " at (" + std::to_string(screen.x) + ", " + std::to_string(screen.y) +
         ")";
}

std::wstring DesktopName(HDESK desktop) {
  wchar_t name[256] = L"";
  DWORD length = 0;
  if (desktop == nullptr ||
      !GetUserObjectInformationW(desktop, UOI_NAME, name, sizeof name, &length))
    return std::wstring();
  return name;
}

// Checks the target before anything is posted to it.
bool Reachable(HWND dialog, HWND target, const char* what, POINT screen, std::string* unreachable) {
  if (target != nullptr && OwnWindow(dialog, target)) return true;
  *unreachable = Unreachable(what, screen);
  return false;
}

bool PostWheel(HWND dialog, POINT screen, int delta, std::string* unreachable) {
  HWND target = DialogWindowAt(dialog, screen);
  if (!Reachable(dialog, target, "no window of the dialog under the wheel", screen, unreachable))
    return false;
  PostMessageW(target, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(delta)),
               MAKELPARAM(screen.x, screen.y));
  return true;
}

// A press on the caption arrives as its non-client message with the hit-test
// code; the platform then tracks the button until it is released, taking the
// release as a client message of the window that has captured the mouse.
// Only the close box is ever pressed: a press anywhere else on the frame
// starts a move or size loop, which follows the person's real mouse.
bool PostCaptionClick(HWND dialog, POINT screen, std::string* unreachable) {
  if (!Reachable(dialog, Covers(dialog, screen) ? dialog : nullptr,
                 "the dialog's caption is not shown", screen, unreachable))
    return false;
  LRESULT hit = HitTest(dialog, screen.x, screen.y);
  if (hit != HTCLOSE) {
    *unreachable = Unreachable("the caption has no close box", screen);
    return false;
  }
  PostMessageW(dialog, WM_NCLBUTTONDOWN, static_cast<WPARAM>(hit), MAKELPARAM(screen.x, screen.y));
  POINT client = screen;
  ScreenToClient(dialog, &client);
  PostMessageW(dialog, WM_LBUTTONUP, 0, MAKELPARAM(client.x, client.y));
  return true;
}

bool PostMouse(HWND dialog, UINT message, POINT screen, std::string* unreachable) {
  HWND target = DialogThreadInput(dialog).hwndCapture;
  const char* what = "the mouse is captured by a window not of the dialog";
  if (target == nullptr) {
    target = DialogWindowAt(dialog, screen);
    what = "no window of the dialog under the click";
  }
  if (!Reachable(dialog, target, what, screen, unreachable)) return false;
  POINT client = screen;
  ScreenToClient(target, &client);
  WPARAM buttons = message == WM_LBUTTONDOWN ? MK_LBUTTON : 0;
  PostMessageW(target, message, buttons, MAKELPARAM(client.x, client.y));
  return true;
}

// Repeat count 1 and the scan code, as a keyboard reports them; a release
// also carries the previous-state and transition bits.
LPARAM KeyData(WPARAM virtualKey, bool release, bool alt) {
  UINT scanCode = MapVirtualKeyW(static_cast<UINT>(virtualKey), MAPVK_VK_TO_VSC);
  DWORD data = 1 | ((scanCode & 0xFF) << 16);
  if (alt) data |= 0x20000000u;
  if (release) data |= 0xC0000000u;
  return static_cast<LPARAM>(data);
}

// A key goes to the focus of the dialog's thread, or to the dialog when no
// control has it.
bool PostKey(HWND dialog, UINT message, WPARAM virtualKey, bool release, bool alt,
             std::string* unreachable) {
  HWND target = DialogThreadInput(dialog).hwndFocus;
  if (target == nullptr) target = dialog;
  if (!OwnWindow(dialog, target)) {
    *unreachable = "the keyboard focus is on a window not of the dialog";
    return false;
  }
  PostMessageW(target, message, virtualKey, KeyData(virtualKey, release, alt));
  return true;
}

void SetShiftState(bool down) {
  BYTE state[256];
  GetKeyboardState(state);
  for (int key : {VK_SHIFT, VK_LSHIFT}) {
    state[key] = static_cast<BYTE>(down ? state[key] | 0x80 : state[key] & ~0x80);
  }
  SetKeyboardState(state);
}

// A key held down shows in the thread's key state from the moment its
// message is taken from the queue; the dialog manager reads Shift there.
bool HoldShift(HWND dialog, bool down, std::string* unreachable) {
  if (!PostKey(dialog, down ? WM_KEYDOWN : WM_KEYUP, VK_SHIFT, !down, false, unreachable))
    return false;
  SetShiftState(down);
  return true;
}

}  // namespace

POINT ControlCentre(HWND dialog, int id) {
  RECT rect = {};
  GetWindowRect(GetDlgItem(dialog, id), &rect);
  return POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

bool VisibleDroppedEntries(HWND combo, int* first, int* last) {
  HWND list = ListOf(combo);
  if (list == nullptr || !Dropped(combo) || !IsWindowVisible(list)) return false;
  RECT client = {};
  GetClientRect(list, &client);
  int count = static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0));
  *first = static_cast<int>(SendMessageW(list, LB_GETTOPINDEX, 0, 0));
  *last = *first - 1;
  for (int index = *first; index < count; ++index) {
    RECT item = {};
    SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
    if (item.bottom > client.bottom) break;
    *last = index;
  }
  return *last >= *first;
}

bool DroppedEntryCentre(HWND combo, int index, POINT* point) {
  int first = 0;
  int last = -1;
  if (!VisibleDroppedEntries(combo, &first, &last) || index < first || index > last) return false;
  HWND list = ListOf(combo);
  RECT item = {};
  SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
  *point = POINT{(item.left + item.right) / 2, (item.top + item.bottom) / 2};
  ClientToScreen(list, point);
  return true;
}

bool DroppedListCentre(HWND combo, POINT* point) {
  HWND list = ListOf(combo);
  if (list == nullptr || !Dropped(combo)) return false;
  RECT client = {};
  GetClientRect(list, &client);
  *point = POINT{(client.left + client.right) / 2, (client.top + client.bottom) / 2};
  ClientToScreen(list, point);
  return true;
}

bool CloseBoxCentre(HWND window, POINT* point) {
  // Along the middle of the caption, the run of points the hit test calls
  // the close box.
  RECT frame = {};
  GetWindowRect(window, &frame);
  int y = frame.top + GetSystemMetrics(SM_CYDLGFRAME) + GetSystemMetrics(SM_CYCAPTION) / 2;
  int right = frame.right - 1;
  while (right > frame.left && HitTest(window, right, y) != HTCLOSE) --right;
  int left = right;
  while (left > frame.left && HitTest(window, left - 1, y) == HTCLOSE) --left;
  *point = POINT{(left + right) / 2, y};
  return right > frame.left;
}

void ReleaseHeldKeys() { SetShiftState(false); }

bool DialogActive(HWND dialog) { return DialogThreadInput(dialog).hwndActive == dialog; }

bool AnotherWindowActive(HWND dialog) {
  HWND foreground = GetForegroundWindow();
  return foreground != nullptr &&
         GetWindowThreadProcessId(foreground, nullptr) != GetWindowThreadProcessId(dialog, nullptr);
}

bool OnInputDesktop() {
  static const bool onInput = [] {
    HDESK input = OpenInputDesktop(0, FALSE, DESKTOP_READOBJECTS);
    std::wstring inputName = DesktopName(input);
    if (input != nullptr) CloseDesktop(input);
    return !inputName.empty() && inputName == DesktopName(GetThreadDesktop(GetCurrentThreadId()));
  }();
  return onInput;
}

bool DeliverInput(HWND dialog, const InputEvent& event, std::string* unreachable) {
  if (!IsWindowVisible(dialog)) {
    *unreachable = "the dialog is not shown";
    return false;
  }
  switch (event.kind) {
    case InputKind::kButtonDown:
      return PostMouse(dialog, WM_LBUTTONDOWN, event.screenPoint, unreachable);
    case InputKind::kButtonUp:
      return PostMouse(dialog, WM_LBUTTONUP, event.screenPoint, unreachable);
    case InputKind::kKeyDown:
      return PostKey(dialog, WM_KEYDOWN, event.virtualKey, false, false, unreachable);
    case InputKind::kKeyUp:
      return PostKey(dialog, WM_KEYUP, event.virtualKey, true, false, unreachable);
    case InputKind::kAltKeyDown:
      return PostKey(dialog, WM_SYSKEYDOWN, event.virtualKey, false, true, unreachable);
    case InputKind::kAltKeyUp:
      return PostKey(dialog, WM_SYSKEYUP, event.virtualKey, true, true, unreachable);
    case InputKind::kShiftDown:
    case InputKind::kShiftUp:
      return HoldShift(dialog, event.kind == InputKind::kShiftDown, unreachable);
    case InputKind::kWheel:
      return PostWheel(dialog, event.screenPoint, event.wheelDelta, unreachable);
    case InputKind::kCaptionClick:
      return PostCaptionClick(dialog, event.screenPoint, unreachable);
    case InputKind::kClose:
      // The caption's close box, as the window menu delivers it.
      PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
      return true;
  }
  return false;
}
