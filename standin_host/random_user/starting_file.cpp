#include "standin_host/random_user/starting_file.h"

#include <windows.h>

#include <vector>

#include "standin_host/random_user/stored_values.h"

namespace {

template <typename T, int N>
const T& Pick(SeededRandom* random, const T (&items)[N]) {
  return items[random->Below(N)];
}

std::string PlainValue(SeededRandom* random, int key) {
  if (key == 1) return std::to_string(Pick(random, kOfferedRates));
  return std::to_string(key == 4 ? 1 : random->Below(2));
}

// Printable noise without the characters that make sections, keys or
// comments, so it stays one line of garbage.
std::string Noise(SeededRandom* random) {
  static const char kChars[] = "abcXYZ0123456789 !\"#$%&'()*+,-./:<>?@^_`{|}~\t";
  std::string text;
  int length = 1 + random->Below(24);
  for (int i = 0; i < length; ++i) text += kChars[random->Below(sizeof kChars - 1)];
  if (random->Chance(20)) text += static_cast<char>(0xA1 + random->Below(0x5E));
  return text;
}

std::string HostileValue(SeededRandom* random, int key) {
  std::string plain = PlainValue(random, key);
  switch (random->Below(9)) {
    case 0:
      return "00" + plain;
    case 1:
      return "  " + plain + "  ";
    case 2:
      return std::to_string(static_cast<int>(random->Next() % 4001) - 2000);
    case 3:
      return "99999999999";
    case 4:
      return "-2147483649";
    case 5:
      return plain + "kbps";
    case 6:
      return "";
    case 7:
      return "0x" + plain;
    default:
      return Noise(random);
  }
}

std::string KeyName(SeededRandom* random, int key) {
  std::string name = kSettingKeys[key];
  if (random->Chance(10)) {
    for (char& c : name) c = static_cast<char>(c >= 'a' ? c - 32 : c);
  }
  return random->Chance(10) ? " " + name + " " : name;
}

std::string KeyLine(SeededRandom* random, int key, bool hostile) {
  std::string value =
      hostile && random->Chance(40) ? HostileValue(random, key) : PlainValue(random, key);
  return KeyName(random, key) + "=" + value;
}

std::string SectionHeader(SeededRandom* random) {
  switch (random->Below(6)) {
    case 0:
      return "[velconfigdata]";
    case 1:
      return "  [VELConfigData]  ";
    default:
      return "[VELConfigData]";
  }
}

std::string Extra(SeededRandom* random) {
  switch (random->Below(4)) {
    case 0:
      return "; " + Noise(random);
    case 1:
      return "[Other" + std::to_string(random->Below(3)) + "]\nbitRate=64\nenabled=0";
    case 2:
      return "";
    default:
      return Noise(random);
  }
}

// The featured value takes its key's place, so the file holds it as drawn.
std::vector<std::string> Lines(SeededRandom* random, bool hostile, const StoredValue& featured) {
  std::vector<std::string> lines;
  if (hostile && random->Chance(40)) lines.push_back(Extra(random));
  if (!hostile || random->Chance(90)) lines.push_back(SectionHeader(random));
  for (int key = 0; key < 5; ++key) {
    if (key == featured.key) {
      if (featured.valueClass != ValueClass::kMissing) lines.push_back(StoredLine(featured));
      continue;
    }
    if (hostile && random->Chance(20)) continue;
    lines.push_back(KeyLine(random, key, hostile));
    if (hostile && random->Chance(15)) lines.push_back(KeyLine(random, key, true));
    if (hostile && random->Chance(10)) lines.push_back(Extra(random));
  }
  if (hostile && random->Chance(30)) lines.push_back(Extra(random));
  return lines;
}

std::string LineEnd(SeededRandom* random, int style) {
  static const char* const kEnds[] = {"\r\n", "\n", "\r", "\r\r\n", "\n\r"};
  return kEnds[style < 0 ? random->Below(5) : style];
}

std::string Join(SeededRandom* random, const std::vector<std::string>& lines, bool hostile) {
  // Mostly one style per file; sometimes every line picks its own.
  int style = !hostile ? 0 : (random->Chance(25) ? -1 : random->Below(3));
  std::string bytes;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string line = lines[i];
    size_t inner = 0;
    while ((inner = line.find('\n', inner)) != std::string::npos) {
      std::string end = LineEnd(random, style);
      line.replace(inner, 1, end);
      inner += end.size();
    }
    bytes += line;
    if (i + 1 < lines.size() || !hostile || random->Chance(80)) bytes += LineEnd(random, style);
  }
  return bytes;
}

}  // namespace

StartingFile RandomStartingFile(SeededRandom* random, ValueClass featured) {
  if (featured == ValueClass::kMissing && random->Chance(25)) {
    return StartingFile{false, std::string()};
  }
  bool hostile = random->Chance(60);
  StoredValue value = DrawValue(random, random->Below(kShownKeyCount), featured);
  return StartingFile{true, Join(random, Lines(random, hostile, value), hostile)};
}

bool PutSettingsFile(const StartingFile& file) {
  if (file.present) return WriteSettingsBytes(file.bytes);
  RemoveSettingsFile();
  return GetFileAttributesW(SettingsFilePath().c_str()) == INVALID_FILE_ATTRIBUTES;
}

StartingFile ReadSettingsFile() {
  FileState state = ReadFileState(SettingsFilePath());
  return StartingFile{state.exists, state.bytes};
}
