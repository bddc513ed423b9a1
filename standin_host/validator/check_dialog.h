// Checks of the settings dialog as a person uses it: each way of ending it,
// and whether what it showed is what it stored.
#pragma once

#include "standin_host/records/options.h"

// Each ending after a change to every setting: the dialog was still open for
// each choice and for the ending, each choice showed, the dialog returned
// what the ending means, Invoke succeeded, and the settings file holds the
// choices (OK, Enter) or is untouched, bytes and last-write time (Cancel,
// Escape, close box).
bool CheckEndingOk(const Options& options);
bool CheckEndingEnter(const Options& options);
bool CheckEndingCancel(const Options& options);
bool CheckEndingEscape(const Options& options);
bool CheckEndingCloseBox(const Options& options);
// After OK the file holds exactly what the dialog showed at that moment,
// read as a person reads it, from valid, missing and hostile starting files.
bool CheckShownIsStored(const Options& options);
