// What the module-frame tests share: one class instance with its allocator,
// a check that each test leaves the module-wide object count as it found it,
// and the class-info table the host must receive, byte for byte.
#pragma once

#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "plugin/module/exports.h"
#include "plugin/module/interface_object.h"
#include "tests/support/host_doubles.h"

inline uint32_t CallAddRef(InterfaceObject* object) {
  return MethodAt<AddRefFn>(object, kSlotAddRef)(object);
}
inline uint32_t CallRelease(InterfaceObject* object) {
  return MethodAt<ReleaseFn>(object, kSlotRelease)(object);
}

inline std::string Hex(const void* bytes, size_t size) {
  std::string text;
  char digits[4];
  for (size_t i = 0; i < size; ++i) {
    snprintf(digits, sizeof digits, "%02X ", static_cast<const uint8_t*>(bytes)[i]);
    text += digits;
  }
  return text;
}

// The five 40-byte records of the class-info table; the terminator's version
// fields hold what the allocator filled the block with.
inline std::vector<std::string> ExpectedClassInfo(uint8_t fill) {
  const char* kRegistration = "ED521726-737B-11CE-8A1D-08000757FC90";
  const char* kSettingsTool = "013C0256-737C-11CE-8A1D-08000757FC90";
  const char* kClassFactory = "00000001-0000-0000-C000-000000000046";
  const char* kNull = "00000000-0000-0000-0000-000000000000";
  const struct {
    const char* classId;
    const char* interfaceId;
  } rows[] = {
      {kRegistration, kClassFactory},
      {kRegistration, "AC3E7803-0002-8FE5-0000-080007160DC3"},
      {kSettingsTool, kClassFactory},
      {kSettingsTool, "ACCFF6D4-0018-10D5-0000-080007FC20C1"},
      {kNull, kNull},
  };
  std::vector<std::string> records;
  for (const auto& row : rows) {
    bool terminator = row.classId == kNull;
    uint8_t version[4] = {1, 0, 0, 0};
    if (terminator) memset(version, fill, sizeof version);
    Guid classId = host_doubles::ParseGuid(row.classId);
    Guid interfaceId = host_doubles::ParseGuid(row.interfaceId);
    records.push_back(Hex(&classId, 16) + Hex(version, 4) + Hex(&interfaceId, 16) +
                      Hex(version, 4));
  }
  return records;
}

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override { liveBefore_ = LiveObjectCount; }
  void TearDown() override {
    EXPECT_EQ(liveBefore_, LiveObjectCount);
    EXPECT_EQ(owner_.addRefs, owner_.releases) << "owner references left behind";
    EXPECT_TRUE(allocator_.FreedBlocksUntouched()) << "a freed block was written";
    EXPECT_TRUE(owner_.InstanceDataUntouched());
  }

  HostAllocator* allocator() { return reinterpret_cast<HostAllocator*>(&allocator_); }

  int32_t liveBefore_ = 0;
  host_doubles::EventLog log_;
  host_doubles::CallbackDouble callback_{&log_};
  host_doubles::AllocatorDouble allocator_{&log_};
  host_doubles::OwnerInstance owner_{&log_, &callback_, &allocator_};
};
