// The record of every call between the host and the plug-in along one fixed
// road, so that builds of the plug-in from different toolchains, or a build
// and the release, can be compared call by call: the road is run once for
// each way the dialog ends, then once for each allocation request refused in
// turn, every time from the same settings file. Addresses are named, never
// written (problem_list.h); statuses, sizes, strings, counts and order are kept.
#pragma once

#include "standin_host/records/options.h"

// --ledger <file>: runs the road on the plug-in and writes its record there,
// one call a line, the road's own lines between. The user's settings file is
// put back afterwards. Exit 0 when every road ended as a host expects (clean,
// or failing the way the host made it fail), 1 when the plug-in misbehaved
// (its problems are on standard error, their roads' ends in the record),
// 3 when the file is no plug-in, 2 when the record cannot be written.
int WriteCallRecord(const Options& options);

// --compare-ledgers: the records of both files, each made by this program in
// a process of its own, compared line by line. Prints the first line that
// differs with its number; exit 0 when they are the same, 1 when they differ,
// 2 when a record could not be made at all.
int CompareCallRecords(const Options& options);
