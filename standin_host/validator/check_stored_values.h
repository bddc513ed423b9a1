// The dialog on every kind of value a settings file may hold: values the
// list offers, numbers it does not, the extremes, malformed text and missing
// keys, for each key the dialog shows.
#pragma once

#include "standin_host/options.h"

// For each starting file of the catalogue: the dialog opens through Invoke,
// stays open a second with no action, shows what the file holds in a state
// the rules allow; Cancel leaves the file's bytes and time alone; OK stores
// exactly what was shown. One process, one load of the plug-in.
bool CheckStoredValues(const Options& options);
