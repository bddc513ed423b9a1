// Repeated runs in one process, for the benchmarks: how long the settings
// dialog takes to become ready, and whether a long series of whole roads
// leaves anything behind.
#pragma once

#include "standin_host/hosting/session.h"

// Times `runs` Invoke calls from the call until the dialog is ready (its
// WM_INITDIALOG returned), alternating with a bare DialogBoxParamW of the same
// template from the same instance with a trivial procedure; prints medians and
// their ratio. Every dialog is cancelled once ready.
void MeasureDialogOpening(Session* session, int runs);

// Runs the whole road `cycles` times; at sample cycles prints live
// allocations, instance references and the process's memory, then the growth
// between samples. Stops at the first cycle that leaves something behind.
void RunCycles(Session* session, int cycles);
