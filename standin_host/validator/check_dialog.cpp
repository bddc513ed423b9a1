#include "standin_host/validator/check_dialog.h"

#include "standin_host/system/console.h"
#include "standin_host/validator/check_support.h"

namespace {

const char kStartFile[] =
    "[VELConfigData]\r\nenabled=1\r\nbitRate=64\r\nquality=0\r\npreprocessing=0\r\nversion=1\r\n";
// Every setting the dialog offers changed from kStartFile, by mouse and list.
const std::vector<DialogChoice> kEveryChange = {
    {DialogField::kQuality, 1}, {DialogField::kBitRate, 128}, {DialogField::kPreprocessing, 1}};
const char kChangedFile[] =
    "[VELConfigData]\r\nenabled=1\r\nbitRate=128\r\nquality=1\r\npreprocessing=1\r\nversion=1\r\n";

// Runs the road once with `script`, the settings file planted from `start`
// (null: no file); `planted` is the file as the road found it. False when
// the plug-in could not be loaded.
bool RunRoadOnFile(const Options& options, const char* start, const DialogScript& script,
                   Session* session, FileState* planted, ProblemList* problemList) {
  if (start == nullptr) {
    RemoveSettingsFile();
  } else if (!PlantSettingsFile(start, problemList)) {
    return false;
  }
  *planted = ReadFileState(SettingsFilePath());
  if (!BeginSession(options, &script, session, problemList)) return false;
  RunRoad(session);
  return true;
}

void JudgeInvoke(const Session& session, ProblemList* problemList) {
  if (session.lastInvokeStatus != STATUS_OK) {
    ReportProblem(problemList, "expected Invoke to succeed; it returned 0x%08X",
                  session.lastInvokeStatus);
  }
}

bool CheckEnding(const Options& options, DialogEnding ending) {
  ProblemList problemList = {0, 0};
  DialogScript script = {kEveryChange, ending, std::wstring()};
  Session session = {};
  FileState before;
  if (!RunRoadOnFile(options, kStartFile, script, &session, &before, &problemList)) return false;
  bool saves = ExpectedResult(ending) == IDOK;
  JudgeInvoke(session, &problemList);
  const DialogOutcome& outcome = session.host.dialogRunner.lastOutcome;
  FileState after = ReadFileState(SettingsFilePath());
  if (outcome.endingDelivered && saves && after.bytes != kChangedFile) {
    ReportProblem(&problemList, "expected the %s to store the choices (%s); the file holds %s",
                  EndingName(ending), DescribeFileSettings(kChangedFile).c_str(),
                  DescribeFileSettings(after.bytes).c_str());
  }
  if (!saves && !SameFile(before, after)) {
    ReportProblem(&problemList, "expected the %s to leave the settings file untouched; %s",
                  EndingName(ending), FileChange(before, after).c_str());
  }
  EndSession(&session, &problemList);
  return problemList.problems == 0;
}

struct ShownCase {
  const char* what;
  const char* start;  // null: no file
  std::vector<DialogChoice> choices;
};

const ShownCase kShownCases[] = {
    {"the lowest bit rate chosen, which forces mono", kStartFile, {{DialogField::kBitRate, 32}}},
    {"compression switched off, the rest greyed",
     "[VELConfigData]\r\nenabled=1\r\nbitRate=160\r\nquality=1\r\npreprocessing=1\r\nversion=1\r\n",
     {{DialogField::kEnabled, 0}}},
    {"no settings file", nullptr, {}},
    {"a hostile file: a rate the list lacks, out-of-range flags",
     "[VELConfigData]\r\nenabled=2\r\nbitRate=100\r\nquality=7\r\npreprocessing=-1\r\n",
     {}},
    {"a bit rate picked from the middle of the list, mono off",
     "[VELConfigData]\r\nenabled=1\r\nbitRate=48\r\nquality=0\r\npreprocessing=1\r\nversion=1\r\n",
     {{DialogField::kBitRate, 80}, {DialogField::kPreprocessing, 0}}},
};

void JudgeStored(const ShownCase& row, const DialogOutcome& outcome, ProblemList* problemList) {
  std::string shown;
  std::string bytes = ReadFileState(SettingsFilePath()).bytes;
  bool same = true;
  for (int field = 0; field < kDialogFieldCount; ++field) {
    std::string value;
    FileSetting(bytes, kSettingKeys[field], &value);
    int expected = outcome.shownAtEnding[field];
    shown += std::string(shown.empty() ? "" : " ") + kSettingKeys[field] + "=" +
             (expected < 0 ? std::string("(nothing shown)") : std::to_string(expected));
    if (expected < 0 || value != std::to_string(expected)) same = false;
  }
  if (!same) {
    ReportProblem(
        problemList,
        "with %s, expected the file to hold what the dialog showed at OK (%s); it holds %s",
        row.what, shown.c_str(), DescribeFileSettings(bytes).c_str());
  }
}

}  // namespace

bool CheckEndingOk(const Options& options) { return CheckEnding(options, DialogEnding::kOk); }
bool CheckEndingEnter(const Options& options) { return CheckEnding(options, DialogEnding::kEnter); }
bool CheckEndingCancel(const Options& options) {
  return CheckEnding(options, DialogEnding::kCancel);
}
bool CheckEndingEscape(const Options& options) {
  return CheckEnding(options, DialogEnding::kEscape);
}
bool CheckEndingCloseBox(const Options& options) {
  return CheckEnding(options, DialogEnding::kCloseBox);
}

bool CheckShownIsStored(const Options& options) {
  ProblemList problemList = {0, 0};
  for (const ShownCase& row : kShownCases) {
    Print("Case: %s\n", row.what);
    DialogScript script = {row.choices, DialogEnding::kOk, std::wstring()};
    Session session = {};
    FileState planted;
    if (!RunRoadOnFile(options, row.start, script, &session, &planted, &problemList)) break;
    JudgeInvoke(session, &problemList);
    const DialogOutcome& outcome = session.host.dialogRunner.lastOutcome;
    if (outcome.endingDelivered) JudgeStored(row, outcome, &problemList);
    EndSession(&session, &problemList);
  }
  return problemList.problems == 0;
}
