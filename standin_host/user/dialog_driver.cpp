#include "standin_host/user/dialog_driver.h"

namespace {

// The modal loop gives one thread at a time one dialog; the pending action
// lives here between RunDialog and the timer that fires inside that loop.
struct PendingReady {
  DialogReadyFn ready;
  void* context;
  UINT_PTR timer;
};
thread_local PendingReady t_pending;

BOOL CALLBACK FindDialog(HWND window, LPARAM result) {
  wchar_t className[16];
  if (GetClassNameW(window, className, 16) && lstrcmpW(className, L"#32770") == 0 &&
      IsWindowVisible(window)) {
    *reinterpret_cast<HWND*>(result) = window;
    return FALSE;
  }
  return TRUE;
}

// WM_TIMER comes after every pending paint, so the dialog is complete here.
void CALLBACK OnDialogTimer(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND dialog = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindDialog, reinterpret_cast<LPARAM>(&dialog));
  if (dialog == nullptr) return;  // not shown yet; try on the next tick
  KillTimer(nullptr, timer);
  PendingReady pending = t_pending;
  t_pending = PendingReady{};
  if (pending.ready != nullptr) pending.ready(dialog, pending.context);
}

}  // namespace

INT_PTR RunDialog(HINSTANCE instance, int dialogId, DLGPROC proc, DialogCharset charset,
                  DialogReadyFn ready, void* context) {
  t_pending = PendingReady{ready, context, 0};
  t_pending.timer = SetTimer(nullptr, 0, 10, OnDialogTimer);
  INT_PTR result = charset == DialogCharset::kWide
                       ? DialogBoxParamW(instance, MAKEINTRESOURCEW(dialogId), nullptr, proc, 0)
                       : DialogBoxParamA(instance, MAKEINTRESOURCEA(dialogId), nullptr, proc, 0);
  if (t_pending.timer != 0) KillTimer(nullptr, t_pending.timer);
  t_pending = PendingReady{};
  return result;
}

void ClickButton(HWND dialog, int id) { SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

void SelectListEntry(HWND dialog, int id, int index) {
  HWND list = GetDlgItem(dialog, id);
  SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
}

void ToggleDropDown(HWND dialog, int id) {
  HWND list = GetDlgItem(dialog, id);
  SendMessageW(list, CB_SHOWDROPDOWN, TRUE, 0);
  SendMessageW(list, CB_SHOWDROPDOWN, FALSE, 0);
}

void FocusControl(HWND dialog, int id) {
  SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, id)), TRUE);
}

void PressKey(HWND dialog, WPARAM virtualKey) {
  // The focus of the dialog's own thread, asked from whichever thread calls;
  // a window of any other thread never gets the key.
  DWORD thread = GetWindowThreadProcessId(dialog, nullptr);
  GUITHREADINFO input = {};
  input.cbSize = sizeof input;
  HWND target = GetGUIThreadInfo(thread, &input) ? input.hwndFocus : nullptr;
  if (target == nullptr || GetWindowThreadProcessId(target, nullptr) != thread) target = dialog;
  PostMessageW(target, WM_KEYDOWN, virtualKey, 1);
  // Repeat count 1; the key was down and is being released.
  PostMessageW(target, WM_KEYUP, virtualKey, static_cast<LPARAM>(0xC0000001u));
}

void PressCloseBox(HWND dialog) { PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }

bool IsChecked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

bool IsEnabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }

int SelectedIndex(HWND dialog, int id) {
  return static_cast<int>(SendMessageW(GetDlgItem(dialog, id), CB_GETCURSEL, 0, 0));
}

int ListEntryCount(HWND dialog, int id) {
  return static_cast<int>(SendMessageW(GetDlgItem(dialog, id), CB_GETCOUNT, 0, 0));
}

bool ListEntryText(HWND dialog, int id, int index, wchar_t* text, int capacity) {
  if (capacity <= 0) return false;
  text[0] = L'\0';
  HWND list = GetDlgItem(dialog, id);
  LRESULT length = SendMessageW(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == CB_ERR || length >= capacity) return false;
  SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text));
  return true;
}

int FocusedControlId(HWND dialog) {
  HWND focus = GetFocus();
  if (focus == nullptr || GetParent(focus) != dialog) return 0;
  return GetDlgCtrlID(focus);
}

bool SaveDialogBitmap(HWND dialog, const wchar_t* path) {
  RECT rect;
  if (!GetWindowRect(dialog, &rect)) return false;
  int width = rect.right - rect.left;
  int height = rect.bottom - rect.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  SelectObject(memory, previous);

  BITMAPINFOHEADER info = {};
  info.biSize = sizeof info;
  info.biWidth = width;
  info.biHeight = height;
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  DWORD stride = ((width * 3) + 3) & ~3u;
  DWORD imageSize = stride * height;
  HANDLE heap = GetProcessHeap();
  void* pixels = HeapAlloc(heap, 0, imageSize);
  bool ok = pixels != nullptr &&
            GetDIBits(memory, bitmap, 0, height, pixels, reinterpret_cast<BITMAPINFO*>(&info),
                      DIB_RGB_COLORS) == height;
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);

  if (ok) {
    BITMAPFILEHEADER header = {};
    header.bfType = 0x4D42;  // "BM"
    header.bfOffBits = sizeof header + sizeof info;
    header.bfSize = header.bfOffBits + imageSize;
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    ok = file != INVALID_HANDLE_VALUE &&
         WriteFile(file, &header, sizeof header, &written, nullptr) &&
         WriteFile(file, &info, sizeof info, &written, nullptr) &&
         WriteFile(file, pixels, imageSize, &written, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  }
  if (pixels != nullptr) HeapFree(heap, 0, pixels);
  return ok;
}
