// The fixed table of the module's classes and the walker every export uses.
#pragma once

#include "module/identifiers.h"
#include "module/interface_object.h"

typedef Status(PLUGIN_CALL* InstanceCreateHook)(void* instance);
typedef void(PLUGIN_CALL* InstanceDestroyHook)(void* instance);

struct ClassEntry {
  const Guid* classId;
  uint32_t classVersion;
  uint32_t instanceSize;
  InstanceCreateHook createHook;
  InstanceDestroyHook destroyHook;
  const Guid* interfaceId;
  uint32_t interfaceVersion;
  InterfaceCreator creator;
};

constexpr int kClassCount = 2;
extern const ClassEntry ClassTable[kClassCount];

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

typedef Status (*ClassVisitor)(const Guid* classId, uint32_t classVersion, uint32_t instanceSize,
                               InstanceCreateHook createHook, InstanceDestroyHook destroyHook,
                               void* userData);
typedef Status (*InterfaceVisitor)(const Guid* classId, uint32_t classVersion,
                                   const Guid* interfaceId, uint32_t interfaceVersion,
                                   InterfaceCreator creator, void* userData);

// Visits the classes passing `filter` (every class when null); returns 0 or
// the first non-zero visitor result.
Status EnumerateClasses(const Guid* filter, ClassVisitor classVisitor,
                        InterfaceVisitor interfaceVisitor, void* userData);
