// The module's instance handle, kept by the platform's entry callback.
#pragma once

#include <windows.h>

extern HINSTANCE ModuleHandle;

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved);
