// The audio-compression settings and the profile file they persist in.
#pragma once

#include <stdint.h>

struct CompressionSettings {
  int32_t size;
  int32_t version;
  int32_t enabled;
  int32_t bitRate;
  int32_t quality;
  int32_t preprocessing;
};
static_assert(sizeof(CompressionSettings) == 24, "six 32-bit fields");

extern CompressionSettings g_settings;

constexpr char kProfileFile[] = "VELCNFG.INI";
constexpr char kProfileSection[] = "VELConfigData";

// Fills the record from the profile file, with defaults for absent keys.
// Always returns 1.
int ReadSettings(CompressionSettings* settings);

// Writes the five keys in order, attempting every one. Returns 1 when all
// writes succeeded; 0 otherwise, with the first failure's error code as the
// thread's last error.
int WriteSettings(const CompressionSettings* settings);
