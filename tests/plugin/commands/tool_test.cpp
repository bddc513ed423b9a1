// The settings tool's command as the host runs it: resource scope, settings
// read, dialog through the host's service, write on OK only.
#include "plugin/commands/tool.h"

#include "host/dialog_ids.h"
#include "plugin/dialog/settings_dialog.h"
#include "tests/plugin/commands/command_fixture.h"

namespace {

constexpr char kCanonicalDefaults[] =
    "[VELConfigData]\r\nenabled=1\r\nbitRate=32\r\nquality=0\r\npreprocessing=1\r\nversion=1\r\n";

// Nothing the profile functions can read a value from.
const char kGarbage[] = "\xEF\xBB\xBF[VELConfigData\r\nbitRate\r\nenabled==0\0\xFF junk\x01";

const std::vector<std::string> kFullRun = {"OpenResourceScope", "QueryInterface(dialog)",
                                           "RunModalDialog", "Release(service)",
                                           "CloseResourceScope"};

class SettingsToolInvoke : public CommandTest {
 protected:
  SettingsToolInvoke() : CommandTest(CreateToolInterface) {}

  Status CallInvoke() {
    typedef Status(PLUGIN_CALL * InvokeFn)(InterfaceObject*);
    return MethodAt<InvokeFn>(object_, kToolInvoke)(object_);
  }

  // The scope was opened and closed once for the plug-in, with the cookie it
  // gave; the dialog ran (if it did) from the scope's instance.
  void ExpectScopeAndDialogArguments() {
    EXPECT_EQ(std::vector<void*>{dll_}, callback_.openedModules);
    ASSERT_EQ(1u, callback_.closes.size());
    EXPECT_EQ(static_cast<void*>(dll_), callback_.closes[0].module);
    EXPECT_EQ(callback_.cookie, callback_.closes[0].cookie);
    for (const host_doubles::RunRecord& run : service_.runs) {
      EXPECT_EQ(callback_.scopeInstance, run.instance);
      EXPECT_EQ(IDD_SETTINGS, run.dialogId);
      EXPECT_EQ(reinterpret_cast<DialogProcFn>(SettingsDialogProc), run.proc);
    }
  }
};

TEST_F(SettingsToolInvoke, OkWithUnchangedControlsRewritesAllFiveKeys) {
  struct Row {
    const char* name;
    std::string before;
    std::string after;
    CompressionSettings settings;
  };
  const Row rows[] = {
      {"no file", profile::kAbsent, kCanonicalDefaults, {24, 1, 1, 32, 0, 1}},
      {"values in other spellings, version 9",
       "[VELConfigData]\r\nversion=9\r\nenabled=+1\r\n"
       "bitRate=64\r\nquality=0\r\npreprocessing=0\r\n",
       "[VELConfigData]\r\nversion=1\r\nenabled=1\r\n"
       "bitRate=64\r\nquality=0\r\npreprocessing=0\r\n",
       {24, 1, 1, 64, 0, 0}},
  };
  service_.user = [](HWND dialog) { PressKey(dialog, VK_RETURN); };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    profile::SetContents(row.before);
    log_.Clear();
    callback_.openedModules.clear();
    callback_.closes.clear();

    EXPECT_EQ(STATUS_OK, CallInvoke());
    EXPECT_EQ(kFullRun, log_.events());
    EXPECT_EQ(IDOK, service_.results.back());
    ExpectScopeAndDialogArguments();
    EXPECT_EQ(row.settings, g_settings);
    EXPECT_EQ(row.after, profile::Read());
  }
}

TEST_F(SettingsToolInvoke, CancelLeavesTheFileByteForByteAndKeepsWhatWasRead) {
  struct Row {
    const char* name;
    void (*cancel)(HWND dialog);
    std::string file;
    CompressionSettings read;
  };
  const Row rows[] = {
      {"Escape, no file",
       [](HWND dialog) { PressKey(dialog, VK_ESCAPE); },
       profile::kAbsent,
       {24, 1, 1, 16, 0, 1}},
      {"Cancel button, unclamped values and other sections",
       [](HWND dialog) { ClickButton(dialog, IDCANCEL); },
       "; kept as is\r\n[Other]\r\nx=1\r\n\r\n[VELConfigData]\r\nenabled=3\r\nquality=5\r\n"
       "bitRate=100\r\nversion=4\r\n",
       {24, 1, 3, 100, 5, 1}},
      {"close box, garbage",
       [](HWND dialog) { PressCloseBox(dialog); },
       std::string(kGarbage, sizeof kGarbage - 1),
       {24, 1, 1, 16, 0, 1}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    profile::SetContents(row.file);
    log_.Clear();
    g_settings = CompressionSettings{-1, -1, -1, -1, -1, -1};
    // The user edits every control before cancelling.
    service_.user = [&row](HWND dialog) {
      SelectListEntry(dialog, IDC_BITRATE, 1);
      ClickButton(dialog, IDC_QUALITY_NORMAL);
      ClickButton(dialog, IDC_ENABLE);
      row.cancel(dialog);
    };

    EXPECT_EQ(STATUS_OK, CallInvoke());
    EXPECT_EQ(kFullRun, log_.events());
    EXPECT_EQ(IDCANCEL, service_.results.back());
    EXPECT_EQ(row.read, g_settings);
    EXPECT_EQ(row.file, profile::Read());
  }
}

TEST_F(SettingsToolInvoke, EachInvocationRereadsTheFile) {
  struct Seen {
    bool enabled;
    int bitRateIndex;
  } seen = {};
  service_.user = [&seen](HWND dialog) {
    seen.enabled = IsChecked(dialog, IDC_ENABLE);
    seen.bitRateIndex = SelectedIndex(dialog, IDC_BITRATE);
    PressKey(dialog, VK_ESCAPE);
  };
  profile::SetContents("[VELConfigData]\r\nenabled=1\r\nbitRate=64\r\n");
  EXPECT_EQ(STATUS_OK, CallInvoke());
  EXPECT_TRUE(seen.enabled);
  EXPECT_EQ(4, seen.bitRateIndex);

  // Another program edits the file between the two runs.
  WritePrivateProfileStringA(kProfileSection, "bitRate", "128", kProfileFile);
  WritePrivateProfileStringA(kProfileSection, "enabled", "0", kProfileFile);
  EXPECT_EQ(STATUS_OK, CallInvoke());
  EXPECT_FALSE(seen.enabled);
  EXPECT_EQ(1, seen.bitRateIndex);
  EXPECT_EQ(128, g_settings.bitRate);
  EXPECT_EQ(2, log_.Count("OpenResourceScope"));
  EXPECT_EQ(2, log_.Count("CloseResourceScope"));
}

TEST_F(SettingsToolInvoke, FailedServiceQueryReturnsTheHostStatusAfterClosingTheScope) {
  const std::string file = "[VELConfigData]\r\nbitRate=80\r\nquality=1\r\n";
  for (Status status : {0x80004002u, 0x80070005u, 1u}) {
    SCOPED_TRACE(status);
    profile::SetContents(file);
    log_.Clear();
    callback_.closes.clear();
    callback_.openedModules.clear();
    callback_.queryStatus = status;
    callback_.queryResult = nullptr;
    g_settings = CompressionSettings{};

    EXPECT_EQ(status, CallInvoke());
    EXPECT_EQ((std::vector<std::string>{"OpenResourceScope", "QueryInterface(dialog)",
                                        "CloseResourceScope"}),
              log_.events());
    ExpectScopeAndDialogArguments();
    EXPECT_TRUE(service_.runs.empty());
    EXPECT_EQ((CompressionSettings{24, 1, 1, 80, 1, 1}), g_settings);
    EXPECT_EQ(file, profile::Read());
  }
}

TEST_F(SettingsToolInvoke, FailedWriteAfterOkIsReportedWithTheScopeClosed) {
  const std::string file = "[VELConfigData]\r\nenabled=1\r\nbitRate=64\r\n";
  profile::SetContents(file);
  // Another process holds the file open and shares it only for reading.
  HANDLE holder = CreateFileA(profile::Path().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, holder);
  service_.user = [](HWND dialog) {
    SelectListEntry(dialog, IDC_BITRATE, 1);
    ClickButton(dialog, IDC_ENABLE);
    ClickButton(dialog, IDOK);
  };

  Status status = CallInvoke();
  CloseHandle(holder);

  EXPECT_EQ(static_cast<Status>(HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION)), status);
  EXPECT_EQ(kFullRun, log_.events());
  ExpectScopeAndDialogArguments();
  EXPECT_EQ(1, service_.releases);
  EXPECT_EQ((CompressionSettings{24, 1, 0, 128, 0, 1}), g_settings);
  EXPECT_EQ(file, profile::Read());
}

TEST_F(SettingsToolInvoke, OnlyADialogResultOfOneWrites) {
  struct Row {
    intptr_t result;
    std::string after;
  };
  // The service shows nothing here, so a write stores the settings as read;
  // the scope yields a module other than the plug-in, which the service must
  // be handed all the same.
  callback_.scopeInstance = GetModuleHandleA(nullptr);
  const Row rows[] = {
      {-1, profile::kAbsent},
      {0, profile::kAbsent},
      {IDCANCEL, profile::kAbsent},
      {IDOK,
       "[VELConfigData]\r\nenabled=1\r\nbitRate=16\r\n"
       "quality=0\r\npreprocessing=1\r\nversion=1\r\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.result);
    profile::SetContents(profile::kAbsent);
    log_.Clear();
    callback_.openedModules.clear();
    callback_.closes.clear();
    service_.fixedResult = row.result;

    EXPECT_EQ(STATUS_OK, CallInvoke());
    EXPECT_EQ(kFullRun, log_.events());
    ExpectScopeAndDialogArguments();
    EXPECT_EQ(row.after, profile::Read());
  }
}

TEST_F(SettingsToolInvoke, GetEnabledAnswersOneWhateverTheState) {
  const struct {
    const char* name;
    std::string file;
    CompressionSettings settings;
  } rows[] = {
      {"no file, settings as at load", profile::kAbsent, {}},
      {"disabled in the file and in memory",
       "[VELConfigData]\r\nenabled=0\r\n",
       {24, 1, 0, 16, 0, 1}},
      {"garbage", std::string(kGarbage, sizeof kGarbage - 1), {-1, -1, -1, -1, -1, -1}},
  };
  typedef Status(PLUGIN_CALL * GetEnabledFn)(InterfaceObject*, int32_t*);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    profile::SetContents(row.file);
    g_settings = row.settings;
    int32_t flag = 0x55555555;
    EXPECT_EQ(STATUS_OK, MethodAt<GetEnabledFn>(object_, kToolGetEnabled)(object_, &flag));
    EXPECT_EQ(1, flag);
    EXPECT_TRUE(log_.events().empty());
    EXPECT_EQ(row.file, profile::Read());
  }
}

}  // namespace
