#include "standin_host/settings_file.h"

#include <stdint.h>
#include <stdio.h>

#include "standin_host/console.h"

const char* const kSettingKeys[5] = {"enabled", "bitRate", "quality", "preprocessing", "version"};

namespace {

const char kSection[] = "VELConfigData";

std::string Trimmed(const std::string& text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

// Done before writing a file as well as after, so that nothing of an
// earlier file is left in the platform's cache either way. `writtenAt`:
// the last-write time to give the file, or null for now.
bool ReplaceSettingsFile(const std::wstring& path, const std::string& bytes,
                         const FILETIME* writtenAt, bool flush) {
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  ForgetCachedProfile();
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size();
  if (writtenAt != nullptr) SetFileTime(file, nullptr, nullptr, writtenAt);
  if (flush) ok = FlushFileBuffers(file) && ok;
  CloseHandle(file);
  ForgetCachedProfile();
  return ok;
}

void DeleteSettingsFile(const std::wstring& path) {
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  ForgetCachedProfile();
  DeleteFileW(path.c_str());
  ForgetCachedProfile();
}

}  // namespace

void ForgetCachedProfile() {
  WritePrivateProfileStringW(nullptr, nullptr, nullptr, L"VELCNFG.INI");
}

std::wstring SettingsFilePath() {
  wchar_t folder[MAX_PATH];
  UINT length = GetWindowsDirectoryW(folder, MAX_PATH);
  return std::wstring(folder, length) + L"\\VELCNFG.INI";
}

std::wstring ResolvedSettingsFilePath() {
  std::wstring path = SettingsFilePath();
  HANDLE file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return path;
  std::wstring resolved = PathOfOpenFile(file, path);
  CloseHandle(file);
  return resolved;
}

std::wstring PathOfOpenFile(HANDLE file, const std::wstring& asOpened) {
  wchar_t resolved[MAX_PATH + 8];
  DWORD length = GetFinalPathNameByHandleW(file, resolved, MAX_PATH + 8, FILE_NAME_NORMALIZED);
  if (length == 0 || length >= MAX_PATH + 8) return asOpened;
  std::wstring text(resolved, length);
  // The platform answers in its long form, \\?\C:\... or \\?\UNC\server\...
  if (text.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\" + text.substr(7);
  if (text.compare(0, 4, L"\\\\?\\") == 0) text.erase(0, 4);
  return text;
}

FileState ReadFileState(const std::wstring& path) {
  FileState state = {false, std::string(), FILETIME{}};
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return state;
  state.exists = true;
  char buffer[65536];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) {
    state.bytes.append(buffer, read);
  }
  GetFileTime(file, nullptr, nullptr, &state.written);
  CloseHandle(file);
  return state;
}

bool SameFile(const FileState& a, const FileState& b) {
  return a.exists == b.exists && a.bytes == b.bytes && CompareFileTime(&a.written, &b.written) == 0;
}

std::string FileChange(const FileState& before, const FileState& now) {
  if (before.exists != now.exists)
    return now.exists ? "the file was created" : "the file was deleted";
  if (before.bytes != now.bytes)
    return "its bytes changed (" + DescribeFileSettings(now.bytes) + ")";
  if (CompareFileTime(&before.written, &now.written) != 0) {
    return "its bytes are the same but it was written again (last-write time changed)";
  }
  return "nothing changed";
}

const wchar_t kPlantRecordVariable[] = L"STANDIN_HOST_PLANT_RECORD";
const char kRemovalRecordLine[] = "removed";

// Appended and flushed before the file changes: a run stopped right after
// the change still finds it noted. Each line goes in one write, as the
// stored-values check plants from several threads.
void NoteInPlantRecord(const std::string& line) {
  wchar_t path[MAX_PATH];
  DWORD length = GetEnvironmentVariableW(kPlantRecordVariable, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  HANDLE record = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, 0, nullptr);
  if (record == INVALID_HANDLE_VALUE) return;
  std::string text = line + "\r\n";
  DWORD written = 0;
  WriteFile(record, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  FlushFileBuffers(record);
  CloseHandle(record);
}

std::string PlantRecordLine(const std::string& bytes, const FILETIME* writtenAt) {
  // FNV-1a: a fingerprint, not a defence against anyone.
  uint64_t digest = 14695981039346656037ull;
  for (char c : bytes) digest = (digest ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  char line[96];
  snprintf(line, sizeof line, "planted %u %08lx%08lx", static_cast<unsigned>(bytes.size()),
           static_cast<unsigned long>(digest >> 32), static_cast<unsigned long>(digest));
  std::string text = line;
  if (writtenAt != nullptr) {
    snprintf(line, sizeof line, " at %lu:%lu", writtenAt->dwHighDateTime, writtenAt->dwLowDateTime);
    text += line;
  }
  return text;
}

bool WriteSettingsBytes(const std::string& bytes) {
  NoteInPlantRecord(PlantRecordLine(bytes, nullptr));
  return ReplaceSettingsFile(SettingsFilePath(), bytes, nullptr, false);
}

bool PlantSettingsFile(const std::string& bytes, Ledger* ledger) {
  // 2001-01-01: far from any time a write of today's would leave.
  SYSTEMTIME past = {2001, 1, 1, 1, 0, 0, 0, 0};
  FILETIME pastTime;
  SystemTimeToFileTime(&past, &pastTime);
  NoteInPlantRecord(PlantRecordLine(bytes, &pastTime));
  if (ReplaceSettingsFile(SettingsFilePath(), bytes, &pastTime, false)) return true;
  ReportProblem(ledger, "the validator could not write the settings file %s (error %lu)",
                Utf8FromWide(SettingsFilePath().c_str()).c_str(), GetLastError());
  return false;
}

void RemoveSettingsFile() {
  NoteInPlantRecord(kRemovalRecordLine);
  DeleteSettingsFile(SettingsFilePath());
}

bool FileSetting(const std::string& bytes, const char* key, std::string* value) {
  bool inSection = false;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    std::string line = Trimmed(bytes.substr(start, end - start));
    if (!line.empty() && line.back() == '\r') line = Trimmed(line.substr(0, line.size() - 1));
    start = end + 1;
    if (!line.empty() && line[0] == '[') {
      inSection = lstrcmpiA(line.c_str(), (std::string("[") + kSection + "]").c_str()) == 0;
      continue;
    }
    size_t equals = line.find('=');
    if (!inSection || equals == std::string::npos) continue;
    if (lstrcmpiA(Trimmed(line.substr(0, equals)).c_str(), key) != 0) continue;
    *value = Trimmed(line.substr(equals + 1));
    return true;
  }
  return false;
}

std::string DescribeFileSettings(const std::string& bytes) {
  std::string text;
  for (const char* key : kSettingKeys) {
    std::string value;
    if (!FileSetting(bytes, key, &value)) value = "(none)";
    text += std::string(text.empty() ? "" : " ") + key + "=" + value;
  }
  return text;
}

SettingsFileKeeper::SettingsFileKeeper()
    : saved_(ReadFileState(SettingsFilePath())),
      attributes_(GetFileAttributesW(SettingsFilePath().c_str())) {}

bool RestoreSettingsFile(const std::wstring& path, const FileState& state, DWORD attributes) {
  if (!state.exists) {
    DeleteSettingsFile(path);
    return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES;
  }
  if (!ReplaceSettingsFile(path, state.bytes, &state.written, true)) return false;
  return SetFileAttributesW(path.c_str(), attributes) != FALSE;
}

SettingsFileKeeper::~SettingsFileKeeper() {
  RestoreSettingsFile(SettingsFilePath(), saved_, attributes_);
}
