// A check's progress, told to the validator that runs it: one "STEP: ..."
// line a step (a plug-in call, a dialog shown, an action, a case), written at
// once, so that the validator tells a check that is slow (a desktop that
// takes a second to show each window) from one that hangs.
#pragma once

// Off by default; --progress turns it on in the checks the validator runs.
void EnableProgressSteps(bool enabled);
// printf-style; one line on standard output whatever SetReportQuiet says.
void ProgressStep(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));

// The prefix of a step's line.
extern const char kProgressStepPrefix[];
