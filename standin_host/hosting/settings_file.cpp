#include "standin_host/hosting/settings_file.h"

#include "standin_host/hosting/settings_redirect.h"
#include "standin_host/system/console.h"

const char* const kSettingKeys[5] = {"enabled", "bitRate", "quality", "preprocessing", "version"};

const char kUnredirectedRoad[] = "by a road the host could not redirect";
const char kRealFileOpened[] = "REAL SETTINGS FILE OPENED: ";

namespace {

const char kSection[] = "VELConfigData";

std::string Trimmed(const std::string& text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

// The platform caches a parsed profile file per process and rereads it only
// when its last-write time changes; all three names null drops that copy.
void ForgetCachedProfile(const std::wstring& path) {
  WritePrivateProfileStringW(nullptr, nullptr, nullptr, path.c_str());
}

// Done before writing a file as well as after, so that nothing of an
// earlier file is left in the platform's cache either way. `writtenAt`:
// the last-write time to give the file, or null for now.
bool ReplaceSettingsFile(const std::wstring& path, const std::string& bytes,
                         const FILETIME* writtenAt) {
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  ForgetCachedProfile(path);
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size();
  if (writtenAt != nullptr) SetFileTime(file, nullptr, nullptr, writtenAt);
  CloseHandle(file);
  ForgetCachedProfile(path);
  return ok;
}

void DeleteSettingsFile(const std::wstring& path) {
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  ForgetCachedProfile(path);
  DeleteFileW(path.c_str());
  ForgetCachedProfile(path);
}

}  // namespace

std::wstring WindowsSettingsFilePath() {
  wchar_t folder[MAX_PATH];
  UINT length = GetWindowsDirectoryW(folder, MAX_PATH);
  return std::wstring(folder, length) + L"\\VELCNFG.INI";
}

// VirtualStore keeps the Windows folder's path without its drive.
std::vector<std::wstring> RealSettingsFiles() {
  std::wstring windows = WindowsSettingsFilePath();
  std::vector<std::wstring> files = {windows};
  wchar_t local[MAX_PATH];
  DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", local, MAX_PATH);
  if (length > 0 && length < MAX_PATH && windows.size() > 2 && windows[1] == L':') {
    files.push_back(std::wstring(local, length) + L"\\VirtualStore" + windows.substr(2));
  }
  return files;
}

std::wstring SettingsFilePath() {
  std::wstring bound = BoundSettingsFile(0);
  return bound.empty() ? WindowsSettingsFilePath() : bound;
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
  // Shared for deletion too: a program that saves by renaming over the file
  // must not fail because a look is under way.
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
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

bool WriteSettingsBytes(const std::string& bytes) {
  return ReplaceSettingsFile(SettingsFilePath(), bytes, nullptr);
}

bool PlantSettingsFileAt(const std::wstring& path, const std::string& bytes,
                         ProblemList* problemList) {
  // 2001-01-01: far from any time a write of today's would leave.
  SYSTEMTIME past = {2001, 1, 1, 1, 0, 0, 0, 0};
  FILETIME pastTime;
  SystemTimeToFileTime(&past, &pastTime);
  if (ReplaceSettingsFile(path, bytes, &pastTime)) return true;
  ReportProblem(problemList, "the validator could not write the settings file %s (error %lu)",
                Utf8FromWide(path.c_str()).c_str(), GetLastError());
  return false;
}

bool PlantSettingsFile(const std::string& bytes, ProblemList* problemList) {
  return PlantSettingsFileAt(SettingsFilePath(), bytes, problemList);
}

void RemoveSettingsFile() { DeleteSettingsFile(SettingsFilePath()); }

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
