#include "standin_host/validator/put_back.h"

#include "standin_host/system/console.h"
#include "standin_host/system/local_machine.h"

namespace {

constexpr int kNameTries = 100;

std::string Where(const std::wstring& path) { return Utf8FromWide(path.c_str()); }

std::string ErrorText(DWORD error) { return "Windows error " + std::to_string(error); }

// Written through to the disk and flushed before it is closed, so that a
// power cut after the move cannot leave a file of the right name and no bytes.
bool WriteNewFile(const std::wstring& path, const std::string& bytes, const FILETIME* written,
                  DWORD* error) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = GetLastError();
    return false;
  }
  DWORD count = 0;
  bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &count, nullptr) &&
            count == bytes.size() && FlushFileBuffers(file);
  if (ok && written != nullptr) ok = SetFileTime(file, nullptr, nullptr, written) != FALSE;
  *error = ok ? 0 : GetLastError();
  CloseHandle(file);
  if (!ok) DeleteFileW(path.c_str());
  return ok;
}

// A name beside `path` that nothing has yet.
std::wstring TemporaryPrefix(const std::wstring& path, unsigned long process) {
  return path + L".validator-" + std::to_wstring(process) + L"-";
}

std::wstring TemporaryBeside(const std::wstring& path, int attempt) {
  return TemporaryPrefix(path, GetCurrentProcessId()) + std::to_wstring(GetTickCount()) + L"-" +
         std::to_wstring(attempt) + L".tmp";
}

// A file the plug-in made read-only refuses to be replaced.
bool MoveIntoPlace(const std::wstring& from, const std::wstring& to, bool replace) {
  DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
  if (MoveFileExW(from.c_str(), to.c_str(), flags)) return true;
  DWORD error = GetLastError();
  DWORD attributes = GetFileAttributesW(to.c_str());
  if (!replace || error != ERROR_ACCESS_DENIED || attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & FILE_ATTRIBUTE_READONLY) == 0) {
    SetLastError(error);
    return false;
  }
  SetFileAttributesW(to.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  return MoveFileExW(from.c_str(), to.c_str(), flags) != FALSE;
}

}  // namespace

Look LookAt(const std::wstring& path) {
  Look look = {path, INVALID_FILE_ATTRIBUTES, FILETIME{}, ReadFileState(path)};
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
    look.attributes = data.dwFileAttributes;
    look.written = data.ftLastWriteTime;
  }
  return look;
}

bool SameLook(const Look& a, const Look& b) {
  bool bothRead = a.content.exists && b.content.exists;
  return a.attributes == b.attributes && CompareFileTime(&a.written, &b.written) == 0 &&
         (!bothRead || a.content.bytes == b.content.bytes);
}

std::string LookChange(const Look& before, const Look& now) {
  if (before.attributes != now.attributes && before.content.exists == now.content.exists &&
      before.content.bytes == now.content.bytes) {
    return "its attributes changed";
  }
  return FileChange(before.content, now.content);
}

// Made whole under a name of its own, so that no side file is ever half
// written, nor one written over.
std::wstring KeepSideFile(const std::wstring& folder, const std::wstring& name,
                          const std::string& bytes, DWORD* error) {
  for (int attempt = 1; attempt <= kNameTries; ++attempt) {
    std::wstring path =
        folder + name + L"-" + TimeForFileName() + L"-" + std::to_wstring(attempt) + L".ini";
    Look absent = {path, INVALID_FILE_ATTRIBUTES, FILETIME{}, FileState{false, "", FILETIME{}}};
    *error = WriteWholeFile(path, bytes, nullptr, FILE_ATTRIBUTE_NORMAL, &absent);
    if (*error == 0) return path;
    if (*error != kChangedMeanwhile && *error != ERROR_FILE_EXISTS &&
        *error != ERROR_ALREADY_EXISTS) {
      return std::wstring();
    }
  }
  return std::wstring();
}

DWORD WriteWholeFile(const std::wstring& path, const std::string& bytes, const FILETIME* written,
                     DWORD attributes, const Look* expected) {
  std::wstring temporary;
  DWORD error = 0;
  for (int attempt = 0; attempt < kNameTries && temporary.empty(); ++attempt) {
    temporary = TemporaryBeside(path, attempt);
    if (!WriteNewFile(temporary, bytes, written, &error)) temporary.clear();
    if (error != 0 && error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
  }
  if (temporary.empty()) return error;
  SetFileAttributesW(temporary.c_str(), attributes);
  // The last comparison as close to the move as the platform allows.
  bool still = expected == nullptr || SameLook(LookAt(path), *expected);
  bool replace = expected == nullptr || expected->attributes != INVALID_FILE_ATTRIBUTES;
  if (still && MoveIntoPlace(temporary, path, replace)) return 0;
  error = still ? GetLastError() : kChangedMeanwhile;
  SetFileAttributesW(temporary.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileW(temporary.c_str());
  return error;
}

int RemoveTemporariesOf(const std::wstring& path, unsigned long process) {
  std::wstring folder = path.substr(0, path.find_last_of(L'\\') + 1);
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((TemporaryPrefix(path, process) + L"*.tmp").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  int removed = 0;
  do {
    std::wstring left = folder + found.cFileName;
    SetFileAttributesW(left.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (DeleteFileW(left.c_str())) ++removed;
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return removed;
}

PutBack PutBackChange(const Look& before, const Look& changed, const std::wstring& sideFolder) {
  PutBack result = {false, std::wstring(), std::string()};
  bool existedBefore = before.attributes != INVALID_FILE_ATTRIBUTES;
  bool existsNow = changed.attributes != INVALID_FILE_ATTRIBUTES;
  if (!SameLook(LookAt(changed.path), changed)) {
    result.text = "; it changed again since, so it is left as it is";
    return result;
  }
  if ((existedBefore && !before.content.exists) || (existsNow && !changed.content.exists)) {
    result.text = "; it could not be read, so it is left as it is";
    return result;
  }
  if (existsNow) {
    DWORD error = 0;
    result.side =
        KeepSideFile(sideFolder, L"settings-changed-by-plug-in", changed.content.bytes, &error);
    if (result.side.empty()) {
      result.text = "; what it holds now could not be kept aside (" + ErrorText(error) +
                    "), so it is left as it is";
      return result;
    }
  }
  DWORD error = 0;
  if (existedBefore) {
    error = WriteWholeFile(before.path, before.content.bytes, &before.written, before.attributes,
                           &changed);
  } else if (!SameLook(LookAt(changed.path), changed)) {
    error = kChangedMeanwhile;
  } else if (!DeleteFileW(changed.path.c_str())) {
    error = GetLastError();
  }
  result.done = error == 0;
  std::string kept =
      result.side.empty() ? "" : "; the bytes it held are kept in " + Where(result.side);
  if (result.done) {
    result.text = "; it was put back as it was before the check" + kept;
  } else if (error == kChangedMeanwhile) {
    result.text = "; it changed again meanwhile, so it is left as it is" + kept;
  } else {
    result.text = "; it could not be put back (" + ErrorText(error) + ")" + kept;
  }
  return result;
}
