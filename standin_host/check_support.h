// What the checks share: a session on the plug-in that is judged when it
// ends, and the settings file as the checks plant and read it.
#pragma once

#include <windows.h>

#include <string>

#include "standin_host/ledger.h"
#include "standin_host/options.h"
#include "standin_host/session.h"

// Loads the plug-in named by `options` into `session`, its dialogs acted on
// as `script` says (kept by the caller while the session lives). False, with
// a problem in `ledger`, when it cannot be loaded.
bool BeginSession(const Options& options, const DialogScript* script, Session* session,
                  Ledger* ledger);
// Asks DllCanUnloadNow, judges the balance, unloads the plug-in and checks
// that it really left the process. Returns the session's exit code
// (session.h); its problems are counted in `ledger` too.
int EndSession(Session* session, Ledger* ledger);
// The road's tools run once more with another script.
void RunToolsWith(Session* session, const DialogScript* script);

// A line the validator adds to the check's verdict.
void Note(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));

// The five keys the plug-in keeps, in the order it writes them, and the
// four the dialog shows (by DialogField).
extern const char* const kSettingKeys[5];

// VELCNFG.INI in the Windows folder, where the plug-in's bare file name leads.
std::wstring SettingsFilePath();

struct FileState {
  bool exists;
  std::string bytes;
  FILETIME written;
};
FileState ReadFileState(const std::wstring& path);
// The same bytes and the same last-write time.
bool SameFile(const FileState& a, const FileState& b);
// How `now` differs from `before`, for a report: "its bytes changed", ...
std::string FileChange(const FileState& before, const FileState& now);

// Writes the settings file with a last-write time long past, so that any
// later write shows in the time as well as in the bytes.
bool PlantSettingsFile(const std::string& bytes, Ledger* ledger);
// As a first start finds it: no settings file.
void RemoveSettingsFile();
// The value of `key` in the plug-in's section as the file says it, or
// false when the key is not there.
bool FileSetting(const std::string& bytes, const char* key, std::string* value);
// "enabled=1 bitRate=64 quality=0 preprocessing=1", from the file.
std::string DescribeFileSettings(const std::string& bytes);

// Keeps the user's own settings file aside for the life of a check and puts
// it back afterwards, attributes and time included.
class SettingsFileKeeper {
 public:
  SettingsFileKeeper();
  ~SettingsFileKeeper();

 private:
  FileState saved_;
  DWORD attributes_;
};
