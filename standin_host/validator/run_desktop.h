// Where the checks' dialogs open. By default on desktops the run makes for
// itself, one for each check that may run at the same time: nothing the
// person does on their own desktop (a window taking the foreground and the
// keyboard focus, a click, a key) reaches or deactivates a dialog there, no
// dialog appears on their screen, and no dialog can take the foreground from
// them, nor from another check's dialog. --show-dialogs keeps them on the
// person's desktop.
#pragma once

#include <string>

// Makes a desktop of the run's own for each of `*slots` checks side by side,
// or, with `showDialogs`, leaves them on the person's. `*slots` becomes how
// many may run at once: 1 on the person's desktop, where every dialog shares
// one foreground. The report's line saying where the dialogs are.
std::string OpenRunDesktops(bool showDialogs, int* slots);
// The desktop the checks of `slot` start on, by name; "" for the person's.
std::wstring RunDesktopName(int slot);
// Lets the run's desktops go once no check runs on them.
void CloseRunDesktops();
