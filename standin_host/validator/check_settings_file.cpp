#include "standin_host/validator/check_settings_file.h"

#include "standin_host/system/child_process.h"
#include "standin_host/system/console.h"
#include "standin_host/validator/check_support.h"

namespace {

const char kHandWritten[] =
    "; written by hand\r\n"
    "[Other]\r\n"
    "keep=this\r\n"
    "[VELConfigData]\r\n"
    "; the user's own comment\r\n"
    "enabled = 1\r\n"
    "bitRate= 064\r\n"
    "quality =0\r\n"
    "preprocessing=  00\r\n"
    "version=001\r\n"
    "[Tail]\r\n"
    "last=1\r\n";
const std::vector<DialogChoice> kChoices = {{DialogField::kBitRate, 128},
                                            {DialogField::kQuality, 1}};
// kHandWritten after OK with kChoices: the five keys plain, in place.
const char kRewritten[] =
    "; written by hand\r\n"
    "[Other]\r\n"
    "keep=this\r\n"
    "[VELConfigData]\r\n"
    "; the user's own comment\r\n"
    "enabled=1\r\n"
    "bitRate=128\r\n"
    "quality=1\r\n"
    "preprocessing=0\r\n"
    "version=1\r\n"
    "[Tail]\r\n"
    "last=1\r\n";

// Compares the file with what it was before `step`; true when untouched.
bool Untouched(const FileState& before, const char* step, ProblemList* problemList) {
  FileState now = ReadFileState(SettingsFilePath());
  if (SameFile(before, now)) {
    Print("  Settings file untouched by %s\n", step);
    return true;
  }
  ReportProblem(problemList, "expected %s to leave the settings file untouched; %s", step,
                FileChange(before, now).c_str());
  return false;
}

// The file's text on one line, its line ends shown, for a one-line report.
std::string OneLine(const std::string& bytes) {
  std::string text;
  for (char c : bytes) {
    if (c == '\r') {
      text += "\\r";
    } else if (c == '\n') {
      text += "\\n";
    } else {
      text += c;
    }
  }
  return text;
}

void RunEnding(Session* session, DialogEnding ending, const std::vector<DialogChoice>& choices) {
  DialogScript script = {choices, ending, std::wstring()};
  RunToolsWith(session, &script);
}

const char kSaved[] =
    "[VELConfigData]\r\nenabled=1\r\nbitRate=64\r\nquality=0\r\npreprocessing=1\r\nversion=1\r\n";

// OK with changed settings while the file refuses the write; `how` names
// the refusal for the report. The file is judged by the caller once the
// refusal is lifted.
void RunRefusedOk(const Options& options, const char* how, ProblemList* problemList) {
  Print("OK while the settings file is %s\n", how);
  DialogScript script = {kChoices, DialogEnding::kOk, std::wstring()};
  Session session = {};
  if (!BeginSession(options, &script, &session, problemList)) return;
  RunRoad(&session);
  bool confirmed = session.host.dialogRunner.lastResult == IDOK;
  if (confirmed && session.lastInvokeStatus == STATUS_OK) {
    ReportProblem(problemList,
                  "expected Invoke to report a failure status when OK could not write the "
                  "settings file (%s); it returned 0, so the user is told the settings were saved",
                  how);
  }
  EndSession(&session, problemList);
}

void JudgeKept(const FileState& before, const char* how, ProblemList* problemList) {
  FileState now = ReadFileState(SettingsFilePath());
  if (SameFile(before, now)) return;
  ReportProblem(problemList, "expected the settings file (%s) to keep what it had; %s", how,
                FileChange(before, now).c_str());
}

// Another process holds the file open without sharing: a suspended copy of
// this program that inherits the only handle, so the plug-in meets the file
// as it does when another program has it open.
HANDLE StartHolder(ProblemList* problemList) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE file =
      CreateFileW(SettingsFilePath().c_str(), GENERIC_READ, 0, &inherit, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    ReportProblem(problemList, "the validator could not open the settings file (error %lu)",
                  GetLastError());
    return nullptr;
  }
  std::wstring command = Quoted(OwnProgramPath()) + L" --hold";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  BOOL started =
      CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE,
                     CREATE_SUSPENDED | DETACHED_PROCESS, nullptr, nullptr, &startup, &process);
  CloseHandle(file);
  if (!started) {
    ReportProblem(problemList, "the validator could not start the process that holds the file");
    return nullptr;
  }
  CloseHandle(process.hThread);
  return process.hProcess;
}

void StopHolder(HANDLE holder) {
  TerminateProcess(holder, 0);
  WaitForSingleObject(holder, 10000);
  CloseHandle(holder);
}

// Root under Wine writes read-only files; then the case cannot be made here.
bool ReadOnlyRefusesThisUser() {
  HANDLE file = CreateFileW(SettingsFilePath().c_str(), GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return true;
  CloseHandle(file);
  return false;
}

}  // namespace

bool CheckTouchedOnlyByOk(const Options& options) {
  ProblemList problemList = {0, 0};
  if (!PlantSettingsFile(kHandWritten, &problemList)) return false;
  FileState planted = ReadFileState(SettingsFilePath());
  DialogScript none = {{}, DialogEnding::kCancel, std::wstring()};
  Session session = {};
  if (!BeginSession(options, &none, &session, &problemList)) return false;
  Untouched(planted, "loading the plug-in", &problemList);
  RegisterAll(&session);
  Untouched(planted, "registration", &problemList);
  const DialogEnding endings[] = {DialogEnding::kCancel, DialogEnding::kEscape,
                                  DialogEnding::kCloseBox};
  for (DialogEnding ending : endings) {
    RunEnding(&session, ending, kChoices);
    Untouched(planted, (std::string("the ") + EndingName(ending)).c_str(), &problemList);
  }
  EndSession(&session, &problemList);
  Untouched(planted, "unloading the plug-in", &problemList);

  // A second load, for OK and the unloading after it.
  Session again = {};
  if (!BeginSession(options, &none, &again, &problemList)) return false;
  RegisterAll(&again);
  RunEnding(&again, DialogEnding::kOk, kChoices);
  FileState afterOk = ReadFileState(SettingsFilePath());
  if (afterOk.bytes != kRewritten) {
    ReportProblem(&problemList,
                  "expected OK to rewrite the five keys in plain form, in place, and keep the "
                  "rest of the file (%s); it holds %s",
                  OneLine(kRewritten).c_str(), OneLine(afterOk.bytes).c_str());
  }
  EndSession(&again, &problemList);
  Untouched(afterOk, "unloading the plug-in after OK", &problemList);
  return problemList.problems == 0;
}

bool CheckRefusedWrite(const Options& options) {
  ProblemList problemList = {0, 0};
  if (!PlantSettingsFile(kSaved, &problemList)) return false;
  FileState before = ReadFileState(SettingsFilePath());
  const char* locked = "held open by another process";
  HANDLE holder = StartHolder(&problemList);
  if (holder == nullptr) return false;
  RunRefusedOk(options, locked, &problemList);
  StopHolder(holder);
  JudgeKept(before, locked, &problemList);

  std::wstring path = SettingsFilePath();
  if (!PlantSettingsFile(kSaved, &problemList)) return false;
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
  if (ReadOnlyRefusesThisUser()) {
    RunRefusedOk(options, "read-only", &problemList);
    JudgeKept(before, "read-only", &problemList);
  } else {
    Note(
        "locked file only; this user may write read-only files here, as root may under Wine, so "
        "the read-only case did not run: run the validator as an ordinary user for it");
  }
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  return problemList.problems == 0;
}
