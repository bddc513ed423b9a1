#include "standin_host/validator/settings_snapshot.h"

#include <stdio.h>

#include "standin_host/hosting/run_folder.h"
#include "standin_host/system/console.h"

namespace {

std::string Where(const std::wstring& path) { return Utf8FromWide(path.c_str()); }

// One line of facts per file, then its bytes.
std::string Encode(const Look& look) {
  char facts[96];
  snprintf(facts, sizeof facts, "\t%lu\t%lu\t%lu\t%d\t%u\n", look.attributes,
           look.written.dwHighDateTime, look.written.dwLowDateTime, look.content.exists ? 1 : 0,
           static_cast<unsigned>(look.content.bytes.size()));
  return Where(look.path) + facts + look.content.bytes;
}

// False when `text` from `*at` is not a whole entry.
bool Decode(const std::string& text, size_t* at, Look* look) {
  size_t tab = text.find('\t', *at);
  size_t end = text.find('\n', *at);
  if (tab == std::string::npos || end == std::string::npos || tab > end) return false;
  unsigned long attributes = 0;
  unsigned long high = 0;
  unsigned long low = 0;
  int readable = 0;
  unsigned size = 0;
  std::string facts = text.substr(tab, end - tab);
  if (sscanf(facts.c_str(), "\t%lu\t%lu\t%lu\t%d\t%u", &attributes, &high, &low, &readable,
             &size) != 5 ||
      end + 1 + size > text.size()) {
    return false;
  }
  look->path = WideFromUtf8(text.substr(*at, tab - *at).c_str());
  look->attributes = attributes;
  look->written = FILETIME{low, high};
  look->content = FileState{readable != 0, text.substr(end + 1, size), look->written};
  *at = end + 1 + size;
  return true;
}

bool ReadSnapshot(const std::wstring& folder, std::vector<Look>* files) {
  FileState snapshot = ReadFileState(folder + L"\\" + kSnapshotFileName);
  size_t at = 0;
  while (snapshot.exists && at < snapshot.bytes.size()) {
    Look look;
    if (!Decode(snapshot.bytes, &at, &look)) return false;
    files->push_back(look);
  }
  return snapshot.exists;
}

// What a dead run's snapshot says of one file now; the bytes it saw kept
// where the file changed since.
std::string CompareWithNow(const Look& seen, const std::wstring& sideFolder, unsigned long process,
                           bool* kept) {
  Look now = LookAt(seen.path);
  std::string file = "your settings file " + Where(seen.path);
  if (RemoveTemporariesOf(seen.path, process) > 0) {
    file += " (the half-made copy it left beside it is removed)";
  }
  if (SameLook(seen, now)) return "left " + file + " as it found it";
  std::string text = "found " + file + " changed since (" + LookChange(seen, now) + ")";
  if (seen.attributes == INVALID_FILE_ATTRIBUTES || !seen.content.exists) {
    return text + "; it is left as it is";
  }
  DWORD error = 0;
  std::wstring side =
      KeepSideFile(sideFolder, L"settings-seen-by-unfinished-run", seen.content.bytes, &error);
  if (side.empty()) {
    *kept = false;
    return text + "; the bytes that run saw could not be kept (Windows error " +
           std::to_string(error) + "), so its folder stays; the file is left as it is";
  }
  return text + "; the bytes that run saw are kept in " + Where(side) +
         "; the file is left as it is";
}

}  // namespace

bool WriteSnapshot(const std::vector<Look>& files) {
  std::string bytes;
  for (const Look& look : files) bytes += Encode(look);
  return WriteWholeFile(RunFolder() + L"\\" + kSnapshotFileName, bytes, nullptr,
                        FILE_ATTRIBUTE_NORMAL, nullptr) == 0;
}

std::vector<std::string> LookAtDeadRuns(const std::wstring& sideFolder) {
  const char kRun[] = "A validator run that ended without finishing (folder ";
  std::vector<std::string> lines;
  for (const std::wstring& folder : DeadRunsFound().removed) {
    lines.push_back(kRun + Where(folder) +
                    ") had not yet looked at your settings file; its folder is removed");
  }
  for (const std::wstring& folder : DeadRunsFound().kept) {
    std::vector<Look> files;
    if (!ReadSnapshot(folder, &files)) {
      lines.push_back(kRun + Where(folder) +
                      ") left a snapshot that cannot be read; its folder stays");
      continue;
    }
    bool kept = true;
    std::string found;
    unsigned long process = 0;
    size_t name = folder.find_last_of(L'\\') + 1;
    swscanf(folder.c_str() + name, L"plugin-validator-run-%lu", &process);
    for (const Look& seen : files) {
      found += (found.empty() ? "" : ", and ") + CompareWithNow(seen, sideFolder, process, &kept);
    }
    if (kept) kept = RemoveDeadRunFolder(folder);
    lines.push_back(kRun + Where(folder) + ") " + found +
                    (kept ? "" : "; its folder could not all be removed"));
  }
  return lines;
}
