// Settings files a session starts from: valid, or hostile in the ways files
// on users' machines are (absent, keys missing or repeated, values out of
// range, padded or garbled, odd line ends, other sections and comments).
#pragma once

#include <string>

#include "standin_host/hosting/settings_file.h"
#include "standin_host/random_user/seeded_random.h"

struct StartingFile {
  bool present;
  std::string bytes;
};

enum class ValueClass;

// One of the shown keys holds a value of `featured` (stored_values.h); a
// missing one is sometimes the whole file missing.
StartingFile RandomStartingFile(SeededRandom* random, ValueClass featured);

// Replaces the file with `file`, or deletes it; false when that fails.
bool PutSettingsFile(const StartingFile& file);
StartingFile ReadSettingsFile();
