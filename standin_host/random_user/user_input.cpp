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

void PostWheel(HWND dialog, POINT screen, int delta) {
  HWND target = WindowFromPoint(screen);
  if (target == nullptr) target = dialog;
  PostMessageW(target, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(delta)),
               MAKELPARAM(screen.x, screen.y));
}

LRESULT HitTest(HWND window, int x, int y) {
  return SendMessageW(window, WM_NCHITTEST, 0, MAKELPARAM(x, y));
}

// A press on the caption arrives as its non-client message with the hit-test
// code; the platform then tracks the button until it is released, taking the
// release as a client message of the window that has captured the mouse.
void PostCaptionClick(HWND dialog, POINT screen) {
  LRESULT hit = HitTest(dialog, screen.x, screen.y);
  PostMessageW(dialog, WM_NCLBUTTONDOWN, static_cast<WPARAM>(hit), MAKELPARAM(screen.x, screen.y));
  POINT client = screen;
  ScreenToClient(dialog, &client);
  PostMessageW(dialog, WM_LBUTTONUP, 0, MAKELPARAM(client.x, client.y));
}

void PostMouse(HWND dialog, UINT message, POINT screen) {
  HWND target = GetCapture();
  if (target == nullptr) target = WindowFromPoint(screen);
  if (target == nullptr) target = dialog;
  POINT client = screen;
  ScreenToClient(target, &client);
  WPARAM buttons = message == WM_LBUTTONDOWN ? MK_LBUTTON : 0;
  PostMessageW(target, message, buttons, MAKELPARAM(client.x, client.y));
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

void PostKey(HWND dialog, UINT message, WPARAM virtualKey, bool release, bool alt) {
  HWND target = GetFocus();
  if (target == nullptr) target = dialog;
  PostMessageW(target, message, virtualKey, KeyData(virtualKey, release, alt));
}

// A key held down shows in the thread's key state from the moment its
// message is taken from the queue; the dialog manager reads Shift there.
void HoldShift(HWND dialog, bool down) {
  BYTE state[256];
  GetKeyboardState(state);
  for (int key : {VK_SHIFT, VK_LSHIFT}) {
    state[key] = static_cast<BYTE>(down ? state[key] | 0x80 : state[key] & ~0x80);
  }
  SetKeyboardState(state);
  PostKey(dialog, down ? WM_KEYDOWN : WM_KEYUP, VK_SHIFT, !down, false);
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

void DeliverInput(HWND dialog, const InputEvent& event) {
  switch (event.kind) {
    case InputKind::kButtonDown:
      PostMouse(dialog, WM_LBUTTONDOWN, event.screenPoint);
      break;
    case InputKind::kButtonUp:
      PostMouse(dialog, WM_LBUTTONUP, event.screenPoint);
      break;
    case InputKind::kKeyDown:
      PostKey(dialog, WM_KEYDOWN, event.virtualKey, false, false);
      break;
    case InputKind::kKeyUp:
      PostKey(dialog, WM_KEYUP, event.virtualKey, true, false);
      break;
    case InputKind::kAltKeyDown:
      PostKey(dialog, WM_SYSKEYDOWN, event.virtualKey, false, true);
      break;
    case InputKind::kAltKeyUp:
      PostKey(dialog, WM_SYSKEYUP, event.virtualKey, true, true);
      break;
    case InputKind::kShiftDown:
    case InputKind::kShiftUp:
      HoldShift(dialog, event.kind == InputKind::kShiftDown);
      break;
    case InputKind::kWheel:
      PostWheel(dialog, event.screenPoint, event.wheelDelta);
      break;
    case InputKind::kCaptionClick:
      PostCaptionClick(dialog, event.screenPoint);
      break;
    case InputKind::kClose:
      // The caption's close box, as the window menu delivers it.
      PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
      break;
  }
}
