#include "standin_host/validator/output_files.h"

#include "standin_host/hosting/settings_file.h"
#include "standin_host/system/console.h"
#include "standin_host/system/local_machine.h"

namespace {

// "validation-<computer>-<YYYYMMDD-HHMMSS>", so that reports from several
// machines and days sit side by side.
std::wstring ReportName() { return L"validation-" + ComputerName() + L"-" + TimeForFileName(); }

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
  return files;
}

const char kUtf8ByteOrderMark[] = "\xEF\xBB\xBF";

OutputFile OpenOutputFile(const std::wstring& path) {
  OutputFile file = {
      CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr),
      path, 0};
  if (file.handle == INVALID_HANDLE_VALUE) {
    file.error = GetLastError();
  } else {
    file.where = PathOfOpenFile(file.handle, path);
  }
  return file;
}

bool FinishOutputFile(OutputFile* file, const std::string& text) {
  if (file->handle == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool whole =
      WriteFile(file->handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
      written == text.size() && FlushFileBuffers(file->handle);
  if (!whole) file->error = GetLastError();
  CloseHandle(file->handle);
  file->handle = INVALID_HANDLE_VALUE;
  return whole;
}

std::string WithCrLf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}
