// What the person's settings files were when a validator run began, kept
// on disk in the run's folder, so that a run killed outright (a power cut,
// TerminateProcess) leaves it where the next run finds it. The next run
// compares a dead run's snapshot with the files and says what it found; it
// never writes the person's file from it.
#pragma once

#include <string>
#include <vector>

#include "standin_host/validator/put_back.h"

// Replaces this run's snapshot with `files`, whole; false when it could not.
bool WriteSnapshot(const std::vector<Look>& files);
// The report's lines (without their ends) on the folders of dead runs that UseRunFolder found:
// each snapshot compared with the files now (the bytes a run saw kept in a
// side file in `sideFolder` where the file changed since), then the folder
// removed.
std::vector<std::string> LookAtDeadRuns(const std::wstring& sideFolder);
