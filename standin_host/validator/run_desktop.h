// Where the checks' dialogs open. By default on a desktop the run makes for
// itself: nothing the person does on their own desktop (a window taking the
// foreground and the keyboard focus, a click, a key) reaches or deactivates
// a dialog there, no dialog appears on their screen, and no dialog can take
// the foreground from them. --show-dialogs keeps them on the person's desktop.
#pragma once

#include <string>

// Makes the run's desktop and has every check's process start on it, or,
// with `showDialogs`, leaves them on the person's. The report's line saying
// where the dialogs are.
std::string OpenRunDesktop(bool showDialogs);
// Lets the run's desktop go once no check runs on it.
void CloseRunDesktop();
