// The user's own settings file, kept safe by the validator's parent process
// for the whole run. The checks plant test files where the user's settings
// are, and a check's process may crash, hang or be stopped before it puts
// them back, so one guard does it all, in this order:
//
//   LockRun                 one run at a time for this user on this computer
//   RecoverInterruptedRun   what a run stopped midway left, dealt with
//   BackUpSettingsFile      the user's file copied aside, flushed to the disk
//   SettingsFileWritable    the checks can plant files there at all
//   PutBackSettingsFile     after every check's process, whatever its end
//   EndGuard                the file flushed, the backup removed, the lock let go
//
// An interruption (Ctrl+C, Ctrl+Break, the console closed, the session
// ending) ends the running check and puts the file back before the process
// ends. The backup lives in a folder of its own for this user and computer
// (GuardFolder), wherever the run was started from.
#pragma once

#include <string>

// %LOCALAPPDATA%\plugin-validator\<computer>\ (or the same under %TEMP%
// when there is no such folder), ending in a backslash.
std::wstring GuardFolder();

// False, with one line naming the run that holds it (its process id and
// start time), while another validator runs for this user on this computer;
// then nothing may be touched. Once taken, interruptions are guarded against.
bool LockRun(std::string* otherRun);

// Deals with a backup a stopped run left: restored while the settings file
// still holds what a check planted there (or is missing where a check
// removed it); kept aside, with the user's newer file left alone, when the
// file was changed since. `message` says what was done ("" for nothing).
// False when a backup is there but cannot be read or put back.
bool RecoverInterruptedRun(std::string* message);

// Copies the user's file aside before any check touches it. False, with the
// reason in `error`, when it cannot; then no check may run.
bool BackUpSettingsFile(std::string* error);

// Whether this process may write the settings file where the platform keeps
// it; false, with a sentence for the user in `reason`, when it may not. The
// file is left as it was.
bool SettingsFileWritable(std::string* reason);

// Called before each check's process starts; once the run is interrupted it
// never returns, so that no check starts while the file is put back.
void BeforeEachCheck();

// Puts the user's file back when it differs from the backup. False, with the
// reason in `error`, when it could not; the backup then stays for the next run.
bool PutBackSettingsFile(std::string* error);

// The run is over: when the file was put back, it is flushed and the backup
// goes; the lock is let go either way.
void EndGuard(bool putBack);
