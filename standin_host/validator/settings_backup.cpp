#include "standin_host/validator/settings_backup.h"

#include <stdio.h>

#include "standin_host/console.h"

namespace {

const char kBackupTitle[] = "VELCNFG.INI backup 1";
// A child's handles close when it ends, but those of the processes it
// started may take a moment longer to let go of the file.
constexpr int kPutBackTries = 50;
constexpr DWORD kPutBackPauseMs = 100;

std::string Header(const SettingsBackup& backup) {
  char text[200];
  snprintf(text, sizeof text,
           "%s\r\nexists %d\r\nwritten %lu %lu\r\nattributes %lu\r\nsize %u\r\n\r\n", kBackupTitle,
           backup.saved.exists ? 1 : 0, backup.saved.written.dwHighDateTime,
           backup.saved.written.dwLowDateTime, backup.attributes,
           static_cast<unsigned>(backup.saved.bytes.size()));
  return text;
}

// False for anything but a whole backup: a run stopped while writing it left
// the user's file untouched, so there is nothing to put back then.
bool ParseBackup(const std::string& bytes, SettingsBackup* backup) {
  size_t end = bytes.find("\r\n\r\n");
  if (end == std::string::npos) return false;
  std::string header = bytes.substr(0, end);
  int exists = 0;
  unsigned long high = 0;
  unsigned long low = 0;
  unsigned long attributes = 0;
  unsigned size = 0;
  char title[32];
  if (sscanf(header.c_str(),
             "%31[^\r]\r\nexists %d\r\nwritten %lu %lu\r\nattributes %lu\r\nsize %u", title,
             &exists, &high, &low, &attributes, &size) != 6 ||
      std::string(title) != kBackupTitle || bytes.size() - end - 4 != size) {
    return false;
  }
  backup->saved.exists = exists != 0;
  backup->saved.written = FILETIME{low, high};
  backup->saved.bytes = bytes.substr(end + 4);
  backup->attributes = attributes;
  return true;
}

// Written beside the backup and then moved over it, so that a backup file is
// always a whole one.
bool WriteDurably(const std::wstring& path, const std::string& bytes) {
  std::wstring fresh = path + L".new";
  HANDLE file = CreateFileW(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_FLAG_WRITE_THROUGH, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size() && FlushFileBuffers(file);
  CloseHandle(file);
  ok = ok &&
       MoveFileExW(fresh.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!ok) DeleteFileW(fresh.c_str());
  return ok;
}

bool Unchanged(const SettingsBackup& backup) {
  FileState now = ReadFileState(SettingsFilePath());
  if (!SameFile(now, backup.saved)) return false;
  return !now.exists || GetFileAttributesW(SettingsFilePath().c_str()) == backup.attributes;
}

std::string WindowsError(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
      return "Windows error 5, access denied";
    case ERROR_SHARING_VIOLATION:
      return "Windows error 32, another program holds it open";
    default:
      return "Windows error " + std::to_string(error);
  }
}

}  // namespace

std::wstring BackupPathIn(const std::wstring& folder) {
  return folder + L"VELCNFG.INI.validator-backup";
}

bool RecoverInterruptedRun(const std::wstring& backupPath, std::string* message) {
  FileState file = ReadFileState(backupPath);
  message->clear();
  if (!file.exists) return true;
  SettingsBackup backup = {backupPath, FileState{}, 0};
  std::string where = Utf8FromWide(backupPath.c_str());
  if (!ParseBackup(file.bytes, &backup)) {
    *message = "the backup file " + where + " an interrupted run left cannot be read; it is kept";
    return false;
  }
  std::string error;
  if (!PutBack(backup, &error)) {
    *message = error;
    return false;
  }
  RemoveBackup(backup);
  *message = "An earlier run was interrupted: the settings file " +
             Utf8FromWide(ResolvedSettingsFilePath().c_str()) +
             " was put back from the backup it left (" +
             (backup.saved.exists ? DescribeFileSettings(backup.saved.bytes) : "no file") + ")";
  return true;
}

bool TakeBackup(const std::wstring& backupPath, SettingsBackup* backup, std::string* error) {
  backup->path = backupPath;
  backup->attributes = GetFileAttributesW(SettingsFilePath().c_str());
  backup->saved = ReadFileState(SettingsFilePath());
  if (!backup->saved.exists && backup->attributes != INVALID_FILE_ATTRIBUTES) {
    *error = "the settings file " + Utf8FromWide(SettingsFilePath().c_str()) +
             " is there but cannot be read, so it cannot be kept safe";
    return false;
  }
  if (WriteDurably(backupPath, Header(*backup) + backup->saved.bytes)) return true;
  *error = "cannot write the backup of the settings file to " + Utf8FromWide(backupPath.c_str()) +
           " (" + WindowsError(GetLastError()) + ")";
  return false;
}

bool PutBack(const SettingsBackup& backup, std::string* error) {
  for (int attempt = 0; attempt < kPutBackTries; ++attempt) {
    if (Unchanged(backup)) return true;
    RestoreSettingsFile(backup.saved, backup.attributes);
    if (Unchanged(backup)) return true;
    Sleep(kPutBackPauseMs);
  }
  *error = "could not put the settings file " + Utf8FromWide(SettingsFilePath().c_str()) +
           " back as it was (" + WindowsError(GetLastError()) + "); its copy is kept in " +
           Utf8FromWide(backup.path.c_str()) + " and the next run puts it back";
  return false;
}

void RemoveBackup(const SettingsBackup& backup) { DeleteFileW(backup.path.c_str()); }

bool SettingsFileWritable(const SettingsBackup& backup, std::string* reason) {
  std::wstring path = SettingsFilePath();
  if (backup.saved.exists) SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, 0, nullptr);
  DWORD error = GetLastError();
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  std::string ignored;
  PutBack(backup, &ignored);
  if (file != INVALID_HANDLE_VALUE) return true;
  *reason = "This user may not write the settings file " + Utf8FromWide(path.c_str()) + " (" +
            WindowsError(error) + "), so no check could run. ";
  if (error == ERROR_SHARING_VIOLATION) {
    *reason += "Close the program that holds it and run the validator again.";
  } else {
    *reason +=
        "A host run the same way could not save its settings either. Run the validator as the "
        "host is run: as a standard user with User Account Control on, Windows keeps a copy of "
        "the file for each user.";
  }
  return false;
}
