#include "standin_host/validator/output_files.h"

#include "standin_host/console.h"
#include "standin_host/validator/settings_backup.h"

namespace {

std::wstring FolderOf(const std::wstring& path) {
  size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

std::wstring TempFolder() {
  wchar_t folder[MAX_PATH];
  DWORD length = GetTempPathW(MAX_PATH, folder);
  return std::wstring(folder, length);
}

// "validation-<computer>-<YYYYMMDD-HHMMSS>", so that reports from several
// machines and days sit side by side.
std::wstring ReportName() {
  wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(computer, &length)) lstrcpyW(computer, L"computer");
  SYSTEMTIME now;
  GetLocalTime(&now);
  wchar_t name[64 + MAX_COMPUTERNAME_LENGTH];
  wsprintfW(name, L"validation-%s-%04u%02u%02u-%02u%02u%02u", computer, now.wYear, now.wMonth,
            now.wDay, now.wHour, now.wMinute, now.wSecond);
  return name;
}

// True when the report file can be made at `path`; it is begun there.
bool BeginReport(const std::wstring& path) {
  HANDLE file =
      CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

}  // namespace

std::wstring FullPath(const std::wstring& path) {
  wchar_t full[MAX_PATH];
  DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
  return length > 0 && length < MAX_PATH ? std::wstring(full, length) : path;
}

OutputFiles ChooseOutputFiles(const Options& options, std::string* fallbackNote) {
  OutputFiles files;
  if (!options.reportFolder.empty()) {
    std::wstring folder = FullPath(options.reportFolder);
    if (folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
    std::wstring name = ReportName();
    CreateDirectoryW(folder.c_str(), nullptr);
    if (!BeginReport(folder + name + L".txt")) {
      *fallbackNote = "The folder " + Utf8FromWide(folder.c_str()) +
                      " refuses writes; the report goes to the temporary folder instead";
      folder = TempFolder();
      if (!BeginReport(folder + name + L".txt")) folder.clear();
    }
    if (!folder.empty()) {
      files.report = folder + name + L".txt";
      files.log = folder + name + L".log";
    }
  }
  if (!options.logPath.empty()) files.log = FullPath(options.logPath);
  if (files.log.empty()) files.log = TempFolder() + L"standin_host_validate.log";
  files.backup = BackupPathIn(FolderOf(files.log));
  return files;
}

bool WriteText(const std::wstring& path, const std::string& text) {
  HANDLE file =
      CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
  return written == text.size();
}

std::string WithCrLf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}
