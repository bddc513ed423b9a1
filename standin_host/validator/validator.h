// validator/: the validator and its named checks, built on the host and the random user.
//
// The validator: judges a plug-in file the way hosts and users would. Runs
// each named check (checks.h) and the random user sessions in a fresh child
// process of this program with a time limit, so a crash or a hang is that
// check's failure and the rest still run. Prints PASS or FAIL for each, then
// "N passed, M failed" on the last line.
#pragma once

#include "standin_host/records/options.h"

// Exit 0 when no check failed, 1 otherwise; 2 for an unknown --only name, a
// check that could not be judged here, no private folder for the run, or a
// report that could not be written.
int RunValidator(const Options& options);
