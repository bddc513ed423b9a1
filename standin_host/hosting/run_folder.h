// The run's private folder under the user's temporary folder: the private
// settings files the plug-in is bound to and the copies of the plug-in live
// there, never among the person's own files. Its name carries the owning
// process's id and start time, so a later run can tell a folder left by a
// run that died from one of a run still going.
#pragma once

#include <string>
#include <vector>

// The folder this process works in: the one its parent handed down, or a new
// one of its own (folders of dead runs removed first). False, with the reason
// in `error`, when none can be made.
bool UseRunFolder(std::string* error);
// "" before UseRunFolder.
std::wstring RunFolder();
// Removes the folder and its files when this process made it.
void RemoveRunFolder();

// The file in a run's folder that keeps what the person's settings files
// were when that run began. A dead run's folder that holds one is not
// removed with the others: the validator compares it with the files first.
extern const wchar_t kSnapshotFileName[];
// Folders of dead runs seen by UseRunFolder: `removed` those already
// removed (no snapshot in them), `kept` those holding a snapshot.
struct DeadRuns {
  std::vector<std::wstring> removed;
  std::vector<std::wstring> kept;
};
const DeadRuns& DeadRunsFound();
// Removes a kept dead run's folder; false when it could not be removed.
bool RemoveDeadRunFolder(const std::wstring& folder);
