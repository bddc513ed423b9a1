// What the plug-in offers the host: its class and interface identifiers, the
// slot positions of its interfaces, the class-info record and the five
// exported functions' types. Both sides build on these; layouts are binary
// interface.
#pragma once

#include "host/host_interfaces.h"

// {ED521726-737B-11CE-8A1D-08000757FC90}
constexpr Guid CLSID_RegistrationClass = {
    0xED521726, 0x737B, 0x11CE, {0x8A, 0x1D, 0x08, 0x00, 0x07, 0x57, 0xFC, 0x90}};
// {AC3E7803-0002-8FE5-0000-080007160DC3}
constexpr Guid IID_RegistrationInterface = {
    0xAC3E7803, 0x0002, 0x8FE5, {0x00, 0x00, 0x08, 0x00, 0x07, 0x16, 0x0D, 0xC3}};
// {013C0256-737C-11CE-8A1D-08000757FC90}
constexpr Guid CLSID_SettingsTool = {
    0x013C0256, 0x737C, 0x11CE, {0x8A, 0x1D, 0x08, 0x00, 0x07, 0x57, 0xFC, 0x90}};
// {ACCFF6D4-0018-10D5-0000-080007FC20C1}
constexpr Guid IID_ToolInterface = {
    0xACCFF6D4, 0x0018, 0x10D5, {0x00, 0x00, 0x08, 0x00, 0x07, 0xFC, 0x20, 0xC1}};
// {00000001-0000-0000-C000-000000000046}
constexpr Guid IID_IClassFactory = {
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr Guid GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

enum RegistrationSlot : int {
  kRegistrationQueryInterface = kSlotQueryInterface,
  kRegistrationAddRef = kSlotAddRef,
  kRegistrationRelease = kSlotRelease,
  kRegistrationRegister = 3,
  kRegistrationSlotCount = 4
};

enum ToolSlot : int {
  kToolQueryInterface = kSlotQueryInterface,
  kToolAddRef = kSlotAddRef,
  kToolRelease = kSlotRelease,
  kToolInvoke = 3,
  kToolGetEnabled = 4,
  kToolSlotCount = 5
};

// The record of the class-info table handed to the host.
struct ClassInfoRecord {
  Guid classId;
  uint32_t classVersion;
  Guid interfaceId;
  uint32_t interfaceVersion;
};
static_assert(sizeof(ClassInfoRecord) == 40, "class-info record is 40 bytes");
static_assert(offsetof(ClassInfoRecord, classVersion) == 16, "classVersion at 16");
static_assert(offsetof(ClassInfoRecord, interfaceId) == 20, "interfaceId at 20");
static_assert(offsetof(ClassInfoRecord, interfaceVersion) == 36, "interfaceVersion at 36");

// Run by the host on each new instance and before freeing it.
typedef Status(PLUGIN_CALL* InstanceCreateHook)(void* instance);
typedef void(PLUGIN_CALL* InstanceDestroyHook)(void* instance);

// An interface the plug-in hands out; the host sees only its method table.
struct InterfaceObject;

typedef Status(PLUGIN_CALL* DllCanUnloadNowFn)();
typedef Status(PLUGIN_CALL* DllGetClassFormFn)(const Guid*, uint32_t*, InstanceCreateHook*,
                                               InstanceDestroyHook*);
typedef Status(PLUGIN_CALL* DllGetClassInfoFn)(HostAllocator*, ClassInfoRecord**);
typedef Status(PLUGIN_CALL* DllGetClassObjectFn)(const Guid*, const Guid*, void**);
typedef Status(PLUGIN_CALL* DllGetInterfaceFn)(HostObjectHeader*, const Guid*, const Guid*,
                                               InterfaceObject**);
