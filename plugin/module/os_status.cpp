#include "plugin/module/os_status.h"

#include <windows.h>

Status StatusFromLastError() {
  DWORD error = GetLastError();
  if (error == ERROR_SUCCESS) return ERR_FAIL;
  return static_cast<Status>(HRESULT_FROM_WIN32(error));
}
