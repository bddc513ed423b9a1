#include "plugin/settings/settings.h"

#include <windows.h>

CompressionSettings g_settings;

namespace {

int32_t ReadKey(const char* key, int32_t fallback) {
  return static_cast<int32_t>(GetPrivateProfileIntA(kProfileSection, key, fallback, kProfileFile));
}

bool WriteKey(const char* key, int32_t value) {
  char text[32];
  wsprintfA(text, "%d", value);
  return WritePrivateProfileStringA(kProfileSection, key, text, kProfileFile) != FALSE;
}

}  // namespace

int ReadSettings(CompressionSettings* settings) {
  settings->version = 1;
  settings->size = sizeof(CompressionSettings);
  settings->enabled = ReadKey("enabled", 1);
  settings->bitRate = ReadKey("bitRate", 16);
  settings->quality = ReadKey("quality", 0);
  settings->preprocessing = ReadKey("preprocessing", 1);
  return 1;
}

int WriteSettings(const CompressionSettings* settings) {
  const struct {
    const char* key;
    int32_t value;
  } keys[] = {
      {"enabled", settings->enabled}, {"bitRate", settings->bitRate},
      {"quality", settings->quality}, {"preprocessing", settings->preprocessing},
      {"version", settings->version},
  };
  bool failed = false;
  DWORD firstError = ERROR_SUCCESS;
  for (const auto& entry : keys) {
    if (WriteKey(entry.key, entry.value)) continue;
    if (!failed) firstError = GetLastError();
    failed = true;
  }
  if (!failed) return 1;
  // Later successful writes may have changed the last error; report the first.
  SetLastError(firstError);
  return 0;
}
