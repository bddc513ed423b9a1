#include "standin_host/system/local_machine.h"

#include <windows.h>

std::wstring TempFolder() {
  wchar_t folder[MAX_PATH];
  DWORD length = GetTempPathW(MAX_PATH, folder);
  return length > 0 && length < MAX_PATH ? std::wstring(folder, length) : L".\\";
}

std::wstring ComputerName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
  return GetComputerNameW(name, &length) ? std::wstring(name, length) : L"computer";
}

std::wstring TimeForFileName() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  wchar_t text[16];
  wsprintfW(text, L"%04u%02u%02u-%02u%02u%02u", now.wYear, now.wMonth, now.wDay, now.wHour,
            now.wMinute, now.wSecond);
  return text;
}

void JoinStartupDesktop() {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  GetStartupInfoW(&startup);
  if (startup.lpDesktop == nullptr || startup.lpDesktop[0] == L'\0') return;
  // "station\\desktop" or the desktop alone; the station is this process's.
  const wchar_t* name = wcsrchr(startup.lpDesktop, L'\\');
  name = name != nullptr ? name + 1 : startup.lpDesktop;
  HDESK desktop = OpenDesktopW(name, 0, FALSE, DESKTOP_CREATEWINDOW | DESKTOP_READOBJECTS);
  // The thread keeps the desktop in use; the handle is not needed after.
  if (desktop != nullptr && !SetThreadDesktop(desktop)) CloseDesktop(desktop);
}
