// The user's own settings file, kept safe by the validator's parent process
// across every check: the checks plant test files where the user's settings
// are, and a check's process may crash or be stopped before it puts them back.
// So the parent copies the file to a backup file before the first check, puts
// it back after every child process whatever its end, and a run that finds a
// backup an interrupted run left restores it before anything else.
#pragma once

#include <windows.h>

#include <string>

#include "standin_host/settings_file.h"

struct SettingsBackup {
  std::wstring path;  // the backup file
  FileState saved;    // the user's file (or the fact that there is none)
  DWORD attributes;
};

// The backup file kept in `folder` (ending in a backslash).
std::wstring BackupPathIn(const std::wstring& folder);

// When `backupPath` holds a backup an interrupted run left, puts it back and
// removes it. Returns false, with the reason in `message`, when a backup is
// there but cannot be read or put back; `message` says what was done either
// way ("" when there was no backup).
bool RecoverInterruptedRun(const std::wstring& backupPath, std::string* message);

// Reads the user's file and writes the backup, flushed to the disk, before
// any check touches the file. False, with the reason in `error`, when the
// backup cannot be made; then no check may run.
bool TakeBackup(const std::wstring& backupPath, SettingsBackup* backup, std::string* error);

// Puts the user's file back when it differs from the backup and confirms its
// bytes and last-write time. False, with the reason in `error`, when it could
// not; the backup file is then left for the next run.
bool PutBack(const SettingsBackup& backup, std::string* error);

// The run is over and the user's file confirmed: the backup goes.
void RemoveBackup(const SettingsBackup& backup);

// Whether this process may write the settings file where the platform keeps
// it; false, with a sentence for the user in `reason`, when it may not. The
// file is left as it was.
bool SettingsFileWritable(const SettingsBackup& backup, std::string* reason);
