#include "standin_host/random_user/stored_values.h"

#include "standin_host/system/console.h"
#include "standin_host/user/scripted_dialog.h"

namespace {

// Not offered: every other multiple of 8 up to 320 and a few numbers
// between them.
std::vector<int> UnlistedRates() {
  std::vector<int> rates;
  for (int rate = 0; rate <= 320; rate += 8) {
    bool offered = false;
    for (int listed : kOfferedRates) offered = offered || listed == rate;
    if (!offered) rates.push_back(rate);
  }
  for (int rate : {33, 100, 129}) rates.push_back(rate);
  return rates;
}

void Add(std::vector<StoredValue>* values, int key, ValueClass valueClass,
         const std::vector<std::string>& texts) {
  for (const std::string& text : texts) values->push_back(StoredValue{key, valueClass, text});
}

std::vector<std::string> Texts(const std::vector<int>& numbers) {
  std::vector<std::string> texts;
  texts.reserve(numbers.size());
  for (int number : numbers) texts.push_back(std::to_string(number));
  return texts;
}

bool IsBitRate(int key) { return key == static_cast<int>(DialogField::kBitRate); }

int ReadSetting(const std::wstring& path, const wchar_t* key, int fallback) {
  return static_cast<int>(GetPrivateProfileIntW(L"VELConfigData", key, fallback, path.c_str()));
}

struct StoredKey {
  const char* name;
  int value;
};

std::string Trimmed(const std::string& text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// A line `key=value` in the settings section with the value in plain form
// (no sign, no leading zeros, nothing after it). Section and key are matched
// as the platform matches them, in any case; blanks around key and value are
// allowed because the platform's writer keeps a line whose value already
// reads the same.
bool HasPlainLine(const std::string& bytes, const std::string& key, const std::string& value) {
  size_t start = 0;
  bool inSection = false;
  while (start <= bytes.size()) {
    size_t end = bytes.find_first_of("\r\n", start);
    if (end == std::string::npos) end = bytes.size();
    std::string line = Trimmed(bytes.substr(start, end - start));
    if (!line.empty() && line[0] == '[')
      inSection = lstrcmpiA(line.c_str(), "[VELConfigData]") == 0;
    size_t equals = line.find('=');
    if (inSection && equals != std::string::npos &&
        lstrcmpiA(Trimmed(line.substr(0, equals)).c_str(), key.c_str()) == 0 &&
        Trimmed(line.substr(equals + 1)) == value) {
      return true;
    }
    start = end + 1;
  }
  return false;
}

}  // namespace

const char* ValueClassName(ValueClass valueClass) {
  static const char* const kNames[] = {"listed", "unlisted", "extreme", "malformed", "missing"};
  return kNames[static_cast<int>(valueClass)];
}

std::vector<StoredValue> CataloguedValues(int key) {
  std::vector<StoredValue> values;
  if (IsBitRate(key)) {
    Add(&values, key, ValueClass::kListed,
        Texts(std::vector<int>(std::begin(kOfferedRates), std::end(kOfferedRates))));
    Add(&values, key, ValueClass::kUnlisted, Texts(UnlistedRates()));
    Add(&values, key, ValueClass::kExtreme, {"-1", "2147483647", "-2147483648", "4294967295"});
  } else {
    Add(&values, key, ValueClass::kListed, {"0", "1"});
    Add(&values, key, ValueClass::kUnlisted, {"2"});
    Add(&values, key, ValueClass::kExtreme, {"-1", "2147483647", "-2147483648"});
  }
  Add(&values, key, ValueClass::kMalformed, {"", IsBitRate(key) ? "fast" : "yes"});
  Add(&values, key, ValueClass::kMissing, {""});
  return values;
}

StoredValue DrawValue(SeededRandom* random, int key, ValueClass valueClass) {
  std::vector<StoredValue> candidates;
  for (const StoredValue& value : CataloguedValues(key)) {
    if (value.valueClass == valueClass) candidates.push_back(value);
  }
  return candidates[random->Below(static_cast<int>(candidates.size()))];
}

std::string StoredLine(const StoredValue& value) {
  if (value.valueClass == ValueClass::kMissing) return std::string();
  return std::string(kSettingKeys[value.key]) + "=" + value.text;
}

ShownValues OpeningValues(const std::wstring& path) {
  ShownValues values;
  values.enabled = ReadSetting(path, L"enabled", 1) != 0 ? 1 : 0;
  int rate = ReadSetting(path, L"bitRate", 16);
  values.bitRate = kLowestRate;
  for (int offered : kOfferedRates) {
    if (offered == rate) values.bitRate = rate;
  }
  values.quality = ReadSetting(path, L"quality", 0) != 0 ? 1 : 0;
  values.preprocessing =
      ReadSetting(path, L"preprocessing", 1) != 0 || values.bitRate == kLowestRate ? 1 : 0;
  return values;
}

std::string StoredDifference(const ShownValues& shown, const StartingFile& file) {
  if (!file.present) return "there is no settings file after OK";
  const StoredKey keys[] = {{"enabled", shown.enabled},
                            {"bitRate", shown.bitRate},
                            {"quality", shown.quality},
                            {"preprocessing", shown.preprocessing},
                            {"version", 1}};
  std::wstring path = SettingsFilePath();
  for (const StoredKey& key : keys) {
    std::string expected = std::to_string(key.value);
    wchar_t text[64] = {};
    GetPrivateProfileStringW(L"VELConfigData", WideFromUtf8(key.name).c_str(), L"(absent)", text,
                             64, path.c_str());
    std::string stored = Utf8FromWide(text);
    if (stored != expected) {
      std::string failure = std::string("after OK the file reads ") + key.name + "=" + stored;
      failure += ", the dialog showed " + expected;
      return failure;
    }
    if (!HasPlainLine(file.bytes, key.name, expected)) {
      return std::string("after OK the file has no plain line ") + key.name + "=" + expected;
    }
  }
  return std::string();
}
