// The fixed table of the module's classes and the walker every export uses.
#pragma once

#include "plugin/module/interface_object.h"

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

// 1 when the four 32-bit words are equal, else 0.
int GuidEqual(const Guid* a, const Guid* b);
