// Watches this thread's dialogs for the moment they are ready to use: their
// procedure has returned from WM_INITDIALOG. Used to time dialogs, and to end
// them at once in repeated runs as a user who cancels straight away.
#pragma once

#include <windows.h>

#include "standin_host/records/problem_list.h"

// Installs the watch on this thread; with `cancelWhenReady` each dialog gets a
// Cancel click as soon as it is ready. False when the hook cannot be set.
bool StartDialogWatch(bool cancelWhenReady);
void StopDialogWatch();
bool DialogWatchActive();

// QueryPerformanceCounter value at which the last dialog became ready; 0 when
// none has since the last reset.
LONGLONG DialogReadyAt();
void ResetDialogReady();

// Runs the dialog with DialogBoxParamW, as the dialog service does, and
// cancels it once ready (watching for the call when no watch is active). A
// dialog that cannot be created is a problem. Returns what the procedure gave
// EndDialog, or -1.
INT_PTR RunDialogCancelledWhenReady(HINSTANCE instance, int dialogId, DLGPROC proc,
                                    ProblemList* problemList);
