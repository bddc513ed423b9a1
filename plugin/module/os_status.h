// The one place where platform errors become statuses.
#pragma once

#include "host/abi.h"

// The calling thread's last platform error as a status; ERR_FAIL when the
// platform left no error code.
Status StatusFromLastError();
