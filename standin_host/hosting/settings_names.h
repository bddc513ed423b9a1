// File names compared as the file system compares them, for the binding of
// the plug-in's settings calls: which names are a VELCNFG.INI, and which
// name the Windows folder's own.
#pragma once

#include <string>

// `text` in the ANSI code page and back; "" for null.
std::wstring WideFromAnsi(const char* text);
// False when a character has no exact counterpart in the ANSI code page.
bool AnsiFromWide(const std::wstring& text, std::string* ansi);

// The name's last component as the file system reads it: no stream suffix
// ("::$DATA", ":$DATA"), no trailing dots or spaces.
std::wstring FinalComponent(const std::wstring& path);
// Whether `path`'s last component is VELCNFG.INI in any spelling.
bool NamesSettingsFile(const std::wstring& path);
// Whether `path` is the Windows folder's VELCNFG.INI in any spelling: case,
// either slash, \\?\ and \??\ prefixes, a stream suffix, trailing dots and
// spaces, a relative path, 8.3 short names. `bareName`: the bare
// "VELCNFG.INI" counts too, as a profile function reads it.
bool NamesWindowsSettingsFile(const std::wstring& path, bool bareName);
// The same for a path that must lead to one of `files` (full paths).
bool SameFileName(const std::wstring& path, const std::wstring& file);
