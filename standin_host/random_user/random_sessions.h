// random_user/: a seeded random user on the real dialog; runs whole sessions on hosting/.
//
// Seeded random user sessions: each starts from a random settings file
// (valid or hostile), runs the whole road with a random user on the real
// dialog (random_actor.h), and judges the ending and its effect on the file.
// Session k depends only on the seed and k, so one failing session can be
// run again alone.
#pragma once

#include "standin_host/hosting/session.h"
#include "standin_host/records/options.h"

// Runs sessions first .. first + count - 1 of options.seed, reports each
// failure with its repro command, prints the tally and puts the settings
// file back as it was. False when the user's input could not reach the
// dialog on this computer (a CANNOT JUDGE line says why); the sessions stop
// there.
bool RunRandomSessions(Session* session, const Options& options);
