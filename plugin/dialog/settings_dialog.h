// The settings dialog's procedure and the routines it runs.
#pragma once

#include <windows.h>

INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
void FillBitRateList(HWND dialog);
void UpdateControlStates(HWND dialog);
