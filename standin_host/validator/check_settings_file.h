// Checks of the settings file: written only when the user confirms, and a
// write the platform refuses reported rather than lost.
#pragma once

#include "standin_host/records/options.h"

// From a valid file in a form a rewrite would change (comments, another
// section, spaces, leading zeros): loading, registration, Cancel, Escape,
// the close box and unloading leave its bytes and last-write time alone; OK
// rewrites the five keys in plain form in order and keeps the rest.
bool CheckTouchedOnlyByOk(const Options& options);
// OK while another process holds the file open, and while it is read-only:
// Invoke reports a failure status, the file keeps what it had, and nothing
// is left unbalanced. The read-only case runs only where the platform
// refuses this user the write (not for root under Wine).
bool CheckRefusedWrite(const Options& options);
