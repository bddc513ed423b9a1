// The registration method: one entry naming the settings tool, with the
// display name as LoadStringA gives it in the system's ANSI code page.
#include "plugin/commands/registration.h"

#include <stdlib.h>

#include "host/dialog_ids.h"
#include "tests/plugin/commands/command_fixture.h"

namespace {

using host_doubles::DictionaryDouble;
using host_doubles::GuidText;
using host_doubles::ParseGuid;
using host_doubles::RegistryDouble;

constexpr uint32_t kEntryValue = 0xC0FFEE42u;
const wchar_t kDisplayNameText[] = L"Quorvane for Audio \u8A2D\u5B9A...";

// String 1 as LoadStringA delivers it in the code pages the module is run in.
std::string ExpectedDisplayName() {
  switch (GetACP()) {
    case 932:
      return "Quorvane for Audio \x90\xDD\x92\xE8...";
    case 1252:
      return "Quorvane for Audio ??...";
    default:
      ADD_FAILURE() << "no expectation for code page " << GetACP();
      return "";
  }
}

std::string LoadedString(HMODULE module) {
  char buffer[256];
  int length = LoadStringA(module, IDS_DISPLAY_NAME, buffer, sizeof buffer);
  return std::string(buffer, length > 0 ? length : 0);
}

std::string AnsiOf(const wchar_t* text) {
  char buffer[256];
  int length = WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, sizeof buffer, nullptr, nullptr);
  return length > 0 ? std::string(buffer, length - 1) : std::string();
}

// A copy of the plug-in whose string 1 says `name`, so a name loaded from the
// wrong module shows.
HMODULE LoadCopyNamed(const wchar_t* name, const std::string& path) {
  if (!CopyFileA(PLUGIN_DLL_PATH, path.c_str(), FALSE)) return nullptr;
  // String block 1 holds strings 0 to 15, each a length and its UTF-16 text.
  std::vector<WORD> block(16, 0);
  size_t length = wcslen(name);
  block[1] = static_cast<WORD>(length);
  block.insert(block.begin() + 2, name, name + length);
  HANDLE update = BeginUpdateResourceA(path.c_str(), FALSE);
  if (update == nullptr) return nullptr;
  if (!UpdateResourceA(update, RT_STRING, MAKEINTRESOURCEA(1),
                       MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT), block.data(),
                       static_cast<DWORD>(block.size() * sizeof(WORD))) ||
      !EndUpdateResourceA(update, FALSE)) {
    return nullptr;
  }
  return LoadLibraryA(path.c_str());
}

class ToolRegistration : public CommandTest {
 protected:
  ToolRegistration() : CommandTest(CreateRegistrationInterface) {}

  Status CallRegister() {
    typedef Status(PLUGIN_CALL * RegisterFn)(InterfaceObject*, HostRegistry*, uint32_t);
    return MethodAt<RegisterFn>(object_, kRegistrationRegister)(
        object_, reinterpret_cast<HostRegistry*>(&registry_), kEntryValue);
  }

  std::string PublishedName() {
    return dictionary_.puts.empty() ? std::string("<none>") : dictionary_.puts[0].value;
  }

  DictionaryDouble dictionary_{&log_};
  RegistryDouble registry_{&log_, &dictionary_};
};

TEST_F(ToolRegistration, PublishesOneEntryAfterClosingTheScope) {
  EXPECT_EQ(STATUS_OK, CallRegister());

  EXPECT_EQ((std::vector<std::string>{"OpenResourceScope", "CloseResourceScope", "AddEntry",
                                      "PutValue(displayNameString)", "PutValue(alwaysEnabled)"}),
            log_.events());
  EXPECT_EQ(std::vector<void*>{dll_}, callback_.openedModules);
  ASSERT_EQ(1u, callback_.closes.size());
  EXPECT_EQ(static_cast<void*>(dll_), callback_.closes[0].module);
  EXPECT_EQ(callback_.cookie, callback_.closes[0].cookie);

  ASSERT_EQ(1u, registry_.entries.size());
  EXPECT_EQ(kEntryValue, registry_.entries[0].entryValue);
  EXPECT_EQ(GuidText(ParseGuid("013C0256-737C-11CE-8A1D-08000757FC90")),
            GuidText(registry_.entries[0].classId));
  EXPECT_EQ(GuidText(ParseGuid("ACCFF6D4-0018-10D5-0000-080007FC20C1")),
            GuidText(registry_.entries[0].interfaceId));

  ASSERT_EQ(2u, dictionary_.puts.size());
  EXPECT_EQ(9u, dictionary_.puts[0].type);
  EXPECT_EQ(ExpectedDisplayName(), dictionary_.puts[0].value);
  EXPECT_EQ(0u, dictionary_.puts[0].reserved);
  EXPECT_EQ("displayNameString", dictionary_.puts[0].key);
  EXPECT_EQ(3u, dictionary_.puts[1].type);
  EXPECT_EQ(std::string("\x01\0\0\0", 4), dictionary_.puts[1].value);
  EXPECT_EQ(0u, dictionary_.puts[1].reserved);
  EXPECT_EQ("alwaysEnabled", dictionary_.puts[1].key);
  // The dictionary is the host's: never released (an unexpected Release
  // would show in the log above).
}

TEST_F(ToolRegistration, HostFailuresAreReturnedAndEndTheRegistration) {
  const struct {
    const char* name;
    Status addStatus;
    const char* failKey;
    Status status;
    std::vector<std::string> lastCalls;
  } rows[] = {
      {"AddEntry refused", 0x8007000Eu, "", 0x8007000Eu, {"AddEntry"}},
      {"displayNameString refused",
       STATUS_OK,
       "displayNameString",
       0x80070005u,
       {"AddEntry", "PutValue(displayNameString)"}},
      {"alwaysEnabled refused",
       STATUS_OK,
       "alwaysEnabled",
       0x80004005u,
       {"AddEntry", "PutValue(displayNameString)", "PutValue(alwaysEnabled)"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    log_.Clear();
    registry_.addStatus = row.addStatus;
    dictionary_.failKey = row.failKey;
    dictionary_.failStatus = row.status;

    EXPECT_EQ(row.status, CallRegister());
    std::vector<std::string> expected = {"OpenResourceScope", "CloseResourceScope"};
    expected.insert(expected.end(), row.lastCalls.begin(), row.lastCalls.end());
    EXPECT_EQ(expected, log_.events());
  }
}

// Run once per code page (see CMakeLists.txt); the expected one is given by
// EXPECTED_ACP.
TEST_F(ToolRegistration, RunsInTheExpectedCodePage) {
  const char* expected = getenv("EXPECTED_ACP");
  if (expected == nullptr) GTEST_SKIP() << "EXPECTED_ACP not set";
  EXPECT_EQ(static_cast<UINT>(atoi(expected)), GetACP());
}

TEST_F(ToolRegistration, DisplayNameIsAllOfStringOneInTheAnsiCodePage) {
  EXPECT_EQ(STATUS_OK, CallRegister());
  EXPECT_EQ(ExpectedDisplayName(), PublishedName());
  EXPECT_EQ(LoadedString(dll_), PublishedName());
}

TEST_F(ToolRegistration, DisplayNameComesFromTheScopesInstance) {
  char folder[MAX_PATH];
  GetTempPathA(MAX_PATH, folder);
  const std::string path = std::string(folder) + "VELSCOPE.QVX";
  HMODULE copy = LoadCopyNamed(L"Name in the scope's module", path);
  ASSERT_NE(nullptr, copy);
  callback_.scopeInstance = copy;

  EXPECT_EQ(STATUS_OK, CallRegister());
  EXPECT_EQ("Name in the scope's module", PublishedName());
  EXPECT_EQ(std::vector<void*>{dll_}, callback_.openedModules);
  FreeLibrary(copy);
  DeleteFileA(path.c_str());
}

TEST_F(ToolRegistration, MissingStringOneFallsBackToTheSameName) {
  // This test program has no string resources.
  HMODULE withoutStrings = GetModuleHandleA(nullptr);
  ASSERT_EQ("", LoadedString(withoutStrings));
  callback_.scopeInstance = withoutStrings;

  EXPECT_EQ(STATUS_OK, CallRegister());
  EXPECT_EQ(ExpectedDisplayName(), PublishedName());
  EXPECT_EQ(AnsiOf(kDisplayNameText), PublishedName());
  EXPECT_EQ(LoadedString(dll_), PublishedName());
}

}  // namespace
