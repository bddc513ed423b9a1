// The dialog on every kind of value a settings file may hold: values the
// list offers, numbers it does not, the extremes, malformed text and missing
// keys, for each key the dialog shows.
#pragma once

#include "standin_host/records/options.h"

// For each starting file of the catalogue: the dialog opens through Invoke,
// stays open a second with no action, shows what the file holds in a state
// the rules allow; Cancel (and unloading after it) leaves the file's bytes
// and time alone; OK stores exactly what was shown. One process: every file's
// dialog is held open at once by a copy of the plug-in of its own on a thread
// of its own, so the quiet seconds overlap; then one load takes OK on each.
bool CheckStoredValues(const Options& options);
