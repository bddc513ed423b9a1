// The run's private folder under the user's temporary folder: the private
// settings files the plug-in is bound to and the copies of the plug-in live
// there, never among the person's own files. Its name carries the owning
// process's id and start time, so a later run can tell a folder left by a
// run that died from one of a run still going.
#pragma once

#include <string>

// The folder this process works in: the one its parent handed down, or a new
// one of its own (folders of dead runs removed first). False, with the reason
// in `error`, when none can be made.
bool UseRunFolder(std::string* error);
// "" before UseRunFolder.
std::wstring RunFolder();
// Removes the folder and its files when this process made it.
void RemoveRunFolder();
