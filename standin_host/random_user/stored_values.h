// What a settings file may hold, by class, and what the dialog must make of
// it: the catalogue of stored values that the validator's stored-values check
// walks through and that random sessions draw their starting files from, the
// values the dialog must show on opening, and whether the file after OK holds
// what was shown.
#pragma once

#include <string>
#include <vector>

#include "standin_host/random_user/dialog_rules.h"
#include "standin_host/random_user/starting_file.h"

// The bit rates the dialog's list offers.
constexpr int kOfferedRates[] = {160, 128, 112, 80, 64, 56, 48, 32};

// Listed: a value the dialog offers. Unlisted: a number it does not offer.
// Extreme: -1 and the ends of the 32-bit range. Malformed: empty or text.
// Missing: no such key in the file.
enum class ValueClass { kListed, kUnlisted, kExtreme, kMalformed, kMissing };
constexpr int kValueClassCount = 5;
const char* ValueClassName(ValueClass valueClass);

// The keys the dialog shows, by DialogField.
constexpr int kShownKeyCount = 4;

struct StoredValue {
  int key;  // DialogField order: enabled, bitRate, quality, preprocessing
  ValueClass valueClass;
  std::string text;  // what follows "key=", unused when the key is missing
};

// Every catalogued value of `key`, class by class.
std::vector<StoredValue> CataloguedValues(int key);
// A value of `key` drawn from `valueClass`.
StoredValue DrawValue(SeededRandom* random, int key, ValueClass valueClass);
// The line that stores it ("bitRate=-1"), empty for a missing key.
std::string StoredLine(const StoredValue& value);

// What the dialog must show when it opens on the settings file at `path` as
// it now is: the file as the platform reads it (the plug-in's defaults for what is
// missing), in the forms the controls offer: any other rate shows as the
// lowest, which forces the mono box.
ShownValues OpeningValues(const std::wstring& path);
// How the file after OK differs from what the dialog showed; empty when it
// holds exactly that, every key in plain form.
std::string StoredDifference(const ShownValues& shown, const StartingFile& file);
